// Writing a packed document to the handheld as a new database through the
// Sync Manager: create, one write per record, close. The document is
// complete in memory before the first call, and a database that could not
// be written completely is deleted again, so the handheld never keeps a
// partial document under the document's name.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "docmodel/packer.h"
#include "platform/sync_manager.h"

namespace vellora {

enum class BuildError { none, bad_staging, create_failed, write_failed, close_failed };

struct BuildResult {
  BuildError error = BuildError::none;
  std::string reason;                // one line, for the user
  SyncStatus sync_status = kSyncOk;  // the failing call's status
  std::string database_name;
  std::size_t paragraphs = 0;
  std::size_t records = 0;
  bool was_cut = false;
  explicit operator bool() const { return error == BuildError::none; }
};

// Creates the database, writes every record and closes it. If any call
// fails, a database that was created is closed and deleted again.
BuildResult write_document(const PackedDocument& document, SyncManager& sync);

// pack_document + write_document, then deletes the staging files, whatever
// happened. Nothing reaches the handheld unless the staging files are valid.
BuildResult build_document(const std::filesystem::path& staging_folder, SyncManager& sync);

}  // namespace vellora
