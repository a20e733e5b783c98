// What every importer promises the send pass, whatever it reads: a source
// it cannot read stages nothing, and the same text stages the same bytes.
#include <gtest/gtest.h>

#include <filesystem>

#include "conduit/document_types.h"
#include "importers/html/html_importer.h"
#include "importers/rtf/rtf_importer.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

TEST(EveryImporter, AnUnreadableSourceLeavesNoStagingFiles) {
  for (const DocumentType& type : document_types()) {
    if (type.import == nullptr) continue;
    SCOPED_TRACE(type.extension);
    testing::TempDir dir;
    const std::string absent = "absent" + std::string(type.extension);
    const ImportResult missing = type.import(dir / absent, dir.path(), absent, {});
    EXPECT_EQ(missing.status, ImportStatus::cannot_read);
    EXPECT_NE(missing.reason.find(absent), std::string::npos) << missing.reason;
    const std::string folder = "folder" + std::string(type.extension);
    std::filesystem::create_directory(dir / folder);
    EXPECT_EQ(type.import(dir / folder, dir.path(), folder, {}).status, ImportStatus::cannot_read);
    EXPECT_EQ(testing::file_names(dir.path()), (std::vector<std::string>{folder}));
  }
}

// The five letters of "Hello" as one paragraph: the name record, the
// alignment, the text, one cell per letter and the background.
TEST(EveryImporter, StagesTheGoldenBytesOfHello) {
  struct Case {
    Conversion convert;
    std::string input;
    std::string name;
    std::string name_bytes;
  } cases[] = {
      {&stage_html, "<html><body>Hello</body></html>", "hello.htm", "68 65 6C 6C 6F 2E 68 74 6D"},
      {&stage_rtf, "{\\rtf1 Hello\\par}", "hello.rtf", "68 65 6C 6C 6F 2E 72 74 66"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const StagingBytes staged =
        import_bytes({reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size()}, c.name, c.convert);
    EXPECT_TRUE(testing::BytesEqual(staged.data, testing::hex_bytes(c.name_bytes +
                                                                    " 00 00 00 00 00 00 00"
                                                                    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                                                                    "00 00 00 00"     // left
                                                                    "48 65 6C 6C 6F"  // "Hello"
                                                                    // kind 0, black, no highlight, font 0
                                                                    "00 00 00 00 E6 FA 00 00 00 00"
                                                                    "00 00 00 00 E6 FA 00 00 00 00"
                                                                    "00 00 00 00 E6 FA 00 00 00 00"
                                                                    "00 00 00 00 E6 FA 00 00 00 00"
                                                                    "00 00 00 00 E6 FA 00 00 00 00"
                                                                    "00")));  // white background
    EXPECT_TRUE(testing::BytesEqual(staged.sizes, testing::hex_bytes("05 00")));
  }
}

}  // namespace
}  // namespace vellora
