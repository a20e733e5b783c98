// Fuzzes the preview drawing. The input is a document's records, each a
// 2-byte big-endian length and its bytes, the header first; the first byte
// of the input picks three screens or all of them. Whatever the records,
// drawing must end with a picture or a one-line reason, never outside its
// screen or its records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "docmodel/records.h"
#include "fuzz/fuzz_support.h"
#include "hosts/linux/pdb_file.h"
#include "tests/support/pdb_samples.h"
#include "tools/preview_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  if (size < 1) return 0;
  const long screens = data[0] % 2 == 0 ? 3 : -1;
  PdbDatabase db;
  db.header = testing::document_header("fuzzed");
  for (std::size_t at = 1; at + 2 <= size && db.record_count() < 64;) {
    const std::size_t length = std::min<std::size_t>((data[at] << 8) | data[at + 1], size - at - 2);
    at += 2;
    const std::vector<std::uint8_t> record(data + at, data + at + length);
    if (!db.append_record({.data = record, .attributes = 0, .category = 0, .unique_id = 1})) break;
    at += length;
  }
  const auto folder = fuzz::scratch_folder();
  if (!linux_host::write_pdb_file(folder / "doc.pdb", db)) std::abort();
  std::string why_not;
  const long drawn = cli::write_preview(folder / "doc.pdb", folder / "out.png", screens, 1, why_not);
  if (drawn < 0 && (why_not.empty() || why_not.find('\n') != std::string::npos)) std::abort();
  if (drawn >= 0 && !std::filesystem::exists(folder / "out.png")) std::abort();
  return 0;
}
