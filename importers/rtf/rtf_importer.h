// The RTF importer: one table-driven pass over a Rich Text Format file into
// the staging files. A group stack saves the formatting state at each '{'
// and restores it at the matching '}'; control words found in a fixed table
// change that state, destinations that hold no body text are skipped, and
// every character that survives is appended to the paragraph buffer with
// the current attribute. Only bold, point size, foreground and highlight
// colour, alignment, left indent and the page colour of a background shape
// reach the handheld; text inside table rows is dropped.
#pragma once

#include <filesystem>
#include <string_view>

#include "importers/import_file.h"

namespace vellora {

// Reads `source` and writes the staging files into `staging_folder`. The
// document is named from `file_name` by the handheld name rule: the send
// folder passes the lower-cased file name, the Word importer the name of
// the .doc file whose RTF `source` holds. A source that cannot be opened or
// read leaves no staging files.
ImportResult ImportRtf(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                       std::string_view file_name, const ImportOptions& options = {});

// The conversion itself, over any byte source; returns the document's
// background colour (the fill colour of a background shape, else white),
// and where an error ended the parse before text still to come.
Converted stage_rtf(ByteSource& input, StagingOutput& out);

}  // namespace vellora
