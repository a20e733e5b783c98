// Private working folders that tell whether their maker is still alive.
// `vellora convert` and `export` and the office converter work in one of
// these: mode 0700, a name of its own (a prefix and six characters), and a
// lock file inside that the maker holds with flock for as long as it uses
// the folder. The kernel drops the lock when the process dies, however it
// dies, so a folder whose lock can be taken is a leftover, and
// remove_stale_work_folders deletes it. Nothing here follows a symbolic
// link: folders are walked through descriptors opened with O_NOFOLLOW and
// their entries are unlinked, never opened.
#pragma once

#include <filesystem>
#include <string_view>

#include "hosts/linux/posix_io.h"

namespace vellora::linux_host {

// The lock file inside every work folder.
inline constexpr std::string_view kWorkFolderLockName = ".lock";

class WorkFolder {
 public:
  // Makes `parent / (prefix + six characters)` and takes its lock. On
  // failure the object is false and error() holds the errno.
  WorkFolder(const std::filesystem::path& parent, std::string_view prefix);
  // Removes the folder and everything in it, then lets the lock go.
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  explicit operator bool() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  int error() const { return error_; }
  // The descriptor holding the lock (close-on-exec). A child process given
  // a copy of it keeps the folder held for as long as the child lives.
  int lock_descriptor() const { return lock_.get(); }

 private:
  std::filesystem::path path_;
  UniqueFd lock_;
  int error_ = 0;
};

// What marks a work folder without a lock file, made before folders had
// locks, as a leftover rather than one still in use.
enum class LocklessFolders {
  holding_only_files,  // nothing in it but regular files, or nothing at all
  a_day_old,           // its entries last changed more than a day ago
};

// Removes from `parent` the folders named `prefix` and six letters or
// digits, owned by this user, that no live process holds: those whose lock
// can be taken, and those without a lock file that `lockless` calls
// leftovers. Anything else there, a link of such a name included, is left
// alone; so is a folder that cannot be emptied.
void remove_stale_work_folders(const std::filesystem::path& parent, std::string_view prefix, LocklessFolders lockless);

}  // namespace vellora::linux_host
