// The HTML entity table and its lookups.
#include "docmodel/html_entities.h"

namespace vellora {

const std::array<std::string_view, kHtmlEntityCount> kHtmlEntityNames = {
    "quot",   "amp",    "lt",     "gt",     "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",
    "brvbar", "sect",   "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",
    "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute",
    "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",
    "igrave", "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde",
    "ouml",   "divide", "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

namespace {

constexpr std::array<std::uint8_t, 5> kFirstRowBytes = {34, 38, 60, 62, 32};
constexpr std::size_t kLatinRowOffset = 156;  // row r stands for byte r + 156 from row 5 on

}  // namespace

std::uint8_t html_entity_byte(std::size_t row) {
  return row < kFirstRowBytes.size() ? kFirstRowBytes[row] : static_cast<std::uint8_t>(row + kLatinRowOffset);
}

std::optional<std::uint8_t> find_html_entity(std::string_view name) {
  for (std::size_t row = 0; row < kHtmlEntityNames.size(); ++row)
    if (kHtmlEntityNames[row] == name) return html_entity_byte(row);
  return std::nullopt;
}

std::optional<std::size_t> html_entity_row_for(std::uint8_t byte) {
  switch (byte) {
    case 34: return 0;
    case 38: return 1;
    case 60: return 2;
    case 62: return 3;
    default: break;
  }
  if (byte >= 160) return byte - kLatinRowOffset;
  return std::nullopt;
}

}  // namespace vellora
