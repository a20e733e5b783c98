// Command-line names of the document types, from the type table.
#include "tools/document_type_choices.h"

#include "base/ascii.h"

namespace vellora::cli {

namespace {

std::string name_of(const DocumentType& type) { return std::string(type.extension.substr(1)); }

template <typename IsListed>
std::vector<std::string> names_of_types(IsListed is_listed) {
  std::vector<std::string> names;
  for (const DocumentType& type : document_types())
    if (is_listed(type)) names.push_back(name_of(type));
  return names;
}

}  // namespace

std::vector<std::string> document_type_names() {
  return names_of_types([](const DocumentType&) { return true; });
}

std::vector<std::string> export_type_names() {
  return names_of_types([](const DocumentType& type) { return type.is_exported_in_own_format; });
}

std::string names_in_words(const std::vector<std::string>& names, std::string_view last_joiner) {
  std::string words;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i + 1 == names.size() && i > 0) {
      words += ' ';
      words += last_joiner;
      words += ' ';
    } else if (i > 0) {
      words += ", ";
    }
    words += names[i];
  }
  return words;
}

const DocumentType* export_type_named(const std::string& typed) {
  std::string extension = ".";
  extension += to_lower_ascii(typed);
  const DocumentType* type = find_document_type(extension);
  // A type that is not written in its own format (.doc is written as RTF)
  // is no --to choice, however it is spelt.
  if (type == nullptr || !type->is_exported_in_own_format) return nullptr;
  return type;
}

}  // namespace vellora::cli
