// The table of document types in the fixed order both passes share, and
// lookups by extension and by catalog number.
#include "conduit/document_types.h"

#include <array>
#include <type_traits>

#include "exporters/html_exporter.h"
#include "exporters/rtf_exporter.h"
#include "exporters/text_exporter.h"
#include "importers/html/html_importer.h"
#include "importers/rtf/rtf_importer.h"
#include "importers/text/text_importer.h"
#include "importers/word/word_importer.h"

namespace vellora {

namespace {

constexpr std::array<DocumentType, 4> kDocumentTypes = {{
    {1, ".txt", ImportText, ExportText, true, false},
    {2, ".htm", ImportHtml, ExportHtml, true, true},
    {3, ".doc", ImportWordDocument, ExportRtf, false, true},  // a .doc target holds RTF
    {4, ".rtf", ImportRtf, ExportRtf, true, true},
}};

// Every row has both converters: the members are references, not pointers
// that a row could leave null.
static_assert(std::is_reference_v<decltype(DocumentType::import)> &&
                  std::is_reference_v<decltype(DocumentType::export_to)>,
              "each document type needs its importer and its exporter");

}  // namespace

std::span<const DocumentType> document_types() { return kDocumentTypes; }

const DocumentType* find_document_type(std::string_view extension) {
  if (extension == ".html") extension = ".htm";
  for (const auto& type : kDocumentTypes)
    if (type.extension == extension) return &type;
  return nullptr;
}

const DocumentType* document_type_number(int number) {
  if (number < 1 || number > static_cast<int>(kDocumentTypes.size())) return nullptr;
  return &kDocumentTypes[static_cast<std::size_t>(number - 1)];
}

std::string not_a_document_type_reason() {
  std::string text = "not a document type the handheld takes (";
  for (const auto& type : kDocumentTypes) {
    if (type.number > 1) text += ", ";
    text += type.extension;
    if (type.extension == ".htm") text += ", .html";
  }
  text += ')';
  return text;
}

}  // namespace vellora
