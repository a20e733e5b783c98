// Reading and rebuilding the catalog database: the receive pass reads every
// record once, clears the marks it acted on, and writes the catalog anew in
// place of the old one.
#include "conduit/catalog.h"

#include <algorithm>

#include "base/byte_order.h"

namespace vellora {

namespace {

// A failed call, in the handheld's own words; the database is closed after
// the words are taken, since closing replaces the handheld's last error.
CatalogResult fail_and_close(SyncManager& sync, DbHandle handle, const std::string& what, SyncStatus status) {
  CatalogResult result{CatalogStatus::failed, what + " failed on the handheld: " + sync.error_text(status)};
  sync.SyncCloseDB(handle);
  return result;
}

}  // namespace

std::string CatalogEntry::name() const {
  const auto* begin = reinterpret_cast<const char*>(bytes.data());
  const auto* end = std::find(begin, begin + kCatalogNameBytes, '\0');
  return std::string(begin, end);
}

bool CatalogEntry::is_marked() const { return get_be16(bytes.data() + kCatalogNameBytes) != 0; }

void CatalogEntry::set_mark(std::uint16_t mark) { put_be16(bytes.data() + kCatalogNameBytes, mark); }

CatalogResult read_catalog(SyncManager& sync, std::vector<CatalogEntry>& out) {
  out.clear();
  DbHandle handle = 0;
  if (SyncStatus status = sync.SyncOpenDB(kCatalogName, 0, handle, kCatalogOpenMode); status != kSyncOk) {
    if (status == kSyncErrNotFound) return {CatalogStatus::missing, {}};
    return {CatalogStatus::failed, "damaged or unreadable, so it was left as it is: " + sync.error_text(status)};
  }
  DbInfo info;
  if (SyncStatus status = sync.SyncReadOpenDbInfo(handle, info); status != kSyncOk)
    return fail_and_close(sync, handle, "reading its information", status);
  if (info.type != kCatalogType || info.creator != kCatalogCreator) {
    sync.SyncCloseDB(handle);
    return {CatalogStatus::foreign, "a database of another application (type " + four_cc_text(info.type) +
                                        ", creator " + four_cc_text(info.creator) +
                                        ") has the catalog's name; it was left untouched"};
  }
  std::uint16_t count = 0;
  if (SyncStatus status = sync.SyncGetDBRecordCount(handle, count); status != kSyncOk)
    return fail_and_close(sync, handle, "counting the records", status);
  out.resize(count);
  for (std::uint16_t i = 0; i < count; ++i) {
    RecordDescriptor record;
    record.handle = handle;
    record.index = i;
    record.buffer_size = static_cast<std::uint16_t>(kCatalogRecordBytes);
    record.data = out[i].bytes.data();
    if (SyncStatus status = sync.SyncReadRecordByIndex(record); status != kSyncOk) {
      out.clear();
      return fail_and_close(sync, handle, "reading record " + std::to_string(i), status);
    }
    // Every catalog record is 40 bytes: another size means the catalog was
    // cut short or is not what it seems, and rebuilding it would lose marks.
    if (record.size != kCatalogRecordBytes) {
      sync.SyncCloseDB(handle);
      out.clear();
      return {CatalogStatus::failed, "damaged, so it was left as it is: record " + std::to_string(i) + " is " +
                                         std::to_string(record.size) + " bytes, not " +
                                         std::to_string(kCatalogRecordBytes)};
    }
    out[i].category = record.category;
  }
  sync.SyncCloseDB(handle);
  return {count == 0 ? CatalogStatus::empty : CatalogStatus::ok, {}};
}

CatalogResult rebuild_catalog(SyncManager& sync, const std::vector<CatalogEntry>& entries) {
  // The old catalog must go first: a database name exists only once. If it
  // cannot be deleted the create below fails and says so.
  sync.SyncDeleteDB(kCatalogName, 0);

  CreateDbRecord create;
  create.creator = kCatalogCreator;
  create.flags = 0;
  create.card = 0;
  std::copy(kCatalogName.begin(), kCatalogName.end(), create.name.begin());
  create.type = kCatalogType;
  create.version = kCatalogVersion;
  SyncStatus status = sync.SyncCreateDB(create);
  if (status != kSyncOk) status = sync.SyncCreateDB(create);
  if (status != kSyncOk)
    return {CatalogStatus::failed, "creating the new catalog failed on the handheld: " + sync.error_text(status)};

  for (std::size_t i = 0; i < entries.size(); ++i) {
    auto bytes = entries[i].bytes;
    RecordDescriptor record;
    record.handle = create.handle;
    record.attributes = kRecordAttrDirty;
    record.category = entries[i].category;
    record.size = static_cast<std::uint32_t>(kCatalogRecordBytes);
    record.data = bytes.data();
    status = sync.SyncWriteRec(record);
    if (status != kSyncOk) {
      record.record_id = 0;
      status = sync.SyncWriteRec(record);
    }
    if (status != kSyncOk) return fail_and_close(sync, create.handle, "writing record " + std::to_string(i), status);
  }
  if (status = sync.SyncCloseDB(create.handle); status != kSyncOk)
    return {CatalogStatus::failed, "closing the new catalog failed on the handheld: " + sync.error_text(status)};
  return {};
}

}  // namespace vellora
