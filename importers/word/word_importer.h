// The Word importer: a .doc file is handed to an installed text converter
// that turns it into RTF, and the RTF importer reads that. The converters
// are the libraries registered for Word 6 and Word 8 documents, asked in
// that order; when neither takes the file, a file that is RTF already (an
// RTF file saved under a .doc name) is read as RTF.
#pragma once

#include <filesystem>
#include <string_view>

#include "importers/import_file.h"
#include "platform/text_converter.h"

namespace vellora {

// The converter's RTF is collected in a file of this name before the RTF
// importer reads it. The file is made new, never through a link, in a
// private folder made for it in the staging folder (the prefix and six
// characters); both are deleted afterwards. So nothing the user keeps in
// the staging folder under that name is written, read or deleted.
inline constexpr std::string_view kWordTempFile = "$$!!doc_file_temp!!$$.tmp";
inline constexpr std::string_view kWordWorkFolderPrefix = ".vellora-word-";

// Imports `source` into staging files in `staging_folder`, named from
// `file_name`. A conversion that fails, and a file that no converter takes
// and that is not RTF, write no staging files and report why.
ImportResult ImportWordDocument(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                                std::string_view file_name, const ImportOptions& options = {});

// Removes what a killed conversion left in `staging_folder`: its private
// folders, and an empty regular file named kWordTempFile, which older
// versions left behind. A file of that name with anything in it is the
// user's and stays. Call it only where no conversion can be running, as in
// a send folder that the session holds.
void remove_stale_word_work(const std::filesystem::path& staging_folder);

}  // namespace vellora
