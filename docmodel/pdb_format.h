// The PDB format as bytes: the standard layout of a handheld database in a
// file, decoded from and encoded to memory with no file access. It is the
// one codec of the format: the Linux host's folder handheld (whose
// pdb_file.h reads and writes the files), `vellora dump` and the test
// handhelds all use it. Decoding checks every offset against the file
// size, so a hostile file yields a status with the byte offset and a
// one-line reason instead of a crash.
//
// Layout, all fields big-endian: a 78-byte header, one 8-byte entry per
// record (data offset, attribute byte, 3-byte unique ID), 2 zero bytes, then
// the optional app-info and sort-info blocks and the record data in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/page_memory.h"
#include "platform/sync_manager.h"

namespace vellora {

constexpr std::size_t kPdbHeaderBytes = 78;
constexpr std::size_t kPdbRecordEntryBytes = 8;
constexpr std::size_t kPdbPadBytes = 2;         // the zero bytes after the record list
constexpr std::size_t kPdbNameFieldBytes = 32;  // name plus its terminating zero
constexpr std::size_t kPdbMaxNameBytes = kPdbNameFieldBytes - 1;
constexpr std::size_t kPdbMaxRecords = 0xFFFF;  // the count is 16 bits
// A handheld keeps each record in one memory chunk of under 64 KB and the
// read call's buffer size is 16 bits, so a larger record could never be
// stored or read back whole. Files holding one are rejected as invalid.
constexpr std::size_t kPdbMaxRecordBytes = 0xFFFF;
constexpr std::uint32_t kPdbMaxUniqueId = 0xFFFFFF;  // IDs are 24 bits
// Offsets are 32 bits, so no file of the format is larger.
constexpr std::uint64_t kPdbMaxFileBytes = std::numeric_limits<std::uint32_t>::max();
// Database attribute of a resource database, whose record list has another
// layout; such files are not record databases and are rejected.
constexpr std::uint16_t kPdbAttrResource = 0x0001;
// Seconds from 1904-01-01 (the handheld's epoch) to 1970-01-01.
constexpr std::int64_t kPdbEpochOffsetSeconds = 2082844800;

// File name of a database in a folder of PDB files: the name with every
// byte outside printable ASCII, every '/', '\\', '%' and a leading '.'
// written as %XX (upper-case hex), plus ".pdb". "report.htm" ->
// "report.htm.pdb".
std::string database_file_name(std::string_view database_name);

// Bytes of a file of `record_count` records whose app-info, sort-info and
// record data together take `content_bytes`.
constexpr std::uint64_t pdb_file_bytes(std::size_t record_count, std::uint64_t content_bytes) {
  return kPdbHeaderBytes + std::uint64_t{record_count} * kPdbRecordEntryBytes + kPdbPadBytes + content_bytes;
}

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

// A header as the Sync Manager describes a database, on card 0, and back;
// DbInfo has no place for the unique-ID seed.
DbInfo db_info_from(const PdbHeader& header, std::size_t record_count);
PdbHeader pdb_header_from(const DbInfo& info, std::uint32_t unique_id_seed);

// One record as passed in and out. `data` is the caller's bytes on append;
// on read it views the database's buffer and is valid until the next append.
struct PdbRecordView {
  std::span<const std::uint8_t> data;
  std::uint8_t attributes = 0;  // record flags: high nibble only
  std::uint8_t category = 0;    // 0 to 15
  std::uint32_t unique_id = 0;  // 24 bits
};

// A whole database in memory. Record data lives in chunks, each filled with
// whole records in order and never moved once allocated: a growing
// database never holds its old and new storage at once, so writing one
// costs little more than its bytes (a single buffer that doubled would
// briefly cost three times them). Chunks after the first are 2 MB of huge
// pages (see page_memory.h), and a database's chunks serve the next one.
class PdbDatabase {
 public:
  PdbHeader header;
  std::vector<std::uint8_t> app_info;   // empty: the file has none
  std::vector<std::uint8_t> sort_info;  // empty: the file has none

  PdbDatabase() = default;
  PdbDatabase(const PdbDatabase& other);
  PdbDatabase(PdbDatabase&&) noexcept = default;
  PdbDatabase& operator=(const PdbDatabase& other);
  PdbDatabase& operator=(PdbDatabase&&) noexcept = default;
  // Its chunks serve the next database.
  ~PdbDatabase();

  std::size_t record_count() const { return entries_.size(); }
  PdbRecordView record(std::size_t index) const;  // index < record_count()
  // Bytes of all records, in record order, as they appear in the file:
  // the concatenation of these pieces.
  std::vector<std::span<const std::uint8_t>> record_data() const;
  std::uint64_t record_data_bytes() const { return data_bytes_; }

