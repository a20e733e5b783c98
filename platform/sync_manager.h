// The conduit's only road to the handheld: the Sync Manager calls it makes,
// with the typed structures that travel through them. A host implements
// this interface (the Linux host over a folder of PDB files, the Windows host
// over the real library); the core never reaches the handheld any other way.
//
// Every call returns a status: 0 means success, anything else is the
// implementation's error code. Callers decide which results they examine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellora {

// A four-character code as a 32-bit number whose most significant byte is
// the first character ("VLTx" is 0x564C5478).
using FourCC = std::uint32_t;

constexpr FourCC make_four_cc(std::string_view code) {
  FourCC value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto c = i < code.size() ? static_cast<unsigned char>(code[i]) : 0u;
    value = (value << 8) | c;
  }
  return value;
}

std::string four_cc_text(FourCC code);  // "VLTx"; non-printable bytes as '?'

using SyncStatus = std::int32_t;
constexpr SyncStatus kSyncOk = 0;
// What SyncOpenDB and SyncFindDbByName return, on every host, when no
// database has the name: callers tell "absent" from "there but unusable".
constexpr SyncStatus kSyncErrNotFound = 2;

using ConduitHandle = std::uint32_t;
using DbHandle = std::uint8_t;

// Open modes passed to SyncOpenDB.
constexpr std::uint8_t kOpenRead = 0x80;
constexpr std::uint8_t kOpenWrite = 0x40;
constexpr std::uint8_t kOpenExclusive = 0x10;

// Record attribute written with every new record: the "modified" bit.
constexpr std::uint8_t kRecordAttrDirty = 0x40;

// The record descriptor of a read or write. On a write `size` bytes at
// `data` are stored; on a read at most `buffer_size` bytes are copied to
// `data`, and `size` and `category` report the record found.
struct RecordDescriptor {
  DbHandle handle = 0;
  std::uint32_t record_id = 0;
  std::uint16_t index = 0;
  std::uint8_t attributes = 0;
  std::uint16_t category = 0;
  std::uint32_t size = 0;
  std::uint16_t buffer_size = 0;
  std::uint8_t* data = nullptr;
};

// The create-database record. `handle` is set by the call.
struct CreateDbRecord {
  DbHandle handle = 0;
  FourCC creator = 0;
  std::uint32_t flags = 0;
  std::uint8_t card = 0;
  std::array<char, 32> name{};  // zero-terminated, zero-padded
  FourCC type = 0;
  std::uint16_t version = 0;
};

// Card information of one memory card; the caller sets `card`.
struct CardInfo {
  std::uint8_t card = 0;
  std::uint32_t rom_bytes = 0;
  std::uint32_t ram_bytes = 0;
  std::uint32_t free_bytes = 0;
  std::string card_name;
  std::string manufacturer;
};

// Find-by-name request and what a found database reports.
struct FindDbRequest {
  std::uint8_t options = 0x80;
  std::uint32_t reserved = 0;
  std::string name;
};

struct DbInfo {
  std::uint16_t flags = 0;
  std::uint16_t version = 0;
  FourCC type = 0;
  FourCC creator = 0;
  std::uint32_t modification_number = 0;
  std::uint32_t created = 0;  // seconds since 1904-01-01
  std::uint32_t modified = 0;
  std::uint32_t backed_up = 0;
  std::uint16_t record_count = 0;
  std::uint8_t card = 0;
  std::string name;
};

class SyncManager {
 public:
  virtual ~SyncManager() = default;

  virtual SyncStatus SyncRegisterConduit(ConduitHandle& handle) = 0;
  virtual SyncStatus SyncUnRegisterConduit(ConduitHandle handle) = 0;

  virtual SyncStatus SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle, std::uint8_t mode) = 0;
  virtual SyncStatus SyncCreateDB(CreateDbRecord& record) = 0;
  virtual SyncStatus SyncCloseDB(DbHandle handle) = 0;
  virtual SyncStatus SyncDeleteDB(std::string_view name, std::uint8_t card) = 0;

  // Appends a record to a database opened for writing.
  virtual SyncStatus SyncWriteRec(RecordDescriptor& record) = 0;
  virtual SyncStatus SyncReadRecordByIndex(RecordDescriptor& record) = 0;

  virtual SyncStatus SyncFindDbByName(const FindDbRequest& request, DbInfo& found) = 0;
  virtual SyncStatus SyncReadSingleCardInfo(CardInfo& info) = 0;
  virtual SyncStatus SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) = 0;
  virtual SyncStatus SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) = 0;

  // Makes every database written since the last call durable. A host whose
  // writes are durable when SyncCloseDB returns (the Windows host, whose
  // handheld commits each call) has nothing to do; the Linux host defers
  // its flushes so that a pass writing many databases pays for one. The
  // conduit deletes a sent file only after this succeeded.
  virtual SyncStatus flush_pending_writes() { return kSyncOk; }
  // Counts the database `name`, which a session before this one wrote and
  // may not have flushed, among those the next flush_pending_writes()
  // flushes: the conduit finishes an interrupted session's sends with it.
  virtual SyncStatus add_to_pending_flush(std::string_view name) {
    static_cast<void>(name);
    return kSyncOk;
  }

  // One line saying why the last call failed with `status`, for messages.
  // Implementations that know more than the number say so here.
  virtual std::string error_text(SyncStatus status) const;
};

}  // namespace vellora
