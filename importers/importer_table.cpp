#include "importers/importer_table.h"

#include <array>

#include "importers/text/text_importer.h"

namespace vellora {

namespace {

constexpr std::array<DocumentType, 4> kDocumentTypes = {{
    {".txt", &ImportText},
    {".htm", nullptr},
    {".doc", nullptr},
    {".rtf", nullptr},
}};

}  // namespace

std::span<const DocumentType> document_types() { return kDocumentTypes; }

const DocumentType* find_document_type(std::string_view extension) {
  if (extension == ".html") extension = ".htm";
  for (const auto& type : kDocumentTypes)
    if (type.extension == extension) return &type;
  return nullptr;
}

std::string to_lower_ascii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

}  // namespace vellora
