#include "docmodel/staging.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/paragraphs.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

using testing::paragraph;
using testing::read_file;
using testing::special;
using testing::stage;
using testing::TempDir;
using testing::write_file;

TEST(NameRecord, HoldsAtMost31CharactersAndAZero) {
  const auto short_name = name_record("doc.txt");
  EXPECT_STREQ(short_name.data(), "doc.txt");
  EXPECT_TRUE(std::all_of(short_name.begin() + 7, short_name.end(), [](char c) { return c == 0; }));
  const auto long_name = name_record(std::string(40, 'x'));
  EXPECT_EQ(std::string(long_name.data()), std::string(kMaxHandheldNameChars, 'x'));
  EXPECT_EQ(long_name.back(), 0);
}

TEST(StagingFiles, HoldTheNameRecordParagraphsAndBackgroundInOrder) {
  TempDir dir;
  stage(dir.path(), "empty.txt", {});
  const auto data = read_file(dir / kStagingDataFile);
  ASSERT_EQ(data.size(), 33u);  // name record and background byte
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data())), "empty.txt");
  EXPECT_EQ(data[32], kWhiteIndex);
  EXPECT_TRUE(read_file(dir / kStagingSizesFile).empty());

  stage(dir.path(), "two.txt", {paragraph("ab", kAlignRight), special(kEmptyParagraphCell)}, 7);
  const auto sizes = read_file(dir / kStagingSizesFile);
  EXPECT_EQ(sizes, (std::vector<std::uint8_t>{2, 0, 1, 0}));
  const auto two = read_file(dir / kStagingDataFile);
  ASSERT_EQ(two.size(), 32u + (4 + 2 + 20) + (4 + 1 + 10) + 1);
  EXPECT_EQ(two[32], 1);  // alignment, little-endian
  EXPECT_EQ(two[36], 'a');
  EXPECT_EQ(two[38], 0);  // first cell: kind 0 ...
  EXPECT_EQ(two[42], kBlackIndex);
  EXPECT_EQ(two[43], kNoHighlight);
  EXPECT_EQ(two.back(), 7);
}

TEST(StagingFiles, HoldWhatMemoryHolds) {
  const auto p = paragraph("abc");
  StagingMemory memory;
  memory.take_name(name_record("second.txt"));
  memory.take_paragraph(p.alignment, p.text, p.cells);
  memory.take_background(6);
  const StagingBytes bytes = memory.take_bytes();
  EXPECT_EQ(bytes.sizes, (std::vector<std::uint8_t>{3, 0}));
  ASSERT_EQ(bytes.data.size(), kNameRecordBytes + 4 + 3 + 3 * kCellBytes + 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data.data())), "second.txt");
  EXPECT_EQ(bytes.data.back(), 6);

  TempDir dir;
  StagingFiles files;
  ASSERT_TRUE(files.open(dir.path()));
  files.take_name(name_record("third.txt"));
  files.take_paragraph(p.alignment, p.text, p.cells);
  files.take_background(7);
  EXPECT_TRUE(files.finish());
  EXPECT_EQ(read_file(dir / kStagingSizesFile), (std::vector<std::uint8_t>{3, 0}));
  // The files hold what memory held, but for the name and background.
  auto expected = bytes.data;
  std::fill_n(expected.begin(), kNameRecordBytes, 0);
  std::copy_n("third.txt", 9, expected.begin());
  expected.back() = 7;
  EXPECT_EQ(read_file(dir / kStagingDataFile), expected);
}

TEST(StagingFiles, NameTheFileThatCouldNotBeMade) {
  TempDir dir;
  StagingFiles files;
  const StagingResult missing = files.open(dir / "no-such-folder");
  EXPECT_EQ(missing.error, StagingError::cannot_write);
  const std::string data_file = (dir / "no-such-folder" / kStagingDataFile).string();
  EXPECT_EQ(missing.reason.substr(0, data_file.size() + 2), data_file + ": ") << missing.reason;
}

class StagingReaderTest : public ::testing::Test {
 protected:
  StagingResult open() { return reader.open(dir.path()); }
  TempDir dir;
  StagingReader reader;
  StagedParagraph p;
};

