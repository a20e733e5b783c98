// A handheld over DLP: the Sync Manager calls as DLP requests; see
// dlp_handheld.h. How a request is made and the session kept is in
// dlp_session.cpp.
#include "hosts/linux/hotsync/dlp_handheld.h"

#include <algorithm>
#include <cstdio>

namespace vellora::linux_host {
namespace {

constexpr std::size_t kMostNameBytes = 31;
// A record and its WriteRecord header must fit a short argument.
constexpr std::size_t kMostRecordBytes = kDlpMostArgumentBytes - 8;

std::string name_of(const CreateDbRecord& record) {
  const auto end = std::find(record.name.begin(), record.name.end(), '\0');
  return std::string(record.name.begin(), end);
}

bool is_sendable_name(std::string_view name) {
  return !name.empty() && name.size() <= kMostNameBytes && name.find('\0') == std::string_view::npos;
}

}  // namespace

SyncStatus status_for_dlp_error(std::uint16_t error) {
  switch (error) {
    case kDlpErrNone: return kSyncOk;
    case kDlpErrNotFound: return kSyncErrNotFound;
    case 0x07: return kHandheldAlreadyOpen;
    case 0x08: return kHandheldTooManyOpen;
    case 0x09: return kHandheldExists;
    case 0x03:
    case 0x10:
    case 0x11: return kHandheldFull;
    case 0x0F: return kHandheldBadMode;
    case kDlpErrCancelSync: return kHandheldCancelled;
    default: return kHandheldRefused;
  }
}

SyncStatus DlpHandheld::SyncRegisterConduit(ConduitHandle& handle) {
  handle = 1;
  if (const SyncStatus status = call(DlpFunction::open_conduit, open_conduit_request(), {}); status != kSyncOk) {
    if (status == kHandheldCancelled) {
      cancelled_ = true;
      return fail(status, "the sync was cancelled on the handheld");
    }
    return status;
  }
  if (can_rename()) {
    clear_leftovers();
  } else if (!said_no_rename_ && options_.on_note) {
    said_no_rename_ = true;
    options_.on_note("this handheld speaks DLP " + std::to_string(system_.dlp_major) + "." +
                     std::to_string(system_.dlp_minor) +
                     ", which cannot rename a database: databases are written under their own names, so a link "
                     "lost while one is replaced may lose its old version");
  }
  return lost_ ? kHandheldGone : kSyncOk;
}

SyncStatus DlpHandheld::SyncUnRegisterConduit(ConduitHandle) {
  for (const auto& [handle, db] : open_) {
    call(DlpFunction::close_db, close_db_request(handle), db.name);
    if (!db.temporary.empty()) call(DlpFunction::delete_db, delete_db_request(0, db.temporary), db.name);
  }
  open_.clear();
  for (const std::string& name : replaced_) call(DlpFunction::delete_db, delete_db_request(0, name), name);
  replaced_.clear();
  return lost_ ? kHandheldGone : kSyncOk;
}

SyncStatus DlpHandheld::SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle, std::uint8_t mode) {
  if (card != 0) return fail(kHandheldNoCard, "no card " + std::to_string(card) + " on the handheld");
  if (replaced_.count(std::string(name)) != 0)
    return fail(kSyncErrNotFound, std::string(name) + ": the handheld says not found");
  DlpResponse response;
  // The interface's open modes are the Sync Manager's, whose bits are
  // DLP's own: the catalog's 0xD0 is read, write and show secret records.
  if (const SyncStatus status = call(DlpFunction::open_db, open_db_request(0, mode, name), name, response);
      status != kSyncOk)
    return status;
  if (!db_handle_result(response, handle))
    return fail(kHandheldRefused, "OpenDB of " + std::string(name) + ": the handheld gave no handle");
  open_[handle] = OpenDatabase{std::string(name), {}, false};
  return kSyncOk;
}

SyncStatus DlpHandheld::SyncCreateDB(CreateDbRecord& record) {
  const std::string name = name_of(record);
  if (!is_sendable_name(name)) return fail(kHandheldBadName, "not a name a handheld holds: " + name);
  if (record.card != 0) return fail(kHandheldNoCard, "no card " + std::to_string(record.card) + " on the handheld");
  const auto flags = static_cast<std::uint16_t>(record.flags);
  DlpResponse response;
  std::string temporary;
  SyncStatus status = kSyncOk;
  if (!can_rename()) {
    status = call(DlpFunction::create_db,
                  create_db_request(record.creator, record.type, 0, flags, record.version, name), name, response);
  } else {
    // A name taken by someone else's database is passed over for the next.
    for (int attempt = 0; attempt < 4; ++attempt) {
      char digits[9];
      std::snprintf(digits, sizeof digits, "%08X", next_temporary_++);
      temporary = std::string(kNewDatabasePrefix) + digits;
      status =
          call(DlpFunction::create_db,
               create_db_request(record.creator, record.type, 0, flags, record.version, temporary), name, response);
      if (status != kHandheldExists) break;
    }
  }
  if (status != kSyncOk) return status;
  if (!db_handle_result(response, record.handle))
    return fail(kHandheldRefused, "CreateDB of " + name + ": the handheld gave no handle");
  open_[record.handle] = OpenDatabase{name, temporary, false};
  if (listing_) {
    DbInfo created;
    created.name = name;
    created.type = record.type;
    created.creator = record.creator;
    created.version = record.version;
    created.flags = flags;
    listing_->push_back(std::move(created));
  }
  return kSyncOk;
}

