// A private folder, removed with everything in it when done.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

namespace vellora::cli {

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::filesystem::path& parent) {
    std::string pattern = (parent / ".vellora-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    else error_ = errno;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  explicit operator bool() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  std::string error() const { return std::generic_category().message(error_); }

 private:
  std::filesystem::path path_;
  int error_ = 0;
};

}  // namespace vellora::cli
