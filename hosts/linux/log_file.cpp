// LogFile: appends HotSync log entries to a text file.
#include "hosts/linux/log_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "hosts/linux/posix_io.h"

namespace vellora::linux_host {

std::string log_line(std::time_t when, std::string_view text, std::int32_t activity) {
  std::tm local{};
  char stamp[32] = "0000-00-00 00:00:00";
  if (::localtime_r(&when, &local) != nullptr) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::string line = std::string(stamp) + '\t' + std::to_string(activity) + '\t';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    line += (byte < 0x20 || byte == 0x7F) ? ' ' : c;
  }
  return line + '\n';
}

LogFile::LogFile(std::filesystem::path path) : path_(std::move(path)) {}

void LogFile::add_entry(std::string_view text, std::int32_t activity) {
  const std::string line = log_line(std::time(nullptr), text, activity);
  if (path_.has_parent_path()) {
    std::error_code ec;
    std::filesystem::create_directories(path_.parent_path(), ec);
    if (ec) {
      last_error_ = path_.parent_path().string() + ": cannot create folder: " + ec.message();
      return;
    }
  }
  UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
  if (!fd.is_open()) {
    last_error_ = path_.string() + ": cannot open: " + std::strerror(errno);
    return;
  }
  int error = write_fully(fd.get(), line) ? 0 : errno;
  if (!fd.close() && error == 0) error = errno;
  if (error != 0) last_error_ = path_.string() + ": cannot write: " + std::strerror(error);
}

}  // namespace vellora::linux_host
