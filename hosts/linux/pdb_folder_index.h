// The folder handheld's memory of its folder: every regular *.pdb file with
// its stat and, for a valid database, its header and record count. Lookups
// by database name and the free-memory sum then cost no file reads, where
// rereading every header at every call made a session that sends a
// thousand files take seconds of lookups.
//
// Staying current without trusting luck:
// - On local disk file systems (ext2/3/4, XFS, Btrfs, F2FS, tmpfs,
//   overlayfs, ZFS) an inotify watch on the folder names every entry that
//   is created, removed, renamed or written, by this process or any other,
//   and only those files are looked at again. A refresh with nothing to
//   report costs one read() that returns nothing. A lost watch (queue
//   overflow, folder moved or deleted) means a full listing and a new watch.
// - Elsewhere (network and FUSE file systems do not report other machines'
//   changes), or when no watch can be had, every refresh stats the folder.
//   Creating, removing or renaming an entry changes the folder's mtime and
//   ctime, so an unchanged pair means an unchanged listing, unless the pair
//   is so recent that another change within the same clock tick would
//   leave it as it is (timestamps come from a coarse clock). A changed or
//   "racy" pair means one readdir pass, opening only entries whose inode
//   number differs from the last listing. A file found by a lookup is
//   lstat'ed once more and its header re-read if its inode, size, mtime or
//   ctime moved, so a database rewritten in place is seen when asked for.
//   Not seen in this mode: a file rewritten in place that now carries
//   another database name, until it is listed with a new inode or its old
//   name is looked up; free memory counts such a file at its old size.
// The handheld's own writes and deletions update the index directly.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/linux/pdb_file.h"
#include "hosts/linux/posix_io.h"

namespace vellora::linux_host {

// A timestamp this close to the moment it was seen may still be joined by
// another change with the same value (coarse kernel clock).
constexpr std::int64_t kRacyWindowNs = 50'000'000;
// Timestamps with no nanoseconds come from a file system that keeps whole
// (FAT: even) seconds.
constexpr std::int64_t kCoarseRacyWindowNs = 2'000'000'000;

enum class FolderWatch {
  automatic,  // inotify where the file system supports it
  stat_only,  // never inotify: folder stamps and listings only
};

class PdbFolderIndex {
 public:
  struct File {
    std::string file_name;
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size_bytes = 0;
    bool is_valid = false;  // a database: header and record_count hold it
    PdbHeader header;
    std::uint16_t record_count = 0;
  };

  explicit PdbFolderIndex(std::filesystem::path folder, FolderWatch watch = FolderWatch::automatic);
  ~PdbFolderIndex();
  PdbFolderIndex(const PdbFolderIndex&) = delete;
  PdbFolderIndex& operator=(const PdbFolderIndex&) = delete;

  // Brings the index in line with the folder; a missing or unreadable
  // folder empties it.
  void refresh();
  // Valid databases whose header carries `name`, in file-name order, each
  // checked against its file first. Call refresh() before.
  std::vector<File> databases_named(std::string_view name);
  // Bytes of all .pdb files, valid or not.
  std::uint64_t total_bytes() const;

  // The handheld wrote `file_name` itself: record it without reading it.
  void note_written(const std::string& file_name, const PdbHeader& header, std::uint16_t record_count);
  void note_removed(const std::string& file_name);

  std::size_t file_count() const { return files_.size(); }
  bool is_watching() const { return watch_fd_.is_open(); }
  // How often the folder was listed and how many headers were read; tests
  // use them to check that the index really saves the work.
  std::uint64_t listings() const { return listings_; }
  std::uint64_t header_reads() const { return header_reads_; }

 private:
  struct Entry {
    File file;
    std::int64_t mtime_ns = 0;
    std::int64_t ctime_ns = 0;
    ino_t listed_inode = 0;  // d_ino of the last listing; 0 = not listed yet
    bool is_racy = false;    // changed too close to when it was read
    std::uint64_t seen = 0;  // listing generation that last saw it
  };
  struct FolderStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t mtime_ns = 0;
    std::int64_t ctime_ns = 0;
    bool operator==(const FolderStamp&) const = default;
  };

  void reset();
  void start_watch();
  void stop_watch();
  // Re-loads the files the watch named; false when the watch was lost and
  // the folder must be listed.
  bool apply_watch_events();
  bool list_folder();
  // Loads `file_name` from disk into the index (or drops it when it is no
  // longer a regular file); returns the entry or nullptr.
  Entry* load(const std::string& file_name, ino_t listed_inode);
  // Re-reads `entry` when its stat moved or was too fresh to trust;
  // nullptr when the file is gone.
  Entry* check(Entry& entry);
  void put(Entry entry);
  void erase(const std::string& file_name);

  std::filesystem::path folder_;
  FolderWatch watch_mode_ = FolderWatch::automatic;
  bool has_tried_watch_ = false;
  UniqueFd watch_fd_;                                             // inotify descriptor while watching
  std::map<std::string, Entry, std::less<>> files_;               // by file name
  std::multimap<std::string, std::string, std::less<>> by_name_;  // database -> file
  FolderStamp stamp_;
  bool is_built_ = false;
  bool is_stamp_racy_ = false;
  std::uint64_t generation_ = 0;
  std::uint64_t listings_ = 0;
  std::uint64_t header_reads_ = 0;
};

}  // namespace vellora::linux_host
