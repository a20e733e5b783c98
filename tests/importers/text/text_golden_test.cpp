// Text documents through the importer and back through the exporter, byte
// for byte against golden files: the samples and a file of edge cases
// (tabs at the paragraph limit, carriage returns, bytes above 127, lines
// far longer than a paragraph, no final line end). The same conversion run
// from memory must stage the same bytes as from the file.
#include <gtest/gtest.h>

#include "conduit/write_document.h"
#include "exporters/text_exporter.h"
#include "importers/text/text_importer.h"
#include "tests/support/bytes.h"
#include "tests/support/fake_sync_manager.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = VELLORA_SOURCE_DIR;

class TextGolden : public ::testing::TestWithParam<const char*> {
 protected:
  fs::path golden(const std::string& suffix) const {
    return kSource / "tests/golden/text" / (std::string(GetParam()) + suffix);
  }
  fs::path source() const {
    const fs::path sample = kSource / "samples" / (std::string(GetParam()) + ".txt");
    return fs::exists(sample) ? sample : golden(".txt");
  }
  testing::TempDir dir;
};

TEST_P(TextGolden, StagesAndExportsTheGoldenBytes) {
  const std::string name = std::string(GetParam()) + ".txt";
  ASSERT_TRUE(ImportText(source(), dir.path(), name));
  const auto data = testing::read_file(dir / kStagingDataFile);
  const auto sizes = testing::read_file(dir / kStagingSizesFile);
  EXPECT_TRUE(testing::BytesEqual(data, testing::read_file(golden(".staging-data"))));
  EXPECT_TRUE(testing::BytesEqual(sizes, testing::read_file(golden(".staging-sizes"))));

  const auto source_bytes = testing::read_file(source());
  const StagingBytes in_memory = import_bytes(source_bytes, name, &stage_text);
  EXPECT_TRUE(testing::BytesEqual(in_memory.data, data));
  EXPECT_TRUE(testing::BytesEqual(in_memory.sizes, sizes));

  testing::FakeSyncManager handheld;
  ASSERT_TRUE(build_document(dir.path(), handheld));
  ASSERT_TRUE(ExportText(handheld, name, dir / "out.txt"));
  EXPECT_TRUE(testing::BytesEqual(testing::read_file(dir / "out.txt"), testing::read_file(golden(".exported.txt"))));
}

INSTANTIATE_TEST_SUITE_P(Samples, TextGolden,
                         ::testing::Values("welcome", "meeting-notes", "packing-list", "edge-cases"));

}  // namespace
}  // namespace vellora
