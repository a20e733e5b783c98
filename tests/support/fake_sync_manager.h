// An in-memory handheld that records every call made to it, so tests can
// assert the exact calls a component makes and inject a failure at any one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sync_manager.h"

namespace vellora::testing {

struct FakeRecord {
  std::vector<std::uint8_t> data;
  std::uint8_t attributes = 0;
  std::uint16_t category = 0;
  std::uint32_t id = 0;
};

struct FakeDatabase {
  std::string name;
  FourCC type = 0;
  FourCC creator = 0;
  std::uint16_t version = 0;
  std::uint32_t flags = 0;
  std::vector<FakeRecord> records;
  bool is_open = false;
};

class FakeSyncManager : public SyncManager {
 public:
  // One line per call, e.g. "SyncCreateDB(name=a.txt, creator=bhV1,
  // flags=0, card=0, type=VLTx, version=2)".
  std::vector<std::string> calls;
  std::map<std::string, FakeDatabase> databases;  // by name
  std::uint32_t free_bytes = 8u << 20;
  // The call with this 1-based number fails with `failure_code` and has no
  // effect; 0 never fails.
  int fail_call_number = 0;
  SyncStatus failure_code = -2;
  // The failing call was reached: a failure-injection loop stops at the
  // first run that makes fewer calls than its failure number.
  bool failure_was_injected() const {
    return fail_call_number > 0 && static_cast<int>(calls.size()) >= fail_call_number;
  }

  FakeDatabase& add_database(const std::string& name, FourCC type, FourCC creator, std::uint16_t version = 1);
  // Names of the calls made, without arguments.
  std::vector<std::string> call_names() const;

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
  // Logged as "flush_pending_writes()"; fails like any call. Runs
  // `before_flush` first, so a test can look at the PC side then.
  SyncStatus flush_pending_writes() override;
  std::function<void()> before_flush;
  // Runs at the start of every call with its line: a test changes the PC
  // side at a chosen moment of a pass.
  std::function<void(const std::string& call)> on_call;

 private:
  bool begin_call(std::string_view line);  // logs; false when this call must fail
  FakeDatabase* open_database(DbHandle handle);
  std::map<DbHandle, std::string> open_;
  DbHandle next_handle_ = 1;
  std::uint32_t next_record_id_ = 1;
};

}  // namespace vellora::testing
