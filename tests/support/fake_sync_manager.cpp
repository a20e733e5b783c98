#include "tests/support/fake_sync_manager.h"

#include <algorithm>
#include <cstring>

namespace vellora::testing {

namespace {
std::string name_of(const std::array<char, 32>& field) {
  return std::string(field.data(), strnlen(field.data(), field.size()));
}
}  // namespace

FakeDatabase& FakeSyncManager::add_database(const std::string& name, FourCC type, FourCC creator,
                                            std::uint16_t version) {
  auto& db = databases[name];
  db = FakeDatabase{};
  db.name = name;
  db.type = type;
  db.creator = creator;
  db.version = version;
  return db;
}

std::vector<std::string> FakeSyncManager::call_names() const {
  std::vector<std::string> names;
  for (const auto& call : calls) names.push_back(call.substr(0, call.find('(')));
  return names;
}

bool FakeSyncManager::begin_call(std::string_view line) {
  calls.emplace_back(line);
  if (on_call) on_call(calls.back());
  return static_cast<int>(calls.size()) != fail_call_number;
}

FakeDatabase* FakeSyncManager::open_database(DbHandle handle) {
  auto it = open_.find(handle);
  if (it == open_.end()) return nullptr;
  auto db = databases.find(it->second);
  return db == databases.end() ? nullptr : &db->second;
}

SyncStatus FakeSyncManager::SyncRegisterConduit(ConduitHandle& handle) {
  if (!begin_call("SyncRegisterConduit()")) return failure_code;
  handle = 7;
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncUnRegisterConduit(ConduitHandle handle) {
  if (!begin_call("SyncUnRegisterConduit(" + std::to_string(handle) + ")")) return failure_code;
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle, std::uint8_t mode) {
  if (!begin_call("SyncOpenDB(name=" + std::string(name) + ", card=" + std::to_string(card) +
                  ", mode=" + std::to_string(mode) + ")"))
    return failure_code;
  auto it = databases.find(std::string(name));
  if (it == databases.end()) return kSyncErrNotFound;
  if (it->second.is_open) return 1;
  it->second.is_open = true;
  handle = next_handle_++;
  open_[handle] = it->first;
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncCreateDB(CreateDbRecord& record) {
  const std::string name = name_of(record.name);
  if (!begin_call("SyncCreateDB(name=" + name + ", creator=" + four_cc_text(record.creator) +
                  ", flags=" + std::to_string(record.flags) + ", card=" + std::to_string(record.card) +
                  ", type=" + four_cc_text(record.type) + ", version=" + std::to_string(record.version) + ")"))
    return failure_code;
  if (databases.count(name) != 0) return 2;
  auto& db = add_database(name, record.type, record.creator, record.version);
  db.flags = record.flags;
  db.is_open = true;
  record.handle = next_handle_++;
  open_[record.handle] = name;
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncCloseDB(DbHandle handle) {
  if (!begin_call("SyncCloseDB(" + std::to_string(handle) + ")")) return failure_code;
  auto* db = open_database(handle);
  if (db == nullptr) return 3;
  db->is_open = false;
  open_.erase(handle);
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncDeleteDB(std::string_view name, std::uint8_t card) {
  if (!begin_call("SyncDeleteDB(name=" + std::string(name) + ", card=" + std::to_string(card) + ")"))
    return failure_code;
  auto it = databases.find(std::string(name));
  if (it == databases.end()) return 4;
  if (it->second.is_open) return 5;
  databases.erase(it);
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncWriteRec(RecordDescriptor& record) {
  if (!begin_call("SyncWriteRec(handle=" + std::to_string(record.handle) + ", id=" + std::to_string(record.record_id) +
                  ", attributes=" + std::to_string(record.attributes) +
                  ", category=" + std::to_string(record.category) + ", size=" + std::to_string(record.size) + ")"))
    return failure_code;
  auto* db = open_database(record.handle);
  if (db == nullptr || record.data == nullptr) return 3;
  FakeRecord stored;
  stored.data.assign(record.data, record.data + record.size);
  stored.attributes = record.attributes;
  stored.category = record.category;
  stored.id = record.record_id != 0 ? record.record_id : next_record_id_++;
  record.record_id = stored.id;
  db->records.push_back(std::move(stored));
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncReadRecordByIndex(RecordDescriptor& record) {
  if (!begin_call("SyncReadRecordByIndex(handle=" + std::to_string(record.handle) + ", index=" +
                  std::to_string(record.index) + ", buffer_size=" + std::to_string(record.buffer_size) + ")"))
    return failure_code;
  auto* db = open_database(record.handle);
  if (db == nullptr || record.index >= db->records.size()) return 6;
  const auto& stored = db->records[record.index];
  const std::size_t n = std::min<std::size_t>(stored.data.size(), record.buffer_size);
  if (n > 0 && record.data != nullptr) std::memcpy(record.data, stored.data.data(), n);
  record.size = static_cast<std::uint32_t>(stored.data.size());
  record.category = stored.category;
  record.attributes = stored.attributes;
  record.record_id = stored.id;
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncFindDbByName(const FindDbRequest& request, DbInfo& found) {
  if (!begin_call("SyncFindDbByName(name=" + request.name + ")")) return failure_code;
  auto it = databases.find(request.name);
  if (it == databases.end()) return kSyncErrNotFound;
  found = DbInfo{};
  found.name = it->second.name;
  found.type = it->second.type;
  found.creator = it->second.creator;
  found.version = it->second.version;
  found.record_count = static_cast<std::uint16_t>(it->second.records.size());
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncReadSingleCardInfo(CardInfo& info) {
  if (!begin_call("SyncReadSingleCardInfo(card=" + std::to_string(info.card) + ")")) return failure_code;
  info.free_bytes = free_bytes;
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) {
  if (!begin_call("SyncGetDBRecordCount(" + std::to_string(handle) + ")")) return failure_code;
  auto* db = open_database(handle);
  if (db == nullptr) return 3;
  count = static_cast<std::uint16_t>(db->records.size());
  return kSyncOk;
}

SyncStatus FakeSyncManager::SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) {
  if (!begin_call("SyncReadOpenDbInfo(" + std::to_string(handle) + ")")) return failure_code;
  auto* db = open_database(handle);
  if (db == nullptr) return 3;
  info = DbInfo{};
  info.name = db->name;
  info.type = db->type;
  info.creator = db->creator;
  info.version = db->version;
  info.flags = static_cast<std::uint16_t>(db->flags);
  info.record_count = static_cast<std::uint16_t>(db->records.size());
  return kSyncOk;
}

SyncStatus FakeSyncManager::flush_pending_writes() {
  if (before_flush) before_flush();
  if (!begin_call("flush_pending_writes()")) return failure_code;
  return kSyncOk;
}

}  // namespace vellora::testing