TEST_F(StagingReaderTest, ReadsBackWhatTheWriterWrote) {
  stage(dir.path(), "doc.txt", {paragraph("hello", kAlignCentred), special(kRuleCell, 2)}, 9);
  ASSERT_TRUE(open());
  EXPECT_STREQ(reader.name_record().data(), "doc.txt");
  EXPECT_EQ(reader.paragraph_count(), 2u);
  EXPECT_EQ(reader.background(), 9);
  ASSERT_TRUE(reader.next(p));
  EXPECT_EQ(p.alignment, kAlignCentred);
  EXPECT_EQ(std::string(p.text.begin(), p.text.end()), "hello");
  ASSERT_TRUE(reader.next(p));
  EXPECT_EQ(p.cell_kind(0), kRuleCell);
  EXPECT_EQ(p.cell_font(0), 2);
}

TEST_F(StagingReaderTest, RejectsMissingAndTruncatedFiles) {
  auto missing = open();
  EXPECT_EQ(missing.error, StagingError::cannot_open);
  EXPECT_NE(missing.reason.find(kStagingSizesFile), std::string::npos) << missing.reason;

  stage(dir.path(), "doc.txt", {paragraph("hello")});
  auto data = read_file(dir / kStagingDataFile);
  data.resize(data.size() - 1);  // the background byte is now a cell byte
  write_file(dir / kStagingDataFile, data);
  StagingReader shorter;
  EXPECT_EQ(shorter.open(dir.path()).error, StagingError::truncated);

  std::filesystem::remove(dir / kStagingDataFile);
  StagingReader no_data;
  EXPECT_EQ(no_data.open(dir.path()).error, StagingError::cannot_open);
}

TEST_F(StagingReaderTest, RejectsParagraphsThatBreakTheInvariants) {
  const auto expect_error = [&](std::vector<StagedParagraph> paragraphs, StagingError error) {
    stage(dir.path(), "doc.txt", paragraphs);
    StagingReader r;
    StagingResult result = r.open(dir.path());
    for (std::size_t i = 0; result && i < r.paragraph_count(); ++i) result = r.next(p);
    EXPECT_EQ(result.error, error) << result.reason;
  };
  expect_error({paragraph("")}, StagingError::bad_length);
  expect_error({paragraph(std::string(1025, 'x'))}, StagingError::bad_length);
  expect_error({paragraph(std::string(1024, 'x'))}, StagingError::none);
  expect_error({paragraph("ok"), paragraph("x", kAlignLeft, {7, 0, 0, 0})}, StagingError::bad_kind);
  auto long_empty = paragraph("ab");
  testing::restyle(long_empty, 1, 2, {kEmptyParagraphCell, 0, 0, 0});
  expect_error({long_empty}, StagingError::bad_kind);
  expect_error({paragraph("ab", kAlignLeft, testing::text_cell(3))}, StagingError::bad_font);
  expect_error({paragraph("ab", kAlignLeft, testing::text_cell(-1))}, StagingError::bad_font);
  // A rule's font is its thickness, not a glyph set.
  expect_error({special(kRuleCell, 7)}, StagingError::none);
}

TEST_F(StagingReaderTest, IgnoresAnOddTrailingSizesByte) {
  stage(dir.path(), "doc.txt", {paragraph("a")});
  auto sizes = read_file(dir / kStagingSizesFile);
  sizes.push_back(5);
  write_file(dir / kStagingSizesFile, sizes);
  ASSERT_TRUE(open());
  EXPECT_EQ(reader.paragraph_count(), 1u);
}

TEST_F(StagingReaderTest, CutsAtTheDatabaseLimitButTakesTheLastByteAsBackground) {
  std::vector<StagedParagraph> many(kMaxParagraphs + 3, paragraph("x"));
  stage(dir.path(), "big.txt", many, 42);
  ASSERT_TRUE(open());
  EXPECT_EQ(reader.paragraph_count(), kMaxParagraphs);
  EXPECT_TRUE(reader.was_cut());
  EXPECT_EQ(reader.background(), 42);
}

}  // namespace
}  // namespace vellora
