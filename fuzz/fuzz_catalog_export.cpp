// Arbitrary PDB files on the handheld -> catalog reader and rebuild, and
// the text exporter of every database found. The input is one or two
// files: a zero byte followed by "--" splits it.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "conduit/catalog.h"
#include "exporters/text_exporter.h"
#include "fuzz/fuzz_support.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  namespace fs = std::filesystem;
  const fs::path folder = fuzz::scratch_folder() / "handheld";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::uint8_t* split = nullptr;
  for (std::size_t i = 0; i + 2 < size && split == nullptr; ++i)
    if (data[i] == 0 && data[i + 1] == '-' && data[i + 2] == '-') split = data + i;
  const std::size_t first = split != nullptr ? static_cast<std::size_t>(split - data) : size;
  fuzz::write_bytes(folder / "a.pdb", data, first);
  if (split != nullptr) fuzz::write_bytes(folder / "b.pdb", split + 3, size - first - 3);

  linux_host::PdbFolderHandheld handheld(folder);
  std::vector<CatalogEntry> entries;
  if (read_catalog(handheld, entries)) {
    for (auto& entry : entries) {
      entry.set_mark(0);
      ExportText(handheld, entry.name(), fuzz::scratch_folder() / "out.txt");
    }
    rebuild_catalog(handheld, entries);
  }
  for (const char* file : {"a.pdb", "b.pdb"}) {
    PdbHeader header;
    std::uint16_t count = 0;
    if (linux_host::read_pdb_header_file(folder / file, header, count))
      ExportText(handheld, header.name, fuzz::scratch_folder() / "out.txt");
  }
  return 0;
}
