// The last step of every command that writes a file: the finished file,
// written beside the output, is renamed over it. A file replaced so keeps
// its permission bits, as one rewritten in place would; a new one keeps
// those it was created with, 0666 less the umask.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace vellora::cli {

inline void rename_over_output(const std::filesystem::path& finished, const std::filesystem::path& output,
                               std::error_code& error) {
  error.clear();
  struct stat existing {};
  if (::stat(output.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
      ::chmod(finished.c_str(), existing.st_mode & 07777) != 0) {
    error = std::error_code(errno, std::generic_category());
    return;
  }
  std::filesystem::rename(finished, output, error);
}

}  // namespace vellora::cli
