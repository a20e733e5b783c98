// A read-only handheld in memory holding one document database whose
// records are cut from a fuzz input, so readers of document databases can
// be fuzzed without files or PDB parsing in between. The database is type
// VLTx, creator bhV1, version 2: every input reaches the record decoding.
//
// Input format: records back to back, each a 16-bit big-endian length and
// that many bytes; the last record takes whatever bytes remain when its
// length claims more. The records view the input; nothing is copied.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "docmodel/records.h"
#include "platform/sync_manager.h"

namespace vellora::fuzz {

class MemoryHandheld : public SyncManager {
 public:
  static constexpr std::string_view kDatabaseName = "fuzz.htm";
  static constexpr DbHandle kHandle = 1;
  static constexpr SyncStatus kNotSupported = -1;  // this handheld cannot be written

  MemoryHandheld(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size && records_.size() < 0xFFFF) {
      std::size_t length = std::size_t{data[at++]} << 8;
      if (at < size) length |= data[at++];
      length = std::min(length, size - at);
      records_.emplace_back(data + at, length);
      at += length;
    }
  }

  std::size_t record_count() const { return records_.size(); }
  std::span<const std::uint8_t> record(std::size_t index) const { return records_[index]; }

  SyncStatus SyncRegisterConduit(ConduitHandle& handle) override {
    handle = 1;
    return kSyncOk;
  }
  SyncStatus SyncUnRegisterConduit(ConduitHandle) override { return kSyncOk; }

  SyncStatus SyncOpenDB(std::string_view name, std::uint8_t, DbHandle& handle, std::uint8_t) override {
    if (name != kDatabaseName) return kSyncErrNotFound;
    if (is_open_) return kNotSupported;
    is_open_ = true;
    handle = kHandle;
    return kSyncOk;
  }
  SyncStatus SyncCreateDB(CreateDbRecord&) override { return kNotSupported; }
  SyncStatus SyncCloseDB(DbHandle handle) override {
    if (!is_open(handle)) return kNotSupported;
    is_open_ = false;
    return kSyncOk;
  }
  SyncStatus SyncDeleteDB(std::string_view, std::uint8_t) override { return kNotSupported; }
  SyncStatus SyncWriteRec(RecordDescriptor&) override { return kNotSupported; }

  // Copies at most `buffer_size` bytes and reports the record's full size,
  // as the Sync Manager does.
  SyncStatus SyncReadRecordByIndex(RecordDescriptor& record) override {
    if (!is_open(record.handle) || record.index >= records_.size()) return kNotSupported;
    const auto stored = records_[record.index];
    const std::size_t copied = std::min<std::size_t>(stored.size(), record.buffer_size);
    if (copied > 0 && record.data != nullptr) std::memcpy(record.data, stored.data(), copied);
    record.size = static_cast<std::uint32_t>(stored.size());
    record.category = 0;
    record.attributes = kRecordAttrDirty;
    record.record_id = record.index + 1u;
    return kSyncOk;
  }

  SyncStatus SyncFindDbByName(const FindDbRequest& request, DbInfo& found) override {
    if (request.name != kDatabaseName) return kSyncErrNotFound;
    found = info();
    return kSyncOk;
  }
  SyncStatus SyncReadSingleCardInfo(CardInfo& info) override {
    info.free_bytes = 0;
    return kSyncOk;
  }
  SyncStatus SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) override {
    if (!is_open(handle)) return kNotSupported;
    count = static_cast<std::uint16_t>(records_.size());
    return kSyncOk;
  }
  SyncStatus SyncReadOpenDbInfo(DbHandle handle, DbInfo& found) override {
    if (!is_open(handle)) return kNotSupported;
    found = info();
    return kSyncOk;
  }

 private:
  bool is_open(DbHandle handle) const { return is_open_ && handle == kHandle; }
  DbInfo info() const {
    DbInfo found;
    found.name = std::string(kDatabaseName);
    found.type = kDocumentType;
    found.creator = kDocumentCreator;
    found.version = kDocumentVersion;
    found.record_count = static_cast<std::uint16_t>(records_.size());
    return found;
  }

  std::vector<std::span<const std::uint8_t>> records_;
  bool is_open_ = false;
};

}  // namespace vellora::fuzz
