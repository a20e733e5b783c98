// PalmSyncManager: packs, calls SYNC20.dll, unpacks. Names are handed
// over zero-terminated in the ANSI code page, as the core holds them.
#include "hosts/windows/palm_sync_manager.h"

#include <cstdio>
#include <string>

#include "hosts/windows/packed_records.h"
#include "hosts/windows/palm_libraries.h"

namespace vellora::win32 {

namespace {

// The library is 32-bit and so is this host: a pointer is its address.
static_assert(sizeof(void*) == sizeof(Address32), "the conduit library is a 32-bit library");

Address32 address_of(const void* pointer) { return static_cast<Address32>(reinterpret_cast<std::uintptr_t>(pointer)); }

SyncStatus as_core_status(SyncStatus status) { return status == kPalmErrNotFound ? kSyncErrNotFound : status; }

}  // namespace

SyncStatus PalmSyncManager::SyncRegisterConduit(ConduitHandle& handle) {
  std::uint32_t registered = 0;
  const SyncStatus status = ::SyncRegisterConduit(&registered);
  handle = registered;
  return status;
}

SyncStatus PalmSyncManager::SyncUnRegisterConduit(ConduitHandle handle) { return ::SyncUnRegisterConduit(handle); }

SyncStatus PalmSyncManager::SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle, std::uint8_t mode) {
  const std::string zero_terminated(name);
  std::uint8_t opened = 0;
  const SyncStatus status = ::SyncOpenDB(zero_terminated.c_str(), card, &opened, mode);
  handle = opened;
  return as_core_status(status);
}

SyncStatus PalmSyncManager::SyncCreateDB(CreateDbRecord& record) {
  auto packed = encode_create_db_record(record);
  const SyncStatus status = ::SyncCreateDB(packed.data());
  record.handle = packed[0];
  return status;
}

SyncStatus PalmSyncManager::SyncCloseDB(DbHandle handle) { return ::SyncCloseDB(handle); }

SyncStatus PalmSyncManager::SyncDeleteDB(std::string_view name, std::uint8_t card) {
  const std::string zero_terminated(name);
  return as_core_status(::SyncDeleteDB(zero_terminated.c_str(), card));
}

SyncStatus PalmSyncManager::SyncWriteRec(RecordDescriptor& record) {
  auto packed = encode_record_descriptor(record, address_of(record.data));
  const SyncStatus status = ::SyncWriteRec(packed.data());
  decode_record_descriptor(packed, record);
  return status;
}

SyncStatus PalmSyncManager::SyncReadRecordByIndex(RecordDescriptor& record) {
  auto packed = encode_record_descriptor(record, address_of(record.data));
  const SyncStatus status = ::SyncReadRecordByIndex(packed.data());
  decode_record_descriptor(packed, record);
  return as_core_status(status);
}

SyncStatus PalmSyncManager::SyncFindDbByName(const FindDbRequest& request, DbInfo& found) {
  const std::string name = request.name;
  auto packed_request = encode_find_db_request(request, address_of(name.c_str()));
  DbInfoBytes packed_info{};
  const SyncStatus status = ::SyncFindDbByName(packed_request.data(), packed_info.data());
  if (status == kSyncOk) found = decode_db_info(packed_info);
  return as_core_status(status);
}

SyncStatus PalmSyncManager::SyncReadSingleCardInfo(CardInfo& info) {
  auto packed = encode_card_info_request(info.card);
  const SyncStatus status = ::SyncReadSingleCardInfo(packed.data());
  if (status == kSyncOk) info = decode_card_info(packed);
  return status;
}

SyncStatus PalmSyncManager::SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) {
  std::uint16_t records = 0;
  const SyncStatus status = ::SyncGetDBRecordCount(handle, &records);
  count = records;
  return status;
}

SyncStatus PalmSyncManager::SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) {
  auto packed_request = encode_open_db_info_request(handle);
  DbInfoBytes packed_info{};
  const SyncStatus status = ::SyncReadOpenDbInfo(packed_request.data(), packed_info.data());
  if (status == kSyncOk) info = decode_db_info(packed_info);
  return status;
}

std::string PalmSyncManager::error_text(SyncStatus status) const {
  char text[48];
  std::snprintf(text, sizeof text, "Sync Manager error 0x%04lX", static_cast<unsigned long>(status));
  return text;
}

}  // namespace vellora::win32
