#include "importers/text/text_importer.h"

#include <gtest/gtest.h>

#include "docmodel/palette.h"
#include "docmodel/staging.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

struct Imported {
  ImportResult result;
  std::string name;
  std::vector<std::string> paragraphs;  // an empty paragraph reads as "<empty>"
  std::uint8_t background = 0;
};

class TextImport : public ::testing::Test {
 protected:
  Imported import(const std::string& bytes, const std::string& file_name = "notes.txt") {
    testing::write_file(dir / "source", bytes);
    Imported out;
    out.result = ImportText(dir / "source", dir.path(), file_name);
    if (!out.result) return out;
    StagingReader reader;
    const auto opened = reader.open(dir.path());
    EXPECT_TRUE(opened) << opened.reason;
    if (!opened) return out;
    out.name = reader.name_record().data();
    out.background = reader.background();
    StagedParagraph p;
    const AttributeCell plain{kCharacterCell, kBlackIndex, kNoHighlight, 0};
    for (std::size_t i = 0; i < reader.paragraph_count(); ++i) {
      const auto read = reader.next(p);
      EXPECT_TRUE(read) << read.reason;
      EXPECT_EQ(p.alignment, kAlignLeft);
      if (p.size() == 1 && p.cell_kind(0) == kEmptyParagraphCell) {
        EXPECT_EQ(p.text[0], ' ');
        out.paragraphs.push_back("<empty>");
        continue;
      }
      for (std::size_t c = 0; c < p.size(); ++c) EXPECT_EQ(decode_cell(p.cell(c)), plain);
      out.paragraphs.emplace_back(p.text.begin(), p.text.end());
    }
    EXPECT_EQ(out.paragraphs.size(), out.result.paragraphs);
    return out;
  }
  testing::TempDir dir;
};

using Paragraphs = std::vector<std::string>;

TEST_F(TextImport, EveryLineIsAParagraph) {
  const auto empty = import("");
  EXPECT_TRUE(empty.paragraphs.empty());
  EXPECT_EQ(empty.name, "notes.txt");
  EXPECT_EQ(empty.background, kWhiteIndex);
  EXPECT_EQ(testing::read_file(dir / kStagingDataFile).size(), 33u);

  EXPECT_EQ(import("a\r\nb\r\n").paragraphs, (Paragraphs{"a", "b"}));
  EXPECT_EQ(import("a\n\nb").paragraphs, (Paragraphs{"a", "<empty>", "b"}));
  EXPECT_EQ(import("last line").paragraphs, (Paragraphs{"last line"}));
  EXPECT_EQ(import("line\n").paragraphs, (Paragraphs{"line"}));
  EXPECT_EQ(import("\n").paragraphs, (Paragraphs{"<empty>"}));
  // Control bytes and high bytes are characters like any other.
  EXPECT_EQ(import(std::string("\x01\xE9\x7F", 3)).paragraphs, (Paragraphs{std::string("\x01\xE9\x7F", 3)}));
}

TEST_F(TextImport, LongLinesSplitEvery1024Characters) {
  const auto lines = import(std::string(2500, 'x')).paragraphs;
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 1024u);
  EXPECT_EQ(lines[1].size(), 1024u);
  EXPECT_EQ(lines[2].size(), 452u);
  // Carriage returns alone are dropped, so such a file splits only by length.
  std::string mac;
  for (int i = 0; i < 300; ++i) mac += "abcd\r";
  const auto cr = import(mac).paragraphs;
  ASSERT_EQ(cr.size(), 2u);
  EXPECT_EQ(cr[0].size(), 1024u);
  EXPECT_EQ(cr[1].size(), 176u);
}

TEST_F(TextImport, TabsAdvanceEightSpacesUntilTheParagraphIsFull) {
  EXPECT_EQ(import("\tx").paragraphs, (Paragraphs{"        x"}));
  EXPECT_EQ(import("ab\tc").paragraphs, (Paragraphs{"ab        c"}));  // no tab stops
  const auto at_1016 = import(std::string(1016, 'y') + "\tz").paragraphs;
  ASSERT_EQ(at_1016.size(), 2u);
  EXPECT_EQ(at_1016[0], std::string(1016, 'y') + std::string(8, ' '));
  EXPECT_EQ(at_1016[1], "z");
  const auto at_1017 = import(std::string(1017, 'y') + "\tz").paragraphs;
  EXPECT_EQ(at_1017, (Paragraphs{std::string(1017, 'y'), "z"}));
}

TEST_F(TextImport, NamesTheDocumentByTheHandheldNameRule) {
  EXPECT_EQ(import("x", "abcdefghijklmnopqrstuvwxyz0123456789.txt").name, "abcdefghijklmnopqrstuvwxyz0.txt");
}

TEST_F(TextImport, AnUnreadableSourceLeavesNoStagingFiles) {
  auto missing = ImportText(dir / "absent.txt", dir.path(), "absent.txt");
  EXPECT_EQ(missing.status, ImportStatus::cannot_read);
  EXPECT_NE(missing.reason.find("absent.txt"), std::string::npos);
  std::filesystem::create_directory(dir / "folder.txt");
  EXPECT_EQ(ImportText(dir / "folder.txt", dir.path(), "folder.txt").status, ImportStatus::cannot_read);
  EXPECT_FALSE(std::filesystem::exists(dir / kStagingDataFile));
  EXPECT_FALSE(std::filesystem::exists(dir / kStagingSizesFile));

  testing::write_file(dir / "fine.txt", "text");
  auto no_folder = ImportText(dir / "fine.txt", dir / "no-such-folder", "fine.txt");
  EXPECT_EQ(no_folder.status, ImportStatus::cannot_write);
}

TEST_F(TextImport, StagingStopsAtTheParagraphLimit) {
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "line\n";
  testing::write_file(dir / "many.txt", many);
  const auto cut = ImportText(dir / "many.txt", dir.path(), "many.txt", ImportOptions{10});
  ASSERT_TRUE(cut) << cut.reason;
  EXPECT_EQ(cut.paragraphs, 10u);
  EXPECT_EQ(testing::read_file(dir / kStagingSizesFile).size(), 20u);
  // Without a limit everything is staged, as `vellora stage` does.
  EXPECT_EQ(ImportText(dir / "many.txt", dir.path(), "many.txt").paragraphs, 1000u);
}

}  // namespace
}  // namespace vellora
