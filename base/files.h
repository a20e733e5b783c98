// Opening files by path on every host. A path's native string is narrow on
// POSIX and wide on Windows, so the core never passes `path.c_str()` to
// fopen itself: it opens through here, and the returned guard closes the
// file however the caller's work ends. Files the user keeps are closed
// durably through here too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellora {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Folder and file names travel through the core as text in the host's
// narrow code page: the bytes themselves on POSIX, the ANSI code page on
// Windows, where the names on the handheld and in the settings come from.
// The standard library's own narrow conversions do not agree with each
// other there (a path is built from Latin-1 but its string() is UTF-8), so
// a name becomes a path, and a path a name, only through these two.
std::filesystem::path host_path(std::string_view text);
std::string host_text(const std::filesystem::path& path);

// The system's words for an errno value, for messages ("No such file or
// directory").
std::string errno_text(int error);

// What a folder entry that is not a regular file is, for messages: "a
// FIFO", "a symbolic link", ...; empty for a regular file, a folder or a
// type without a name.
std::string_view special_file_kind(std::filesystem::file_type type);

// fopen with `mode` ("rb", "wb", ...). Null on failure, with errno set.
UniqueFile open_file(const std::filesystem::path& path, const char* mode);

// Which file an entry is, and which version of its content: a file that is
// replaced, written, cut short or grown gets another stamp. A sync keeps
// the stamp of what it read and deletes the file only if it still has it.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size_bytes = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;  // 0 where the host keeps no change time
  bool is_regular = false;
  bool operator==(const FileStamp&) const = default;
  bool is_same_file(const FileStamp& other) const { return device == other.device && inode == other.inode; }
};

// The stamp of the entry at `path` itself, never of a link's target. False
// with errno set when it cannot be had.
bool stamp_entry(const std::filesystem::path& path, FileStamp& out);
// The stamp of an open file. False with errno set when it cannot be had.
bool stamp_open_file(std::FILE* file, FileStamp& out);

// Opens the regular file `path` for reading without following a link at
// its last component and without waiting for a FIFO's writer, and fills
// `stamp` from the open file. Null with errno set otherwise: ELOOP for a
// link, EINVAL for anything else that is not a regular file.
UniqueFile open_regular_file(const std::filesystem::path& path, FileStamp& stamp);

// Creates `path` for writing. Fails with EEXIST when anything is there, a
// link or a FIFO included, so nothing outside is written through a name
// someone else placed.
UniqueFile create_new_file(const std::filesystem::path& path);

// Closes a file opened for writing once everything written is on the disk,
// so a rename that follows can never expose an empty or partial file after
// a power loss. False with errno set when anything failed.
bool flush_and_close(UniqueFile& file);

// Makes the folder's entries (a rename into it) durable. False with errno
// set when that failed.
bool flush_folder(const std::filesystem::path& folder);

// Makes files written without flushing durable, and `folder`'s entries for
// them: where the host can, several in one flush of their file system
// rather than one per file. A file gone since is skipped. False with errno
// set when anything failed.
bool flush_files(const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder);

}  // namespace vellora
