// The HTML exporter: writes a document database from the handheld as an
// HTML file. Each paragraph record becomes one element: a text record a
// paragraph with its alignment and one font element per run (colour, size,
// bold), an empty line a line break, a rule a horizontal rule. A first
// paragraph followed by a rule is the document's title. The handheld's
// line breaks inside a paragraph and its highlights do not appear.
#pragma once

#include <filesystem>
#include <string_view>

#include "exporters/export_options.h"
#include "exporters/export_result.h"
#include "platform/sync_manager.h"

namespace vellora {

// The maker's web site, named in the comment at the top of every file.
inline constexpr std::string_view kMakerWebAddress = "http://www.brisholm.co.uk";

// Opens the database `database_name` on the handheld and writes it as HTML
// to `output` (created or replaced), with `options.font_name` as the base
// font face (the font size is not used). A database that cannot be opened,
// holds no paragraph, or is not a version 2 document produces no file; a
// failed read or write removes what was written.
ExportResult ExportHtml(SyncManager& sync, std::string_view database_name, const std::filesystem::path& output,
                        const ExportOptions& options = {});

}  // namespace vellora
