// Text file bytes -> text importer -> staging reader -> builder layout, all
// in memory.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "importers/text/text_importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  const StagingBytes staged = import_bytes({data, size}, "input.txt", &stage_text);
  fuzz::check_staged(staged);
  return 0;
}
