// File plumbing on POSIX calls, each retried where a signal can cut it
// short.
#include "hosts/linux/posix_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

#include "base/files.h"

namespace vellora::linux_host {

namespace {

// A read or write call, made again for as long as a signal interrupts it.
template <typename Call>
long retried(Call call) {
  for (;;) {
    const ssize_t n = call();
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

// Calls `transfer_from(done)` until `size_bytes` have gone or a call moves
// nothing (the end of a file read): the count moved, or -1 with errno set.
template <typename Transfer>
long transfer_fully(std::size_t size_bytes, Transfer transfer_from) {
  std::size_t done = 0;
  while (done < size_bytes) {
    const long n = transfer_from(done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

// Creates the file named by `name`, whose last six characters are
// replaced, as mkostemp does but with `permissions` less the umask rather
// than 0600: the kernel applies the umask at creation, where reading it
// from a thread would race with other threads. Fails with errno set.
UniqueFd create_unique_file(std::string& name, mode_t permissions) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::atomic<std::uint64_t> calls{0};
  constexpr std::size_t kUniqueChars = 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
      random = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (static_cast<std::uint64_t>(::getpid()) << 32) ^ (++calls * 0x9E3779B97F4A7C15u);
    for (std::size_t i = name.size() - kUniqueChars; i < name.size(); ++i, random /= sizeof kChars - 1)
      name[i] = kChars[random % (sizeof kChars - 1)];
    UniqueFd fd(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions));
    if (fd.is_open() || errno != EEXIST) return fd;
  }
  return UniqueFd();  // errno is EEXIST
}

// Moves the finished temporary file to `path` without replacing anything:
// 0, or the errno that stopped it.
int rename_no_replace(const std::string& from, const std::filesystem::path& path) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // The file system cannot refuse to replace: check first and accept the
  // small window, which the session lock covers for conduit writes.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), path.c_str()) == 0 ? 0 : errno;
}

}  // namespace

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool UniqueFd::close() {
  if (fd_ < 0) return true;
  return ::close(release()) == 0;
}

long read_once(int fd, std::span<std::uint8_t> out) {
  return retried([&] { return ::read(fd, out.data(), out.size()); });
}

long read_fully(int fd, std::span<std::uint8_t> out) {
  return transfer_fully(out.size(), [&](std::size_t done) { return read_once(fd, out.subspan(done)); });
}

long pread_fully(int fd, std::span<std::uint8_t> out, std::uint64_t at) {
  return transfer_fully(out.size(), [&](std::size_t done) {
    return retried([&] { return ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(at + done)); });
  });
}

bool write_fully(int fd, std::span<const std::uint8_t> bytes) {
  const long written = transfer_fully(bytes.size(), [&](std::size_t done) {
    return retried([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
  });
  if (written < 0) return false;
  // A write that takes nothing ends the transfer without an errno.
  if (static_cast<std::size_t>(written) < bytes.size()) errno = EIO;
  return static_cast<std::size_t>(written) == bytes.size();
}

bool write_fully(int fd, std::string_view text) {
  return write_fully(fd, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

SmallFileResult read_small_regular_file(const std::filesystem::path& path, std::size_t max_bytes, std::string& text) {
  using Failure = SmallFileResult::Failure;
  const auto failed = [](Failure failure, int error) {
    return SmallFileResult{.failure = failure, .error = error, .size_bytes = 0};
  };
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.is_open()) return failed(Failure::cannot_open, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return failed(Failure::cannot_stat, errno);
  if (!S_ISREG(st.st_mode)) return failed(Failure::not_regular, 0);
  if (static_cast<std::uint64_t>(st.st_size) > max_bytes)
    return SmallFileResult{
        .failure = Failure::too_large, .error = 0, .size_bytes = static_cast<std::uint64_t>(st.st_size)};
  const std::size_t start_bytes = text.size();
  std::uint8_t chunk[4096];
  for (;;) {
    const long got = read_once(fd.get(), chunk);
    if (got < 0) return failed(Failure::cannot_read, errno);
    if (got == 0) return {};
    // One byte past the limit is enough to refuse the file.
    if (text.size() - start_bytes + static_cast<std::size_t>(got) > max_bytes)
      return failed(Failure::grew_too_large, 0);
    text.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(got));
  }
}

AtomicWriteResult write_file_atomically(const std::filesystem::path& path, std::string_view temp_prefix,
                                        std::span<const std::span<const std::uint8_t>> parts, RenameMode mode,
                                        bool flushes_now) {
  using Failure = AtomicWriteResult::Failure;
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::string temp = (folder / (std::string(temp_prefix) + "XXXXXX")).string();
  const UniqueFd fd = create_unique_file(temp, kNewFilePermissions);
  if (!fd.is_open()) return AtomicWriteResult{.failure = Failure::cannot_create_temp, .error = errno};
  (void)::flock(fd.get(), LOCK_EX);

  const auto fail = [&](Failure failure, int error) {
    ::unlink(temp.c_str());
    return AtomicWriteResult{.failure = failure, .error = error};
  };
  // A replaced file keeps its permissions; a new one has what the umask
  // left of kNewFilePermissions since its creation.
  struct stat existing {};
  if (mode == RenameMode::replace && ::stat(path.c_str(), &existing) == 0 &&
      ::fchmod(fd.get(), existing.st_mode & 07777) != 0)
    return fail(Failure::cannot_set_permissions, errno);
  for (const auto part : parts)
    if (!write_fully(fd.get(), part)) return fail(Failure::cannot_write, errno);
  if (flushes_now && ::fsync(fd.get()) != 0) return fail(Failure::cannot_flush, errno);

  if (mode == RenameMode::replace) {
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail(Failure::cannot_rename, errno);
  } else if (const int error = rename_no_replace(temp, path); error != 0) {
    return fail(error == EEXIST ? Failure::exists : Failure::cannot_rename, error);
  }
  // Some file systems cannot flush a folder; the rename is atomic all the same.
  if (flushes_now) static_cast<void>(flush_folder(folder));
  return {};
}

void remove_stale_temp_files(const std::filesystem::path& folder, std::string_view temp_prefix) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const auto path = it->path();
    if (!path.filename().string().starts_with(temp_prefix)) continue;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.is_open()) continue;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) ::unlink(path.c_str());
  }
}

}  // namespace vellora::linux_host
