// The text exporter: writes a document database from the handheld as a
// plain-text file, one line per paragraph. Only the characters survive;
// alignment, fonts, colours and rules are dropped, and the handheld's line
// breaks inside a paragraph do not appear.
#pragma once

#include <filesystem>
#include <string_view>

#include "exporters/export_options.h"
#include "exporters/export_result.h"
#include "platform/sync_manager.h"

namespace vellora {

// Opens the database `database_name` on the handheld and writes its text to
// `output` (created or replaced). A database that cannot be opened, holds no
// paragraph, is not a version 2 document produces no file; a failed read or
// write removes what was written. The options are not used: plain text has
// no fonts.
ExportResult ExportText(SyncManager& sync, std::string_view database_name, const std::filesystem::path& output,
                        const ExportOptions& options = {});

}  // namespace vellora
