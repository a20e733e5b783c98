// The HTML importer: one streaming pass over an .htm file, without a
// document tree, into the staging files. Text is collected into paragraphs
// with one attribute cell per character; 42 tag names change the style
// (headings, bold, font sizes and colours, alignment, lists, tables with
// rules, preformatted and hidden text, the title), every other tag is
// skipped, and character references are decoded when a paragraph ends.
// Nothing before the opening html tag is imported.
#pragma once

#include <filesystem>
#include <string_view>

#include "importers/import_file.h"

namespace vellora {

// Reads `source` and writes the staging files into `staging_folder`. The
// document is named from `file_name` by the handheld name rule. A source
// that cannot be opened or read leaves no staging files.
ImportResult ImportHtml(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                        std::string_view file_name, const ImportOptions& options = {});

// The conversion itself, over any byte source; returns the background
// colour that the body tag set (white by default), and where a title was
// too long.
Converted stage_html(ByteSource& input, StagingOutput& out);

}  // namespace vellora
