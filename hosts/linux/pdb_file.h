// The PDB file format: the standard handheld database layout that the
// Linux host keeps one of per database. Parsing checks every offset against
// the file size, so a hostile file yields a status with the byte offset and
// a one-line reason instead of a crash. A file is either read whole, for
// callers that change it, or opened for reading record by record, which
// keeps only its record list in memory whatever its size. Writing goes
// through a temporary file in the same folder that is fsync'ed and renamed
// into place, so a killed process leaves either the old file or the new
// one, never half.
//
// Layout, all fields big-endian: a 78-byte header, one 8-byte entry per
// record (data offset, attribute byte, 3-byte unique ID), 2 zero bytes, then
// the optional app-info and sort-info blocks and the record data in order.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/linux/byte_buffer.h"
#include "platform/sync_manager.h"

namespace vellora::posix {

constexpr std::size_t kPdbHeaderBytes = 78;
constexpr std::size_t kPdbRecordEntryBytes = 8;
constexpr std::size_t kPdbNameFieldBytes = 32;  // name plus its terminating zero
constexpr std::size_t kPdbMaxNameBytes = kPdbNameFieldBytes - 1;
constexpr std::size_t kPdbMaxRecords = 0xFFFF;  // the count is 16 bits
// A handheld keeps each record in one memory chunk of under 64 KB and the
// read call's buffer size is 16 bits, so a larger record could never be
// stored or read back whole. Files holding one are rejected as invalid.
constexpr std::size_t kPdbMaxRecordBytes = 0xFFFF;
constexpr std::uint32_t kPdbMaxUniqueId = 0xFFFFFF;  // IDs are 24 bits
// Database attribute of a resource database, whose record list has another
// layout; such files are not record databases and are rejected.
constexpr std::uint16_t kPdbAttrResource = 0x0001;
// Seconds from 1904-01-01 (the handheld's epoch) to 1970-01-01.
constexpr std::int64_t kPdbEpochOffsetSeconds = 2082844800;
// Temporary files are written under this prefix in the destination folder;
// they never end in ".pdb", so database lookups cannot mistake one for a
// database.
constexpr std::string_view kPdbTempPrefix = ".vellora-tmp-";

// Handheld time from Unix time, clamped to the 32-bit range.
std::uint32_t pdb_time_from_unix(std::int64_t unix_seconds);
std::int64_t unix_time_from_pdb(std::uint32_t pdb_seconds);

struct PdbHeader {
  std::string name;              // 1 to 31 bytes, no zero byte
  std::uint16_t attributes = 0;  // the database flags
  std::uint16_t version = 0;
  std::uint32_t created = 0;  // seconds since 1904-01-01
  std::uint32_t modified = 0;
  std::uint32_t backed_up = 0;
  std::uint32_t modification_number = 0;
  FourCC type = 0;
  FourCC creator = 0;
  std::uint32_t unique_id_seed = 0;  // next unique ID to hand out

  bool operator==(const PdbHeader&) const = default;
};

// One record as passed in and out. `data` is the caller's bytes on append;
// on read it views the database's buffer and is valid until the next append.
struct PdbRecordView {
  std::span<const std::uint8_t> data;
  std::uint8_t attributes = 0;  // record flags: high nibble only
  std::uint8_t category = 0;    // 0 to 15
  std::uint32_t unique_id = 0;  // 24 bits
};

// A whole database in memory. Record data lives in one contiguous buffer
// with an 8-byte entry per record, so a database of 100,000 small records
// costs little more than its bytes.
class PdbDatabase {
 public:
  PdbHeader header;
  std::vector<std::uint8_t> app_info;   // empty: the file has none
  std::vector<std::uint8_t> sort_info;  // empty: the file has none

  std::size_t record_count() const { return entries_.size(); }
  PdbRecordView record(std::size_t index) const;  // index < record_count()
  // Bytes of all records, in record order, as they appear in the file.
  std::span<const std::uint8_t> record_data() const { return data_; }

  // Appends a record; attributes are kept in the high nibble and category
  // in the low one. False, and no change, when the database already holds
  // kPdbMaxRecords records, the record exceeds kPdbMaxRecordBytes, or the
  // file would pass 4 GB.
  bool append_record(const PdbRecordView& record);
  void reserve(std::size_t records, std::size_t data_bytes);

  bool operator==(const PdbDatabase&) const = default;

