// The document types as the command line names them ("txt", "htm", ...),
// taken from the table in conduit/document_types so that every option,
// help text and message lists the same types in the same order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "conduit/document_types.h"

namespace vellora::cli {

// Every type, in table order: what --as takes.
std::vector<std::string> document_type_names();
// The types written in their own format: what --to offers.
std::vector<std::string> export_type_names();

// "a", "a or b", "a, b or c" for `last_joiner` "or".
std::string names_in_words(const std::vector<std::string>& names, std::string_view last_joiner);

// The type a --to value names: in any case, ".html" spellings included;
// null for one not offered, such as a type written in another's format
// (doc, DOC: a .doc is written as RTF, so --to rtf says what it gets).
const DocumentType* export_type_named(const std::string& typed);

}  // namespace vellora::cli
