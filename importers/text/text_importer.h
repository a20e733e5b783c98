// The plain-text importer: every line of a .txt file becomes one left-aligned
// paragraph in the default attributes (standard font, black, no highlight).
// Tabs become eight spaces, carriage returns are dropped, and lines longer
// than a paragraph are split every 1024 characters.
#pragma once

#include <filesystem>
#include <string_view>

#include "importers/import_file.h"

namespace vellora {

// Reads `source` and writes the staging files into `staging_folder`. The
// document is named from `file_name` by the handheld name rule (the send
// folder passes the lower-cased file name). A source that cannot be opened
// or read leaves no staging files.
ImportResult ImportText(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                        std::string_view file_name, const ImportOptions& options = {});

// The conversion itself, over any byte source; the background is white,
// and a text file is always converted whole.
Converted stage_text(ByteSource& input, StagingOutput& out);

}  // namespace vellora
