// The fake handheld's memory card: record databases held in memory, seeded
// from a folder of .pdb files and dumped back to one. Free memory is
// counted as the folder handheld counts it: handheld.conf's memory less
// the bytes every database takes as a .pdb file, each as of its last
// close, so that one session gives the same answers on the fake and on
// the folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/linux/handheld_conf.h"
#include "platform/sync_manager.h"

namespace vellora::testing {

// Record attributes as DLP carries them, in a byte of their own beside the
// category. A .pdb file keeps the high nibble only.
constexpr std::uint8_t kRecordDeleted = 0x80;
constexpr std::uint8_t kRecordDirty = 0x40;
constexpr std::uint8_t kRecordBusy = 0x20;
constexpr std::uint8_t kRecordSecret = 0x10;
constexpr std::uint8_t kRecordArchived = 0x08;

// Database flags the fake looks at.
constexpr std::uint16_t kDbFlagResource = 0x0001;
constexpr std::uint16_t kDbFlagOpen = 0x8000;

struct CardRecord {
  std::uint32_t unique_id = 0;  // 24 bits, never 0
  std::uint8_t attributes = 0;  // the kRecord* bits
  std::uint8_t category = 0;    // 0 to 15
  std::vector<std::uint8_t> data;
};

struct CardDatabase {
  std::string name;  // 1 to 31 bytes, no zero byte
  std::uint16_t flags = 0;
  FourCC type = 0;
  FourCC creator = 0;
  std::uint16_t version = 0;
  std::uint32_t modification_number = 0;
  std::uint32_t created = 0;  // seconds since 1904-01-01; 0 is never
  std::uint32_t modified = 0;
  std::uint32_t backed_up = 0;
  std::uint32_t unique_id_seed = 1;  // next unique ID to try
  std::vector<std::uint8_t> app_info;
  std::vector<std::uint8_t> sort_info;
  std::vector<CardRecord> records;
  // A resource database's whole file, kept as it came: it is listed and
  // found, never read or written record by record.
  std::vector<std::uint8_t> opaque_file;
  std::uint16_t opaque_count = 0;  // its resource count, from the header

  std::uint32_t local_id = 0;  // the card's handle of the database, for FindDB
  // What its file took when it was last closed (the seed file's size for a
  // database never changed since), and whether it changed since then: a
  // database created and never closed has no file yet.
  std::uint64_t stored_bytes = 0;
  bool has_unstored_changes = false;

  bool is_opaque() const { return (flags & kDbFlagResource) != 0; }
  std::size_t count() const { return is_opaque() ? opaque_count : records.size(); }
  // Bytes of its .pdb file as write_pdb_file lays it out.
  std::uint64_t file_bytes() const;
  CardRecord* find_record(std::uint32_t unique_id);
};

class FakeStore {
 public:
  // Fills an empty card with the databases of every regular *.pdb file in
  // `folder` and takes the memory size from its handheld.conf, as the
  // folder handheld does. Files that hold no database, and second files
  // of a name already taken, are not listed but their bytes are counted
  // as used. False, with one line in `error`, when the folder or
  // handheld.conf cannot be read.
  bool seed(const std::filesystem::path& folder, std::string& error);
  // Writes every database to `folder` (made when missing) as
  // database_file_name(name), then removes the other files there that
  // hold a database, so the folder holds the card. A handheld.conf is
  // written when there is none.
  bool dump(const std::filesystem::path& folder, std::string& error) const;

  std::uint64_t memory_bytes() const { return memory_bytes_; }
  void set_memory_bytes(std::uint64_t bytes) { memory_bytes_ = bytes; }
  // What the card reports: memory less every database's file as of its
  // last close, the files of databases deleted this session, and seed
  // files that hold no listed database. Never below zero.
  std::uint64_t free_bytes() const;
  // The same with the databases' changes not yet closed counted in: what
  // a new record may still take. Below zero when writes went too far.
  std::int64_t live_free_bytes() const;

  std::size_t size() const { return databases_.size(); }
  CardDatabase& at(std::size_t index) { return *databases_[index]; }
  const CardDatabase& at(std::size_t index) const { return *databases_[index]; }
  CardDatabase* find(std::string_view name);
  const CardDatabase* find(std::string_view name) const;
  std::size_t index_of(const CardDatabase& db) const;

  // Adds a database at the end of the card's list; it gets a local ID.
  CardDatabase& add(CardDatabase db);
  // Removes the database. Its file stays counted until end_session(), or
  // until a new database of its name is closed, as the folder handheld
  // unlinks deleted files only then.
  void remove(std::string_view name);
  // The database was closed: its file now holds what it holds.
  void note_closed(CardDatabase& db);
  void end_session();

 private:
  struct DeletedFile {
    std::string name;
    std::uint64_t bytes = 0;
  };

  std::vector<std::unique_ptr<CardDatabase>> databases_;
  std::vector<DeletedFile> deleted_;
  std::uint64_t memory_bytes_ = linux_host::kDefaultHandheldMemoryBytes;
  std::uint64_t unlisted_bytes_ = 0;
  std::uint32_t next_local_id_ = 1;
};

}  // namespace vellora::testing
