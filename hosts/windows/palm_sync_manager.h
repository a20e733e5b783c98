// The Windows host's SyncManager: every call goes to the handheld maker's
// Sync Manager library, with the typed structures packed into its
// parameter records before the call and unpacked after it.
#pragma once

#include "platform/sync_manager.h"

namespace vellora::win32 {

// The library's "not found" answer, which the core knows as
// kSyncErrNotFound on every host.
constexpr SyncStatus kPalmErrNotFound = 0x4003;

class PalmSyncManager : public SyncManager {
 public:
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
  std::string error_text(SyncStatus status) const override;
};

}  // namespace vellora::win32
