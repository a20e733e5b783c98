// The RTF exporter: writes a document database from the handheld as a Rich
// Text Format file. Every paragraph record becomes one RTF paragraph: a
// text record keeps its alignment and, run by run, its colour, highlight,
// point size and bold; empty lines and rules become empty paragraphs. The
// header's background colour becomes the page background. The handheld's
// line breaks inside a paragraph do not appear.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "exporters/export_options.h"
#include "exporters/export_result.h"
#include "platform/sync_manager.h"

namespace vellora {

// The base font size is kept to this range so that the largest run size,
// 2 x size + 8 half-points, is still a 16-bit number.
constexpr std::uint32_t kMinRtfFontSize = 1;
constexpr std::uint32_t kMaxRtfFontSize = 32763;

// Opens the database `database_name` on the handheld and writes it as RTF
// to `output` (created or replaced), with `options.font_name` as the font
// face and `options.font_size` (kept to 1 to 32,763 points) as the size of
// standard text; bold text is 2 points larger, large text 4. A database
// that cannot be opened, holds no paragraph, or is not a version 2 document
// produces no file; a failed read or write removes what was written.
ExportResult ExportRtf(SyncManager& sync, std::string_view database_name, const std::filesystem::path& output,
                       const ExportOptions& options = {});

}  // namespace vellora