 private:
  struct Entry {
    std::uint32_t end = 0;           // one past the record's last byte in data_
    std::uint32_t attribute_id = 0;  // attribute byte << 24 | unique ID, as on disk
    bool operator==(const Entry&) const = default;
  };
  std::vector<Entry> entries_;
  ByteBuffer data_;
};

enum class PdbStatus {
  ok,
  truncated,          // the header or the record list runs past the end of file
  bad_name,           // no terminating zero in the name field, or an empty name
  resource_database,  // not a record database
  bad_offset,         // an offset beyond the end of file or inside the record list
  offsets_decrease,   // a record starts before the previous one
  record_too_large,   // a record exceeds kPdbMaxRecordBytes
  too_large,          // the database does not fit the format
  cannot_read,
  cannot_write,
  file_exists,  // creating a file whose name is already taken
  no_record,    // a read past the record count or past the end of a record
};

struct PdbResult {
  PdbStatus status = PdbStatus::ok;
  std::size_t offset = 0;  // byte of the file where the problem was detected
  // One line. Parsing gives the reason alone ("record 3 offset 9000 beyond
  // end of file (8000 bytes)"); the file functions prefix the path.
  std::string reason;
  explicit operator bool() const { return status == PdbStatus::ok; }
};

// Checks the whole layout from the header and record list alone: `prefix`
// holds at least the first min(file_bytes, 78 + 8 * record count) bytes of
// a file of `file_bytes` bytes. Used by lookups, which need no record data.
PdbResult parse_pdb_header(std::span<const std::uint8_t> prefix, std::uint64_t file_bytes,
                           PdbHeader& header, std::uint16_t& record_count);

// Parses a whole file. Record i runs from its offset to the next record's
// offset, or to the end of file; a non-zero app-info or sort-info offset
// also ends any record that starts before it. `out` is complete only when
// the result is ok.
PdbResult parse_pdb(std::span<const std::uint8_t> bytes, PdbDatabase& out);

// The file image: header, record list, 2 zero bytes, app-info, sort-info,
// record data. Empty when the name is empty, longer than kPdbMaxNameBytes
// or holds a zero byte, or the file would pass 4 GB.
std::vector<std::uint8_t> serialize_pdb(const PdbDatabase& db);

// `file_stat`, when given, receives the fstat of the file that was opened
// (zeroed when it could not be opened), so a caller caching the header knows
// exactly which file it came from even if the path was replaced meanwhile.
PdbResult read_pdb_header_file(const std::filesystem::path& path, PdbHeader& header,
                               std::uint16_t& record_count, struct stat* file_stat = nullptr);
PdbResult read_pdb_file(const std::filesystem::path& path, PdbDatabase& out);

// Where one record lies in its file, with its record list entry.
struct PdbRecordEntry {
  std::uint32_t offset = 0;      // first byte of the record in the file
  std::uint32_t size_bytes = 0;  // at most kPdbMaxRecordBytes
  std::uint8_t attributes = 0;   // record flags: high nibble only
  std::uint8_t category = 0;     // 0 to 15
  std::uint32_t unique_id = 0;   // 24 bits
};

// A database file opened for reading one record at a time. Opening reads
// the header and the record list alone and checks them exactly as
// parse_pdb does, so the same files are accepted and rejected; record data
// is read from the file when asked for, so a reader costs 16 bytes a
// record whatever the file's size. App-info and sort-info blocks are
// never read.
//
// The file stays open until the reader is closed or destroyed. A file
// renamed over the path meanwhile goes unseen; one shortened in place
// makes reads fail with cannot_read instead of returning short data, and
// no read ever goes past the record it was asked for.
class PdbReader {
 public:
  PdbReader() = default;
  ~PdbReader() { close(); }
  PdbReader(const PdbReader&) = delete;
  PdbReader& operator=(const PdbReader&) = delete;

  // Closes any file open before. On failure the reader stays closed and
  // the result is the one read_pdb_file gives for the same file.
  PdbResult open(const std::filesystem::path& path);
  void close();
  bool is_open() const { return fd_ >= 0; }

  const std::filesystem::path& path() const { return path_; }
  const PdbHeader& header() const { return header_; }
  std::size_t record_count() const { return entries_.size(); }
  const PdbRecordEntry& entry(std::size_t index) const { return entries_[index]; }  // index < record_count()

  // Reads the first out.size() bytes of record `index`. Fails with
  // no_record when the index is past the count or `out` is larger than
  // the record, and with cannot_read ("path: why", one line) when the file
  // cannot supply them; `out` may then hold part of the record.
  PdbResult read_record(std::size_t index, std::span<std::uint8_t> out) const;
  // The whole record, with `out` resized to it.
  PdbResult read_record(std::size_t index, std::vector<std::uint8_t>& out) const;

 private:
  int fd_ = -1;
  std::filesystem::path path_;
  PdbHeader header_;
  std::vector<PdbRecordEntry> entries_;
};

enum class PdbWriteMode {
  replace,     // rename over whatever is at the path
  create_new,  // fail with file_exists if the path is taken
};

enum class PdbDurability {
  now,       // fsync the file before the rename, and the folder after it
  deferred,  // leave the flush to flush_pdb_files
};

// Writes the database to a temporary file in the path's folder, fsyncs it
// and renames it to `path` (then fsyncs the folder). On any failure the
// temporary file is removed and whatever was at `path` is untouched. A
// replaced file keeps its permission bits; a new one gets 0644.
PdbResult write_pdb_file(const std::filesystem::path& path, const PdbDatabase& db,
                         PdbWriteMode mode = PdbWriteMode::replace,
                         PdbDurability durability = PdbDurability::now);

// Makes files written with PdbDurability::deferred durable, and their
// folder's entries, as flush_files does (base/files.h).
PdbResult flush_pdb_files(const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder);

// Removes temporary files that a killed writer left in `folder`. A live
// writer holds a lock on its temporary file, so its file is left alone.
void remove_stale_pdb_temp_files(const std::filesystem::path& folder);

}  // namespace vellora::posix
