// RTF file bytes -> RTF importer -> staging reader -> builder layout, all
// in memory; then once more with a small paragraph limit, as the send pass
// sets one, to exercise stopping early.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "importers/rtf/rtf_importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  const StagingBytes staged = import_bytes({data, size}, "input.rtf", &stage_rtf);
  fuzz::check_staged(staged);

  const std::size_t limit = size == 0 ? 0 : data[0] % 8;
  StagingWriter writer;
  writer.open_in_memory("input.rtf");
  writer.set_paragraph_limit(limit);
  ByteSource input({data, size});
  writer.finish(stage_rtf(input, writer));
  if (writer.paragraphs() > limit) std::abort();
  fuzz::check_staged(writer.take_bytes());
  return 0;
}
