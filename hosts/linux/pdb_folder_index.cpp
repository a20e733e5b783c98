// PdbFolderIndex: the cached listing behind the folder handheld's lookups.
// A refresh costs a stat of the folder and one read() of the inotify
// descriptor when nothing changed; without a watch, one readdir pass when
// the folder changed. Headers are read only for files new or changed.
#include "hosts/linux/pdb_folder_index.h"

#include <dirent.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "base/ascii.h"

namespace vellora::linux_host {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// What the watch reports: every way an entry can appear, vanish or change.
constexpr std::uint32_t kWatchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                         IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Events after which the watch no longer tells the whole story.
constexpr std::uint32_t kWatchLostEvents = IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
constexpr long kZfsSuperMagic = 0x2FC12FC1;  // not in <linux/magic.h>

// File systems whose inotify events cover every change, whoever makes it.
// Network and FUSE file systems report only this machine's own changes.
bool has_complete_events(const std::filesystem::path& folder) {
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) return false;
  switch (static_cast<long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case kZfsSuperMagic: return true;
    default: return false;
  }
}

bool has_pdb_extension(std::string_view name) {
  if (name.size() <= 4) return false;
  return equals_ignoring_case(name.substr(name.size() - 4), ".pdb");
}

std::int64_t ns_of(const struct timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

std::int64_t now_ns() {
  struct timespec t {};
  ::clock_gettime(CLOCK_REALTIME, &t);
  return ns_of(t);
}

// True when another change could still get the same timestamps as the
// ones seen at `seen_at_ns`.
bool is_racy(const struct stat& st, std::int64_t seen_at_ns) {
  const bool is_whole_seconds = st.st_mtim.tv_nsec == 0 && st.st_ctim.tv_nsec == 0;
  const std::int64_t window = is_whole_seconds ? kCoarseRacyWindowNs : kRacyWindowNs;
  return std::max(ns_of(st.st_mtim), ns_of(st.st_ctim)) + window >= seen_at_ns;
}

bool same_file_state(const PdbFolderIndex::File& file, std::int64_t mtime_ns, std::int64_t ctime_ns,
                     const struct stat& st) {
  return file.device == st.st_dev && file.inode == st.st_ino &&
         file.size_bytes == static_cast<std::uint64_t>(st.st_size) && mtime_ns == ns_of(st.st_mtim) &&
         ctime_ns == ns_of(st.st_ctim);
}

}  // namespace

PdbFolderIndex::PdbFolderIndex(std::filesystem::path folder, FolderWatch watch)
    : folder_(std::move(folder)), watch_mode_(watch) {}

PdbFolderIndex::~PdbFolderIndex() { stop_watch(); }

void PdbFolderIndex::reset() {
  stop_watch();
  has_tried_watch_ = false;
  files_.clear();
  by_name_.clear();
  is_built_ = false;
}

void PdbFolderIndex::refresh() {
  const std::int64_t started_ns = now_ns();
  struct stat st {};
  if (::stat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    reset();
    return;
  }
  const FolderStamp stamp{
      .device = st.st_dev, .inode = st.st_ino, .mtime_ns = ns_of(st.st_mtim), .ctime_ns = ns_of(st.st_ctim)};
  if (is_built_ && (stamp.device != stamp_.device || stamp.inode != stamp_.inode)) {
    reset();  // another folder now lives at the path
  } else if (is_built_ && is_watching()) {
    if (apply_watch_events()) return;
  } else if (is_built_ && stamp == stamp_ && !is_stamp_racy_) {
    return;
  }
  // The watch comes first, so a change made during the listing is either
  // in the listing or waiting as an event.
  if (!is_watching() && !has_tried_watch_ && watch_mode_ == FolderWatch::automatic) start_watch();
  if (!list_folder()) {
    reset();
    return;
  }
  // The stamp is from before the listing: a change made during it makes
  // the next refresh list again.
  stamp_ = stamp;
  is_stamp_racy_ = is_racy(st, started_ns);
  is_built_ = true;
}

