// Portable file opening and durable closing for the core; see files.h.
#include "base/files.h"

#include <cerrno>
#include <string>
#include <system_error>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vellora {

std::string errno_text(int error) { return std::generic_category().message(error); }

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
    case file_type::symlink: return "a symbolic link";
    case file_type::fifo: return "a FIFO";
    case file_type::character: return "a character device";
    case file_type::block: return "a block device";
    case file_type::socket: return "a socket";
    default: return {};
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

#ifdef _WIN32
namespace {

std::int64_t file_time_ns(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 100;
}

bool stamp_handle(HANDLE handle, FileStamp& out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &info)) {
    errno = EIO;
    return false;
  }
  out.device = info.dwVolumeSerialNumber;
  out.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  out.size_bytes = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  out.modified_ns = file_time_ns(info.ftLastWriteTime);
  out.changed_ns = 0;
  out.is_regular = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                   ::GetFileType(handle) == FILE_TYPE_DISK;
  return true;
}

}  // namespace

bool stamp_entry(const std::filesystem::path& path, FileStamp& out) {
  // Opened for its attributes alone, on the link itself rather than its
  // target, and shared so that nobody else's open is disturbed.
  const HANDLE handle =
      ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return false;
  }
  const bool ok = stamp_handle(handle, out);
  ::CloseHandle(handle);
  return ok;
}

bool stamp_open_file(std::FILE* file, FileStamp& out) {
  return stamp_handle(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file))), out);
}

UniqueFile open_regular_file(const std::filesystem::path& path, FileStamp& stamp) {
  UniqueFile file = open_file(path, "rb");
  if (!file) return file;
  if (!stamp_open_file(file.get(), stamp)) return {};
  if (!stamp.is_regular) {
    file.reset();
    errno = EINVAL;
  }
  return file;
}

UniqueFile create_new_file(const std::filesystem::path& path) {
  const int fd = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return {};
  std::FILE* file = ::_fdopen(fd, "wb");
  if (file == nullptr) ::_close(fd);
  return UniqueFile(file);
}
#else
namespace {

std::int64_t time_ns(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileStamp stamp_from(const struct stat& st) {
  FileStamp stamp;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size_bytes = static_cast<std::uint64_t>(st.st_size);
  stamp.modified_ns = time_ns(st.st_mtim);
  stamp.changed_ns = time_ns(st.st_ctim);
  stamp.is_regular = S_ISREG(st.st_mode);
  return stamp;
}

UniqueFile file_from_fd(int fd, const char* mode) {
  std::FILE* file = ::fdopen(fd, mode);
  if (file == nullptr) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return UniqueFile(file);
}

}  // namespace

bool stamp_entry(const std::filesystem::path& path, FileStamp& out) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  out = stamp_from(st);
  return true;
}

bool stamp_open_file(std::FILE* file, FileStamp& out) {
  struct stat st {};
  if (::fstat(::fileno(file), &st) != 0) return false;
  out = stamp_from(st);
  return true;
}

UniqueFile open_regular_file(const std::filesystem::path& path, FileStamp& stamp) {
  // O_NONBLOCK lets a FIFO open without a writer, to be refused below; a
  // regular file reads the same with it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  const bool is_stated = ::fstat(fd, &st) == 0;
  if (!is_stated || !S_ISREG(st.st_mode)) {
    const int error = is_stated ? EINVAL : errno;
    ::close(fd);
    errno = error;
    return {};
  }
  stamp = stamp_from(st);
  return file_from_fd(fd, "rb");
}

UniqueFile create_new_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return {};
  return file_from_fd(fd, "wb");
}
#endif

bool flush_and_close(UniqueFile& file) {
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
    if (!opened || !flush_and_close(opened)) return false;
  }
  return flush_folder(folder);
}

}  // namespace vellora
