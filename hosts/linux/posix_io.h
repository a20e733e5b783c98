// The Linux host's file plumbing: descriptors that close themselves, reads
// and writes that survive signals and short transfers, small settings files
// read without trusting the path, and files replaced atomically. Failures
// come back as the step that failed with its errno, so every caller words
// its own message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace vellora::linux_host {

// Owns a file descriptor; -1 is none.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void reset(int fd = -1);
  // Closes now, for callers that must know whether the close failed (a
  // file written): false with errno set. Nothing is held afterwards.
  bool close();

 private:
  int fd_ = -1;
};

// One read(), retried when a signal interrupts it: the count read, 0 at the
// end of the file, or -1 with errno set.
long read_once(int fd, std::span<std::uint8_t> out);

// Reads until `out` is full or the file ends: the count read, or -1 with
// errno set.
long read_fully(int fd, std::span<std::uint8_t> out);
// The same from byte `at`, leaving the file position alone.
long pread_fully(int fd, std::span<std::uint8_t> out, std::uint64_t at);

// Writes every byte. False with errno set (EIO when the file took none).
bool write_fully(int fd, std::span<const std::uint8_t> bytes);
bool write_fully(int fd, std::string_view text);

struct SmallFileResult {
  enum class Failure {
    none,
    cannot_open,
    cannot_stat,
    not_regular,     // a folder, FIFO, device or socket at the path
    too_large,       // fstat gave more than the limit
    grew_too_large,  // the file grew past the limit while it was read
    cannot_read,
  };
  Failure failure = Failure::none;
  int error = 0;                 // errno of a failed open, fstat or read
  std::uint64_t size_bytes = 0;  // what fstat gave, for too_large
  explicit operator bool() const { return failure == Failure::none; }
};

// Appends the whole of a regular file of at most `max_bytes` to `text`. The
// file is opened without blocking and checked on the descriptor itself, so
// a FIFO or device at the path cannot hang the caller and nothing can swap
// the file in between; it is read to its end rather than to the size
// fstat gave, since it may grow meanwhile.
SmallFileResult read_small_regular_file(const std::filesystem::path& path, std::size_t max_bytes, std::string& text);

enum class RenameMode {
  replace,     // rename over whatever is at the path
  create_new,  // fail with exists if the path is taken
};

struct AtomicWriteResult {
  enum class Failure {
    none,
    cannot_create_temp,
    cannot_set_permissions,
    cannot_write,
    cannot_flush,
    cannot_rename,
    exists,  // RenameMode::create_new and the path is taken
  };
  Failure failure = Failure::none;
  int error = 0;  // errno of the step that failed
  explicit operator bool() const { return failure == Failure::none; }
};

// The permission bits a new file is created with, less the umask, as
// every program creates its files: 0644 under the usual umask 022, 0600
// under 077.
inline constexpr unsigned kNewFilePermissions = 0666;

// Writes `parts` in turn to a temporary file named `temp_prefix` plus six
// characters in the path's folder, and renames it to `path`. With
// `flushes_now` the file is fsync'ed before the rename and the folder
// after it; otherwise flushing is the caller's. On any failure the
// temporary file is removed and whatever was at `path` is untouched. A
// replaced file keeps its permission bits; a new one gets
// kNewFilePermissions less the umask. The temporary file is flock'ed while
// it is written, which tells remove_stale_temp_files that its writer is
// alive.
AtomicWriteResult write_file_atomically(const std::filesystem::path& path, std::string_view temp_prefix,
                                        std::span<const std::span<const std::uint8_t>> parts, RenameMode mode,
                                        bool flushes_now);

// Removes the regular files in `folder` whose names start with
// `temp_prefix` and that no live writer holds.
void remove_stale_temp_files(const std::filesystem::path& folder, std::string_view temp_prefix);

}  // namespace vellora::linux_host