  // Appends a record; attributes are kept in the high nibble and category
  // in the low one. False, and no change, when the database already holds
  // kPdbMaxRecords records, the record exceeds kPdbMaxRecordBytes, or the
  // file would pass 4 GB. `record.data` may view this database's records.
  bool append_record(const PdbRecordView& record);
  // Room for `records` more records of `data_bytes` in all, in one piece.
  void reserve(std::size_t records, std::size_t data_bytes);

  // The same header, blocks and records, however their bytes are chunked.
  bool operator==(const PdbDatabase& other) const;

 private:
  struct Entry {
    std::uint32_t chunk = 0;
    std::uint32_t begin = 0;  // within the chunk
    std::uint32_t size_bytes = 0;
    std::uint32_t attribute_id = 0;  // attribute byte << 24 | unique ID, as on disk
  };
  struct Chunk {
    PageBlock block;
    std::size_t size = 0;  // bytes in use
  };
  Chunk& chunk_with_room(std::size_t bytes);

  std::vector<Entry> entries_;
  std::vector<Chunk> chunks_;
  std::uint64_t data_bytes_ = 0;
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

PdbResult pdb_failure(PdbStatus status, std::size_t offset, std::string reason);

// Where one record lies in its file, with its record list entry.
struct PdbRecordEntry {
  std::uint32_t offset = 0;      // first byte of the record in the file
  std::uint32_t size_bytes = 0;  // at most kPdbMaxRecordBytes
  std::uint8_t attributes = 0;   // record flags: high nibble only
  std::uint8_t category = 0;     // 0 to 15
  std::uint32_t unique_id = 0;   // 24 bits
};

// Where an app-info or sort-info block lies; begin == end for an empty or
// absent one.
struct PdbExtent {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

// All that the header and the record list say about a file.
struct PdbLayout {
  PdbHeader header;
  std::vector<PdbRecordEntry> records;
  PdbExtent app_info;
  PdbExtent sort_info;
};

// How many bytes the header and record list take, from the 78-byte header
// alone: how much of a file a layout check needs.
std::uint64_t pdb_prefix_bytes(std::span<const std::uint8_t, kPdbHeaderBytes> header);

// Checks the whole layout from the header and record list alone: `prefix`
// holds at least the first min(file_bytes, pdb_prefix_bytes) bytes of a
// file of `file_bytes` bytes. Record i runs from its offset to the next
// record's offset, or to the end of file; a non-zero app-info or sort-info
// offset also ends any record that starts before it. `out` is complete
// only when the result is ok.
PdbResult parse_pdb_layout(std::span<const std::uint8_t> prefix, std::uint64_t file_bytes, PdbLayout& out);

// The header's fields and record count, whatever kind of database it is
// (a resource database too): only the name is checked. `header` holds at
// least kPdbHeaderBytes bytes, else the result is `truncated`.
PdbResult decode_pdb_header(std::span<const std::uint8_t> header, PdbHeader& out, std::uint16_t& record_count);

// The layout check alone, for lookups, which need no record data.
PdbResult parse_pdb_header(std::span<const std::uint8_t> prefix, std::uint64_t file_bytes, PdbHeader& header,
                           std::uint16_t& record_count);

// Parses a whole file, laid out as parse_pdb_layout describes. `out` is
// complete only when the result is ok.
PdbResult parse_pdb(std::span<const std::uint8_t> bytes, PdbDatabase& out);

// Why the database cannot be encoded: a name that is empty, longer than
// kPdbMaxNameBytes or holds a zero byte, a resource database, or a file
// that would pass 4 GB.
PdbResult check_pdb_encodable(const PdbDatabase& db);

// Header, record list and the 2 zero bytes after it, as `layout` gives
// them: each record's offset and flags, each info block's start (0 for
// none). Sizes are not checked; the bytes the layout points at are the
// caller's to write.
std::vector<std::uint8_t> encode_pdb_layout(const PdbLayout& layout);

// Header, record list and the 2 zero bytes after it, for a database that
// check_pdb_encodable accepts: what precedes the app-info, sort-info and
// record bytes in the file.
std::vector<std::uint8_t> serialize_pdb_prefix(const PdbDatabase& db);

// The file image: header, record list, 2 zero bytes, app-info, sort-info,
// record data. Empty when check_pdb_encodable refuses the database.
std::vector<std::uint8_t> serialize_pdb(const PdbDatabase& db);

}  // namespace vellora
