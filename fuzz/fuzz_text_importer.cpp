// Text file bytes -> text importer -> staging reader -> layout and packing, all
// in memory, and the same laid out straight from the importer; then once
// more with a small paragraph limit, as the send pass sets one.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "importers/text/text_importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vellora::fuzz::check_conversion(data, size, "input.txt", &vellora::stage_text);
  return 0;
}
