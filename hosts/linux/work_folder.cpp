// Work folders held by flock, and the removal of those nobody holds; see
// work_folder.h.
#include "hosts/linux/work_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

namespace vellora::linux_host {

namespace {

// mkdtemp's six characters.
constexpr std::size_t kUniqueChars = 6;
// A folder that vanishes under us between mkdtemp and its lock (a cleaner
// took it for a leftover) is made again, a few times at most.
constexpr int kMakeAttempts = 8;
// Deeper than anything a conversion makes; a tree deeper still is left
// where it is rather than run out of descriptors.
constexpr int kMaxDepth = 64;
// Lockless folders that old are leftovers: no conversion may run that long.
constexpr std::time_t kLocklessAgeSeconds = 24 * 60 * 60;

bool is_unique_char(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool is_work_folder_name(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + kUniqueChars || !name.starts_with(prefix)) return false;
  for (const char c : name.substr(prefix.size()))
    if (!is_unique_char(c)) return false;
  return true;
}

UniqueFd open_folder_at(int parent, const char* name) {
  return UniqueFd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The names in an open folder, "." and ".." left out. A fresh descriptor
// reads the listing, so the folder's own stays untouched.
std::vector<std::string> names_in(int folder) {
  std::vector<std::string> names;
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return names;
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    ::close(listing);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

// Empties an open folder depth first, unlinking links rather than
// following them. False when something is left.
bool remove_contents(int folder, int depth) {
  if (depth > kMaxDepth) return false;
  bool is_empty = true;
  for (const std::string& name : names_in(folder)) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      is_empty = is_empty && errno == ENOENT;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      const UniqueFd sub = open_folder_at(folder, name.c_str());
      if (!sub.is_open() || !remove_contents(sub.get(), depth + 1) ||
          ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0)
        is_empty = false;
    } else if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) {
      is_empty = false;
    }
  }
  return is_empty;
}

void remove_folder(const std::filesystem::path& path) {
  const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.is_open() && remove_contents(folder.get(), 0)) ::rmdir(path.c_str());
}

// Whether the folder's lock file can be taken: its maker has died. The
// lock is held in `lock` until the folder is gone, so a maker that opened
// the file just before cannot take it meanwhile.
bool take_lock(int folder, UniqueFd& lock) {
  lock = UniqueFd(
      ::openat(folder, std::string(kWorkFolderLockName).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  return lock.is_open() && ::fstat(lock.get(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
}

// Whether a folder without a lock file is a leftover by `rule`.
bool is_lockless_leftover(int folder, const struct stat& st, const std::vector<std::string>& names,
                          LocklessFolders rule) {
  if (rule == LocklessFolders::a_day_old) return std::time(nullptr) - st.st_mtime > kLocklessAgeSeconds;
  for (const std::string& name : names) {
    struct stat entry {};
    if (::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(entry.st_mode)) return false;
  }
  return true;
}

}  // namespace

WorkFolder::WorkFolder(const std::filesystem::path& parent, std::string_view prefix) {
  const std::string lock_name(kWorkFolderLockName);
  for (int attempt = 0; attempt < kMakeAttempts; ++attempt) {
    std::string made = (parent / (std::string(prefix) + std::string(kUniqueChars, 'X'))).string();
    if (::mkdtemp(made.data()) == nullptr) {
      error_ = errno;
      return;
    }
    const UniqueFd folder(::open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd lock(folder.is_open() ? ::openat(folder.get(), lock_name.c_str(),
                                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                                   : -1);
    if (!lock.is_open()) {
      error_ = errno;
      if (error_ == ENOENT) continue;  // removed as a lockless leftover before the lock file came
      ::rmdir(made.c_str());
      return;
    }
    // This waits only for a cleaner that took the new lock first, and so
    // is removing the folder. A file system without flock leaves the
    // folder unheld, and then no cleaner can take its lock either.
    while (::flock(lock.get(), LOCK_EX) != 0 && errno == EINTR) {}
    struct stat st {};
    if (::fstat(lock.get(), &st) == 0 && st.st_nlink > 0) {
      path_ = made;
      lock_ = std::move(lock);
      error_ = 0;
      return;
    }
    error_ = ENOENT;
  }
}

WorkFolder::~WorkFolder() {
  if (!path_.empty()) remove_folder(path_);
}

void remove_stale_work_folders(const std::filesystem::path& parent, std::string_view prefix, LocklessFolders lockless) {
  const UniqueFd parent_fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent_fd.is_open()) return;
  for (const std::string& name : names_in(parent_fd.get())) {
    if (!is_work_folder_name(name, prefix)) continue;
    struct stat st {};
    if (::fstatat(parent_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
      continue;
    const UniqueFd folder = open_folder_at(parent_fd.get(), name.c_str());
    struct stat opened {};
    if (!folder.is_open() || ::fstat(folder.get(), &opened) != 0 || opened.st_dev != st.st_dev ||
        opened.st_ino != st.st_ino)
      continue;
    const std::vector<std::string> names = names_in(folder.get());
    UniqueFd lock;
    const bool has_lock = std::find(names.begin(), names.end(), kWorkFolderLockName) != names.end();
    if (has_lock) {
      if (!take_lock(folder.get(), lock) || !remove_contents(folder.get(), 0)) continue;
    } else {
      if (!is_lockless_leftover(folder.get(), opened, names, lockless)) continue;
      // Only what was looked at goes: a lock file its maker adds meanwhile
      // stays, and keeps the folder.
      bool is_empty = true;
      for (const std::string& entry : names) {
        struct stat entry_st {};
        if (::fstatat(folder.get(), entry.c_str(), &entry_st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(entry_st.st_mode)) {
          const UniqueFd sub = open_folder_at(folder.get(), entry.c_str());
          is_empty = sub.is_open() && remove_contents(sub.get(), 1) &&
                     ::unlinkat(folder.get(), entry.c_str(), AT_REMOVEDIR) == 0 && is_empty;
        } else if (::unlinkat(folder.get(), entry.c_str(), 0) != 0) {
          is_empty = false;
        }
      }
      if (!is_empty) continue;
    }
    // Fails, harmlessly, when something came into the folder meanwhile.
    ::unlinkat(parent_fd.get(), name.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace vellora::linux_host
