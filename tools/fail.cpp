// One-line failures of the `vellora` subcommands.
#include "tools/fail.h"

#include <sys/stat.h>

#include <cstdio>

#include "hosts/linux/terminal_text.h"

namespace vellora::cli {

namespace fs = std::filesystem;

int fail(const std::string& what, const std::string& reason) { return fail(what + ": " + reason); }

int fail(const std::string& reason_naming_the_file) {
  std::fprintf(stderr, "vellora: %s\n", linux_host::terminal_safe(reason_naming_the_file).c_str());
  return 1;
}

bool is_same_file(const fs::path& input, const fs::path& output) {
  struct stat in {
  }, out{};
  return ::stat(input.c_str(), &in) == 0 && ::stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
         in.st_ino == out.st_ino;
}

int fail_same_file(const fs::path& input, const fs::path& output) {
  return fail(input.string() + " and " + output.string() + " are the same file; name another file to write");
}

}  // namespace vellora::cli
