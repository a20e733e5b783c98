// What the folder handheld keeps of each open database: its record list
// and, for one being written, its records and the IDs they use. Private to
// pdb_folder_handheld.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <vector>

#include "docmodel/pdb_format.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"

namespace vellora::linux_host {

// The record IDs of a database being written, kept sorted. IDs handed out
// in turn only ever grow, so the common insert is an append.
class UsedIds {
 public:
  bool contains(std::uint32_t id) const {
    return !ids_.empty() && id <= ids_.back() && std::binary_search(ids_.begin(), ids_.end(), id);
  }
  void insert(std::uint32_t id) {
    if (ids_.empty() || id > ids_.back()) {
      ids_.push_back(id);
      return;
    }
    const auto at = std::lower_bound(ids_.begin(), ids_.end(), id);
    if (*at != id) ids_.insert(at, id);
  }
  void assign(std::vector<std::uint32_t> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    ids_ = std::move(ids);
  }

 private:
  std::vector<std::uint32_t> ids_;
};

// A database opened read-only keeps its file open and reads each record
// when it is asked for, so reading costs the record list whatever the
// file's size. One opened for writing, or created, is held whole in `db`
// and written back by SyncCloseDB.
struct PdbFolderHandheld::OpenDatabase {
  PdbReader reader;  // open only for a read-only database
  PdbDatabase db;
  std::filesystem::path file;  // empty for a created database not yet closed
  bool is_created = false;
  bool is_writable = false;
  bool is_modified = false;
  bool has_used_ids = false;
  UsedIds used_ids;  // filled on the first write

  const PdbHeader& header() const { return reader.is_open() ? reader.header() : db.header; }
  std::size_t record_count() const { return reader.is_open() ? reader.record_count() : db.record_count(); }
  // Record `index` (< record_count()) as its file's record list has it; a
  // record held in memory has no offset in a file and gives 0.
  PdbRecordEntry entry(std::size_t index) const {
    if (reader.is_open()) return reader.entry(index);
    const PdbRecordView record = db.record(index);
    return PdbRecordEntry{.offset = 0,
                          .size_bytes = static_cast<std::uint32_t>(record.data.size()),
                          .attributes = record.attributes,
                          .category = record.category,
                          .unique_id = record.unique_id};
  }
  // Copies the first out.size() bytes of record `index`, which holds at
  // least that many. A file is read afresh on every call, and may have been
  // cut short since it was opened: the reader then fails rather than copy
  // short data.
  PdbResult copy_record(std::size_t index, std::span<std::uint8_t> out) const {
    if (reader.is_open()) return reader.read_record(index, out);
    std::memcpy(out.data(), db.record(index).data.data(), out.size());
    return {};
  }
};

}  // namespace vellora::linux_host
