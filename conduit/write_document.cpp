// A packed document to a new database on the handheld, and the staging
// files' road there.
#include "conduit/write_document.h"

#include "docmodel/records.h"
#include "docmodel/staging.h"

namespace vellora {

namespace {

// Why a call failed, in the handheld's own words. The caller's line names
// the file, so this does not.
std::string reason_for(const char* call, const SyncManager& sync, SyncStatus status) {
  return std::string(call) + " failed on the handheld: " + sync.error_text(status);
}

}  // namespace

BuildResult write_document(const PackedDocument& document, SyncManager& sync) {
  BuildResult result;
  result.database_name = document.name_text();
  result.paragraphs = document.paragraphs;
  result.records = document.record_count();
  result.was_cut = document.was_cut;

  CreateDbRecord create;
  create.creator = kDocumentCreator;
  create.flags = 0;
  create.card = 0;
  create.name = document.name;
  create.type = kDocumentType;
  create.version = kDocumentVersion;
  if (SyncStatus status = sync.SyncCreateDB(create); status != kSyncOk) {
    result.error = BuildError::create_failed;
    result.sync_status = status;
    result.reason = reason_for("creating the database", sync, status);
    return result;
  }
  const auto discard = [&](BuildError error, const char* call, SyncStatus status, bool close) {
    // Taken first: the clean-up calls replace the handheld's last error.
    result.reason = reason_for(call, sync, status);
    if (close) sync.SyncCloseDB(create.handle);
    sync.SyncDeleteDB(result.database_name, 0);
    result.error = error;
    result.sync_status = status;
    return result;
  };
  for (std::size_t i = 0; i < document.record_count(); ++i) {
    const auto bytes = document.record(i);
    RecordDescriptor record;
    record.handle = create.handle;
    record.attributes = kRecordAttrDirty;
    record.size = static_cast<std::uint32_t>(bytes.size());
    // A write only reads the buffer; the descriptor is shared with reads.
    record.data = const_cast<std::uint8_t*>(bytes.data());
    if (SyncStatus status = sync.SyncWriteRec(record); status != kSyncOk)
      return discard(BuildError::write_failed, "writing a record", status, true);
  }
  if (SyncStatus status = sync.SyncCloseDB(create.handle); status != kSyncOk)
    return discard(BuildError::close_failed, "closing the database", status, false);
  return result;
}

BuildResult build_document(const std::filesystem::path& staging_folder, SyncManager& sync) {
  PackedDocument document;
  BuildResult result;
  if (auto packed = pack_document(staging_folder, document); !packed) {
    result.error = BuildError::bad_staging;
    result.reason = packed.reason;
  } else {
    result = write_document(document, sync);
  }
  remove_staging_files(staging_folder);
  return result;
}

}  // namespace vellora
