// Text file bytes -> text importer -> staging reader -> builder layout.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "importers/text/text_importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  const auto& folder = fuzz::scratch_folder();
  const auto source = folder / "input.txt";
  fuzz::write_bytes(source, data, size);
  if (!ImportText(source, folder, "input.txt")) std::abort();  // a readable file always imports
  PackedDocument document;
  const auto packed = pack_document(folder, document);
  if (!packed) {
    std::fprintf(stderr, "importer wrote invalid staging files: %s\n", packed.reason.c_str());
    std::abort();
  }
  fuzz::check_packed(document);
  remove_staging_files(folder);
  return 0;
}