void PdbFolderIndex::start_watch() {
  // Tried once per folder: on a network file system statfs is a round trip.
  has_tried_watch_ = true;
  if (!has_complete_events(folder_)) return;
  UniqueFd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd.is_open()) return;  // e.g. the per-user limit on watches is reached
  if (::inotify_add_watch(fd.get(), folder_.c_str(), kWatchedEvents) < 0) return;
  watch_fd_ = std::move(fd);
}

void PdbFolderIndex::stop_watch() { watch_fd_.reset(); }

bool PdbFolderIndex::apply_watch_events() {
  // Aligned for inotify_event; large enough for one event with a maximum
  // length name.
  alignas(inotify_event) std::uint8_t buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
  std::vector<std::string> changed;
  bool is_lost = false;
  for (;;) {
    const long got = read_once(watch_fd_.get(), buffer);
    if (got < 0 && errno == EAGAIN) break;
    if (got <= 0) {
      is_lost = true;
      break;
    }
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      const auto* name = reinterpret_cast<const char*>(buffer + at + sizeof(inotify_event));
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      if (at > got) {  // never from a sane kernel; do not read past the data
        is_lost = true;
        break;
      }
      if ((event.mask & kWatchLostEvents) != 0) is_lost = true;
      if (event.len == 0) continue;
      const std::string_view file_name(name, ::strnlen(name, event.len));
      if (has_pdb_extension(file_name)) changed.emplace_back(file_name);
    }
  }
  if (is_lost) {
    stop_watch();
    has_tried_watch_ = false;  // a new watch comes with the listing
    return false;
  }
  std::sort(changed.begin(), changed.end());
  changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
  for (const auto& file_name : changed) (void)load(file_name, 0);
  return true;
}

bool PdbFolderIndex::list_folder() {
  const UniqueDir dir(::opendir(folder_.c_str()));
  if (!dir) return false;
  ++listings_;
  const std::uint64_t generation = ++generation_;
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string_view name = item->d_name;
    if (!has_pdb_extension(name)) continue;
    const auto it = files_.find(name);
    // Same name and inode as in the last listing: the same file, and
    // in-place rewrites are caught when it is looked up.
    if (it != files_.end() && item->d_ino != 0 && it->second.listed_inode == item->d_ino) {
      it->second.seen = generation;
      continue;
    }
    if (Entry* entry = load(std::string(name), item->d_ino)) entry->seen = generation;
  }
  for (auto it = files_.begin(); it != files_.end();) {
    const auto next = std::next(it);
    if (it->second.seen != generation) erase(it->first);
    it = next;
  }
  return true;
}

PdbFolderIndex::Entry* PdbFolderIndex::load(const std::string& file_name, ino_t listed_inode) {
  const auto path = folder_ / file_name;
  struct stat st {};
  // Symbolic links are skipped so that nothing outside the folder is read
  // or replaced.
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    erase(file_name);
    return nullptr;
  }
  if (const auto it = files_.find(file_name); it != files_.end()) {
    Entry& known = it->second;
    if (!known.is_racy && same_file_state(known.file, known.mtime_ns, known.ctime_ns, st)) {
      known.listed_inode = listed_inode;
      return &known;
    }
  }
  const std::int64_t read_at_ns = now_ns();
  Entry entry{.file = File{.file_name = file_name,
                           .device = st.st_dev,
                           .inode = st.st_ino,
                           .size_bytes = static_cast<std::uint64_t>(st.st_size),
                           .is_valid = false,
                           .header = {},
                           .record_count = 0},
              .mtime_ns = ns_of(st.st_mtim),
              .ctime_ns = ns_of(st.st_ctim),
              .listed_inode = listed_inode,
              .is_racy = false,
              .seen = 0};
  ++header_reads_;
  struct stat opened {};
  entry.file.is_valid =
      static_cast<bool>(read_pdb_header_file(path, entry.file.header, entry.file.record_count, &opened));
  // Describe the file whose header was read, in case the path was
  // replaced between the lstat and the open.
  if (entry.file.is_valid && (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino)) {
    st = opened;
    entry.file.device = st.st_dev;
    entry.file.inode = st.st_ino;
    entry.file.size_bytes = static_cast<std::uint64_t>(st.st_size);
    entry.mtime_ns = ns_of(st.st_mtim);
    entry.ctime_ns = ns_of(st.st_ctim);
    entry.listed_inode = 0;
  }
  // A watch reports any later change, so only stamp-based checking needs
  // to distrust a fresh timestamp.
  entry.is_racy = !is_watching() && is_racy(st, read_at_ns);
  put(std::move(entry));
  return &files_.find(file_name)->second;
}

