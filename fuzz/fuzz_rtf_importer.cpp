// RTF file bytes -> RTF importer -> staging reader -> layout and packing, all
// in memory; then once more with a small paragraph limit, as the send pass
// sets one, to exercise stopping early.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "importers/rtf/rtf_importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vellora::fuzz::check_conversion(data, size, "input.rtf", &vellora::stage_rtf);
  return 0;
}
