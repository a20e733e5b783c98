// Portable file opening and durable closing for the core; see files.h.
#include "base/files.h"

#include <cerrno>
#include <string>
#include <system_error>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vellora {

#ifdef _WIN32
// A character the ANSI code page lacks becomes its default character, as
// the system's own narrow calls give it; such a name then opens nothing
// and its file is reported, never mistaken for another.
std::filesystem::path host_path(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int wide_size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), wide_size);
  return std::filesystem::path(std::move(wide));
}

std::string host_text(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int narrow_size = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(narrow_size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, narrow.data(), narrow_size, nullptr, nullptr);
  return narrow;
}
#else
std::filesystem::path host_path(std::string_view text) { return std::filesystem::path(text); }
std::string host_text(const std::filesystem::path& path) { return path.native(); }
#endif

std::string_view special_file_kind(std::filesystem::file_type type) {
  using std::filesystem::file_type;
  switch (type) {
    case file_type::symlink:
      return "a symbolic link";
    case file_type::fifo:
      return "a FIFO";
    case file_type::character:
      return "a character device";
    case file_type::block:
      return "a block device";
    case file_type::socket:
      return "a socket";
    default:
      return {};
  }
}

UniqueFile open_file(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  std::wstring wide_mode;
  for (const char* c = mode; *c != '\0'; ++c) wide_mode.push_back(static_cast<wchar_t>(*c));
  return UniqueFile(::_wfopen(path.c_str(), wide_mode.c_str()));
#else
  return UniqueFile(std::fopen(path.c_str(), mode));
#endif
}

bool close_written_file(UniqueFile& file) {
  bool ok = std::fflush(file.get()) == 0;
#ifdef _WIN32
  ok = ok && ::_commit(::_fileno(file.get())) == 0;
#else
  ok = ok && ::fsync(::fileno(file.get())) == 0;
#endif
  const int error = errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!ok) errno = error;
  return ok && closed;
}

bool flush_folder(const std::filesystem::path& folder) {
#ifdef _WIN32
  // NTFS journals its folder entries; there is no folder handle to flush.
  (void)folder;
  return true;
#else
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
#endif
}

bool flush_files(const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder) {
  if (files.empty()) return true;
#ifdef __linux__
  // One flush of the file system writes every file out and commits their
  // folder entries together, where a flush per file would commit once for
  // each. It waits for other programs' writes to that file system too.
  if (files.size() > 1) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      const bool synced = ::syncfs(fd) == 0;
      ::close(fd);
      if (synced) return true;
    }
  }
#endif
  for (const auto& file : files) {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, error))) continue;
    // Opened for writing: Windows flushes only through a handle that may write.
    UniqueFile opened = open_file(file, "r+b");
    if (!opened || !close_written_file(opened)) return false;
  }
  return flush_folder(folder);
}

}  // namespace vellora
