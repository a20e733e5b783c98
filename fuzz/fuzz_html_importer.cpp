// HTML file bytes -> HTML importer -> staging reader -> layout and packing, all
// in memory; then once more with a small paragraph limit, as the send pass
// sets one, to exercise stopping early.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "importers/html/html_importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vellora::fuzz::check_conversion(data, size, "input.htm", &vellora::stage_html);
  return 0;
}
