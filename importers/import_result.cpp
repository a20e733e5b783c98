// The words for what a conversion could not convert.
#include "importers/import_result.h"

namespace vellora {

std::string incomplete_reason(const Converted& converted, bool offset_is_the_files) {
  const std::string at = offset_is_the_files ? " at offset " + std::to_string(converted.offset) : "";
  switch (converted.status) {
    case ConversionStatus::complete: break;
    case ConversionStatus::stray_closing_brace:
      return "the RTF is read only up to a closing brace with no group open" + at + "; the rest is not converted";
    case ConversionStatus::bad_hex_escape:
      return "the RTF is read only up to a hex escape with a byte that is not a hex digit" + at +
             "; the rest is not converted";
    case ConversionStatus::title_too_long: {
      const std::string limit = std::to_string(kMaxTitleChars);
      return "its title" + (at.empty() ? "" : "," + at + ",") + " is longer than " + limit +
             " characters, and only the first " + limit + " are converted";
    }
  }
  return {};
}

}  // namespace vellora