PdbFolderIndex::Entry* PdbFolderIndex::check(Entry& entry) {
  struct stat st {};
  const auto path = folder_ / entry.file.file_name;
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !entry.is_racy &&
      same_file_state(entry.file, entry.mtime_ns, entry.ctime_ns, st))
    return &entry;
  const std::string file_name = entry.file.file_name;  // `entry` dies in load
  return load(file_name, entry.listed_inode == st.st_ino ? entry.listed_inode : 0);
}

std::vector<PdbFolderIndex::File> PdbFolderIndex::databases_named(std::string_view name) {
  std::vector<std::string> file_names;
  const auto [first, last] = by_name_.equal_range(name);
  for (auto it = first; it != last; ++it) file_names.push_back(it->second);
  std::sort(file_names.begin(), file_names.end());
  std::vector<File> found;
  for (const auto& file_name : file_names) {
    const auto it = files_.find(file_name);
    if (it == files_.end()) continue;
    const Entry* entry = check(it->second);
    if (entry != nullptr && entry->file.is_valid && entry->file.header.name == name) found.push_back(entry->file);
  }
  return found;
}

std::uint64_t PdbFolderIndex::total_bytes() const {
  std::uint64_t total = 0;
  for (const auto& [file_name, entry] : files_) total += entry.file.size_bytes;
  return total;
}

void PdbFolderIndex::note_written(const std::string& file_name, const PdbHeader& header, std::uint16_t record_count) {
  if (!is_built_) return;  // the first refresh will read it
  struct stat st {};
  if (::lstat((folder_ / file_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    erase(file_name);
    return;
  }
  put(Entry{.file = File{.file_name = file_name,
                         .device = st.st_dev,
                         .inode = st.st_ino,
                         .size_bytes = static_cast<std::uint64_t>(st.st_size),
                         .is_valid = true,
                         .header = header,
                         .record_count = record_count},
            .mtime_ns = ns_of(st.st_mtim),
            .ctime_ns = ns_of(st.st_ctim),
            .listed_inode = 0,
            // Another writer in the same clock tick would leave this
            // stat as it is, so a lookup re-reads the file once.
            .is_racy = !is_watching() && is_racy(st, now_ns()),
            .seen = generation_});
}

void PdbFolderIndex::note_removed(const std::string& file_name) { erase(file_name); }

void PdbFolderIndex::put(Entry entry) {
  const std::string file_name = entry.file.file_name;
  erase(file_name);
  if (entry.file.is_valid) by_name_.emplace(entry.file.header.name, file_name);
  files_.emplace(file_name, std::move(entry));
}

void PdbFolderIndex::erase(const std::string& file_name) {
  const auto it = files_.find(file_name);
  if (it == files_.end()) return;
  if (it->second.file.is_valid) {
    const auto [first, last] = by_name_.equal_range(it->second.file.header.name);
    for (auto link = first; link != last; ++link) {
      if (link->second == file_name) {
        by_name_.erase(link);
        break;
      }
    }
  }
  files_.erase(it);
}

}  // namespace vellora::linux_host
