// A small PDB-folder handheld in standard C++ only, for the stand-in Sync
// Manager library that the Windows tests load in place of the real one.
// It writes the same files as the Linux host (one PDB file per database,
// through the same codec and named by the same rule), so a session through the
// conduit library leaves the same bytes as one through the Linux tool,
// dates aside. It is deliberately simpler than the Linux host: no folder
// lock, no index, no crash safety beyond writing a temporary file and
// renaming it, and a deleted database's file goes at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sync_manager.h"

namespace vellora::stand_in {

// Status codes besides kSyncOk and kSyncErrNotFound.
constexpr SyncStatus kStoreBadHandle = 5;
constexpr SyncStatus kStoreBadName = 7;
constexpr SyncStatus kStoreBadRecord = 8;
constexpr SyncStatus kStoreNoRecord = 9;
constexpr SyncStatus kStoreIoError = 11;
constexpr SyncStatus kStoreExists = 3;

struct StoredRecord {
  std::vector<std::uint8_t> data;
  std::uint8_t attributes = 0;  // high nibble
  std::uint8_t category = 0;    // low nibble
  std::uint32_t unique_id = 0;  // 24 bits
};

struct StoredDatabase {
  DbInfo info;  // name, flags, version, type, creator, dates, modification number
  std::uint32_t unique_id_seed = 1;
  std::vector<StoredRecord> records;
};

// Through the PDB codec of the core, as the Linux host writes and reads.
std::vector<std::uint8_t> serialize(const StoredDatabase& db);
// False for anything that is not a record database in the standard layout.
bool parse(const std::vector<std::uint8_t>& bytes, StoredDatabase& out);

class PdbFolderStore final : public SyncManager {
 public:
  // `now` gives the handheld time (seconds since 1904) for new dates.
  PdbFolderStore(std::filesystem::path folder, std::uint32_t (*now)());

  SyncStatus SyncRegisterConduit(ConduitHandle& handle) override;
  SyncStatus SyncUnRegisterConduit(ConduitHandle handle) override;
  SyncStatus SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle, std::uint8_t mode) override;
  SyncStatus SyncCreateDB(CreateDbRecord& record) override;
  SyncStatus SyncCloseDB(DbHandle handle) override;
  SyncStatus SyncDeleteDB(std::string_view name, std::uint8_t card) override;
  SyncStatus SyncWriteRec(RecordDescriptor& record) override;
  SyncStatus SyncReadRecordByIndex(RecordDescriptor& record) override;
  SyncStatus SyncFindDbByName(const FindDbRequest& request, DbInfo& found) override;
  SyncStatus SyncReadSingleCardInfo(CardInfo& info) override;
  SyncStatus SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) override;
  SyncStatus SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) override;

 private:
  struct Open {
    StoredDatabase db;
    std::filesystem::path file;  // empty until a created database is closed
    bool is_modified = false;
  };
  // The file holding a valid database of that name, or an empty path.
  std::filesystem::path find_file(std::string_view name, StoredDatabase* db = nullptr) const;

  std::filesystem::path folder_;
  std::uint32_t (*now_)();
  std::map<DbHandle, Open> open_;
  DbHandle next_handle_ = 1;
};

}  // namespace vellora::stand_in