SyncStatus DlpHandheld::publish(DbHandle handle, OpenDatabase& db) {
  const std::string& name = db.name;
  if (SyncStatus status = call(DlpFunction::close_db, close_db_request(handle), name); status != kSyncOk) {
    const std::string why = last_error_;
    call(DlpFunction::delete_db, delete_db_request(0, db.temporary), name);
    abandoned_ = name;
    return fail(status, why);
  }
  // The database it replaces steps aside under a name that says whose it
  // was, so that a lost link leaves it to be put back.
  std::string old_name;
  if (replaced_.erase(name) != 0) {
    const std::string aside = std::string(kOldDatabasePrefix) + name;
    SyncStatus moved = kSyncErrNotFound;
    if (aside.size() <= kMostNameBytes) {
      moved = rename(name, aside);
      if (moved == kHandheldExists) {  // a leftover that the start could not clear
        call(DlpFunction::delete_db, delete_db_request(0, aside), name);
        moved = rename(name, aside);
      }
    }
    if (moved == kSyncOk)
      old_name = aside;
    else if (moved != kSyncErrNotFound && !lost_)
      call(DlpFunction::delete_db, delete_db_request(0, name), name);
  }
  if (SyncStatus status = rename(db.temporary, name); status != kSyncOk) {
    const std::string why = last_error_;
    if (!lost_) {
      call(DlpFunction::delete_db, delete_db_request(0, db.temporary), name);
      if (!old_name.empty()) rename(old_name, name);
    }
    abandoned_ = name;
    return fail(status, why);
  }
  if (!old_name.empty()) call(DlpFunction::delete_db, delete_db_request(0, old_name), name);
  // The new database is in place whatever became of the old one.
  last_error_.clear();
  return kSyncOk;
}

SyncStatus DlpHandheld::SyncCloseDB(DbHandle handle) {
  const auto found = open_.find(handle);
  if (found == open_.end()) return fail(kHandheldBadHandle, "no database open as handle " + std::to_string(handle));
  OpenDatabase db = std::move(found->second);
  open_.erase(found);
  if (db.temporary.empty()) return call(DlpFunction::close_db, close_db_request(handle), db.name);
  if (db.failed) {
    // A write failed: the new database goes, and the caller's deletion of
    // the name that follows leaves the old one alone.
    call(DlpFunction::close_db, close_db_request(handle), db.name);
    call(DlpFunction::delete_db, delete_db_request(0, db.temporary), db.name);
    abandoned_ = db.name;
    return lost_ ? kHandheldGone : kSyncOk;
  }
  return publish(handle, db);
}

SyncStatus DlpHandheld::SyncDeleteDB(std::string_view name, std::uint8_t card) {
  if (card != 0) return fail(kHandheldNoCard, "no card " + std::to_string(card) + " on the handheld");
  if (!abandoned_.empty() && abandoned_ == name) {
    abandoned_.clear();
    return kSyncOk;
  }
  if (!can_rename()) {
    const SyncStatus status = call(DlpFunction::delete_db, delete_db_request(0, name), name);
    if (status == kSyncOk && listing_) std::erase_if(*listing_, [&](const DbInfo& db) { return db.name == name; });
    return status;
  }
  if (!is_sendable_name(name)) return fail(kHandheldBadName, "not a name a handheld holds: " + std::string(name));
  // Deleted when its replacement takes the name, or at the session's end.
  replaced_.insert(std::string(name));
  return lost_ ? kHandheldGone : kSyncOk;
}

SyncStatus DlpHandheld::SyncWriteRec(RecordDescriptor& record) {
  const auto found = open_.find(record.handle);
  if (found == open_.end())
    return fail(kHandheldBadHandle, "no database open as handle " + std::to_string(record.handle));
  OpenDatabase& db = found->second;
  if (record.size > kMostRecordBytes || (record.size != 0 && record.data == nullptr) || record.category > 0xFF) {
    db.failed = true;
    return fail(kHandheldBadRecord, db.name + ": a record of " + std::to_string(record.size) + " bytes");
  }
  DlpResponse response;
  const SyncStatus status =
      call(DlpFunction::write_record,
           write_record_request(record.handle, record.attributes, static_cast<std::uint8_t>(record.category),
                                std::span<const std::uint8_t>(record.data, record.size)),
           db.name, response);
  if (status != kSyncOk) {
    db.failed = true;
    return status;
  }
  std::uint32_t id = 0;
  if (!record_id_result(response, id)) {
    db.failed = true;
    return fail(kHandheldRefused, "WriteRecord of " + db.name + ": the handheld gave no record ID");
  }
  record.record_id = id;
  return kSyncOk;
}

