// The document types both sync directions share, in their fixed order:
// .txt, .htm, .doc, .rtf. A type's position + 1 is its number in the
// handheld's catalog; the position picks the importer of a PC file, the
// number the exporter of a handheld document (a .doc comes back as RTF).
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "exporters/export_options.h"
#include "exporters/export_result.h"
#include "importers/import_file.h"
// For remove_stale_word_work, which a send pass runs on its folder first.
#include "importers/word/word_importer.h"
#include "platform/sync_manager.h"

namespace vellora {

// Reads `source`, writes the staging files into `staging_folder`, and names
// the document from `file_name` by the handheld name rule.
using Importer = ImportResult(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                              std::string_view file_name, const ImportOptions& options);

// Writes the handheld database `database_name` into the file `output`.
using Exporter = ExportResult(SyncManager& sync, std::string_view database_name, const std::filesystem::path& output,
                              const ExportOptions& options);

struct DocumentType {
  int number;                  // 1 to 4, the category in the handheld's catalog
  std::string_view extension;  // lower case, with the dot
  // References, so a row without its importer or exporter cannot be written.
  Importer& import;
  Exporter& export_to;
  // False where export_to writes another type's format, so that asking
  // for this type by name would give a file that is not of it.
  bool is_exported_in_own_format;
  // True where reading a file costs about as much as laying it out, so that
  // a large one is worth laying out on a second thread while it is read.
  // Plain text is read faster than its paragraphs could be handed over.
  bool is_laid_out_while_read;
};

std::span<const DocumentType> document_types();

// The type of a lower-cased extension (".html" counts as ".htm"); null for
// an extension that is not a document.
const DocumentType* find_document_type(std::string_view extension);
// The type with that catalog number; null outside 1 to 4.
const DocumentType* document_type_number(int number);

// Why a file is no document, its extensions listed from the table:
// "not a document type the handheld takes (.txt, .htm, .html, .doc, .rtf)".
std::string not_a_document_type_reason();

}  // namespace vellora
