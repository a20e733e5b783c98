// The document types both sync directions share, in their fixed order:
// .txt, .htm, .doc, .rtf. A type's position + 1 is its number in the
// handheld's catalog, and the position picks the importer of a PC file.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "importers/import_result.h"

namespace vellora {

// Reads `source`, writes the staging files into `staging_folder`, and names
// the document from `file_name` by the handheld name rule.
using Importer = ImportResult (*)(const std::filesystem::path& source,
                                  const std::filesystem::path& staging_folder,
                                  std::string_view file_name);

struct DocumentType {
  std::string_view extension;  // lower case, with the dot
  Importer import;             // null while that importer is not built yet
};

std::span<const DocumentType> document_types();

// The type of a lower-cased extension (".html" counts as ".htm"); null for
// an extension that is not a document.
const DocumentType* find_document_type(std::string_view extension);

std::string to_lower_ascii(std::string_view text);

}  // namespace vellora