SyncStatus DlpHandheld::SyncReadRecordByIndex(RecordDescriptor& record) {
  const auto found = open_.find(record.handle);
  if (found == open_.end())
    return fail(kHandheldBadHandle, "no database open as handle " + std::to_string(record.handle));
  DlpResponse response;
  if (const SyncStatus status =
          call(DlpFunction::read_record, read_record_by_index_request(record.handle, record.index), found->second.name,
               response);
      status != kSyncOk)
    return status;
  DlpRecord read;
  if (!read_record_result(response, read))
    return fail(kHandheldRefused, "ReadRecord of " + found->second.name + ": the answer is too short");
  if (read.data.size() < read.size)
    return fail(kHandheldRefused, "ReadRecord of " + found->second.name + ": the handheld sent part of the record");
  record.record_id = read.id;
  record.attributes = read.attributes;
  record.category = read.category;
  record.size = read.size;
  if (record.data != nullptr)
    std::copy_n(read.data.begin(), std::min<std::size_t>(read.size, record.buffer_size), record.data);
  return kSyncOk;
}

SyncStatus DlpHandheld::find_by_listing(std::string_view name, DbInfo& found) {
  if (!listing_) {
    std::vector<DbInfo> databases;
    if (const SyncStatus status = list_databases(databases); status != kSyncOk) return status;
    listing_ = std::move(databases);
  }
  for (const DbInfo& db : *listing_) {
    if (db.name == name) {
      found = db;
      return kSyncOk;
    }
  }
  return fail(kSyncErrNotFound, std::string(name) + ": the handheld says not found");
}

SyncStatus DlpHandheld::SyncFindDbByName(const FindDbRequest& request, DbInfo& found) {
  if (replaced_.count(request.name) != 0) return fail(kSyncErrNotFound, request.name + ": the handheld says not found");
  if (!is_sendable_name(request.name)) return fail(kSyncErrNotFound, request.name + ": not a name a handheld holds");
  if (!can_rename()) return find_by_listing(request.name, found);
  DlpResponse response;
  if (const SyncStatus status =
          call(DlpFunction::find_db, find_db_by_name_request(0, request.name), request.name, response);
      status != kSyncOk)
    return status;
  if (!find_db_result(response, found))
    return fail(kHandheldRefused, "FindDB of " + request.name + ": the answer is too short");
  return kSyncOk;
}

SyncStatus DlpHandheld::SyncReadSingleCardInfo(CardInfo& info) {
  if (info.card != 0) return fail(kHandheldNoCard, "no card " + std::to_string(info.card) + " on the handheld");
  DlpResponse response;
  if (const SyncStatus status = call(DlpFunction::read_storage_info, read_storage_info_request(0), {}, response);
      status != kSyncOk)
    return status;
  if (!read_storage_info_result(response, info))
    return fail(kHandheldRefused, "ReadStorageInfo: the handheld described no card");
  return kSyncOk;
}

SyncStatus DlpHandheld::SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) {
  const auto found = open_.find(handle);
  if (found == open_.end()) return fail(kHandheldBadHandle, "no database open as handle " + std::to_string(handle));
  DlpResponse response;
  if (const SyncStatus status =
          call(DlpFunction::read_open_db_info, read_open_db_info_request(handle), found->second.name, response);
      status != kSyncOk)
    return status;
  if (!record_count_result(response, count))
    return fail(kHandheldRefused, "ReadOpenDBInfo of " + found->second.name + ": the answer is too short");
  return kSyncOk;
}

SyncStatus DlpHandheld::SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) {
  const auto found = open_.find(handle);
  if (found == open_.end()) return fail(kHandheldBadHandle, "no database open as handle " + std::to_string(handle));
  const std::string name = found->second.name;
  if (!can_rename()) {
    if (const SyncStatus status = find_by_listing(name, info); status != kSyncOk) return status;
  } else {
    DlpResponse response;
    if (const SyncStatus status = call(DlpFunction::find_db, find_db_by_handle_request(handle), name, response);
        status != kSyncOk)
      return status;
    if (!find_db_result(response, info))
      return fail(kHandheldRefused, "FindDB of " + name + ": the answer is too short");
  }
  return SyncGetDBRecordCount(handle, info.record_count);
}

std::string DlpHandheld::error_text(SyncStatus status) const {
  if (!last_error_.empty()) return last_error_;
  return "error " + std::to_string(status);
}

}  // namespace vellora::linux_host
