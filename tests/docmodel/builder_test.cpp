#include "docmodel/builder.h"

#include <gtest/gtest.h>

#include "docmodel/records.h"
#include "tests/support/fake_sync_manager.h"
#include "tests/support/paragraphs.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

using testing::paragraph;
using testing::special;
using testing::text_cell;

TextRecord lay_out(const StagedParagraph& p) {
  ByteVector bytes;
  pack_paragraph(p, bytes);
  ParagraphRecord record;
  EXPECT_TRUE(decode_paragraph(bytes, record));
  const auto& text = std::get<TextRecord>(record);
  for (const auto& problem : check_text_record(text, p.cells)) ADD_FAILURE() << problem;
  return text;
}

std::vector<int> line_chars(const TextRecord& r) {
  std::vector<int> chars;
  for (const auto& line : r.lines) chars.push_back(line.entry.chars);
  return chars;
}

std::vector<int> line_widths(const TextRecord& r) {
  std::vector<int> widths;
  for (const auto& line : r.lines) widths.push_back(line.entry.width);
  return widths;
}

std::vector<int> run_widths(const TextLine& line) {
  std::vector<int> widths;
  for (const auto& run : line.runs) widths.push_back(run.width);
  return widths;
}

const std::string m18(18, 'm');  // 18 x 8 = 144 pixels

TEST(LineBreaking, ALineMayReach149PixelsButNot150) {
  EXPECT_EQ(line_widths(lay_out(paragraph(m18 + "a"))), (std::vector<int>{149}));
  EXPECT_EQ(line_chars(lay_out(paragraph(m18 + "rl"))), (std::vector<int>{19, 1}));  // 148 + 2
  EXPECT_EQ(line_widths(lay_out(paragraph(m18 + "rl"))), (std::vector<int>{148, 2}));
}

TEST(LineBreaking, BreaksAfterTheLastSpaceOrHyphen) {
  // The space stays at the end of the first line and counts in its width.
  const auto two_words = lay_out(paragraph("mmmmmmmmmm mmmmmmmmmm"));
  EXPECT_EQ(line_chars(two_words), (std::vector<int>{11, 10}));
  EXPECT_EQ(line_widths(two_words), (std::vector<int>{82, 80}));
  EXPECT_EQ(line_chars(lay_out(paragraph("mmmmmmmmmm-mmmmmmmmmm"))), (std::vector<int>{11, 10}));
  // Several spaces in a row all stay on the earlier line.
  EXPECT_EQ(line_chars(lay_out(paragraph("mmmmmmmmmm   mmmmmmmmmm"))), (std::vector<int>{13, 10}));
  // A space that overflows a line without a break point starts the next.
  EXPECT_EQ(line_chars(lay_out(paragraph(m18 + "r mm"))), (std::vector<int>{19, 3}));
}

TEST(LineBreaking, CutsWordsWiderThanTheDisplayHard) {
  const auto ms = lay_out(paragraph(std::string(40, 'm')));
  EXPECT_EQ(line_chars(ms), (std::vector<int>{18, 18, 4}));
  EXPECT_EQ(line_widths(ms), (std::vector<int>{144, 144, 32}));
}

TEST(LineBreaking, ALineNeverHoldsMoreThan128Characters) {
  // Zero-width characters would otherwise fill a line past what one byte counts.
  EXPECT_EQ(line_chars(lay_out(paragraph(std::string(300, '\x7F')))), (std::vector<int>{128, 128, 44}));
  std::string text(200, '\x81');
  text[10] = ' ';
  EXPECT_EQ(line_chars(lay_out(paragraph(text))), (std::vector<int>{11, 128, 61}));
}

TEST(Runs, CutWhereAttributesChange) {
  auto p = paragraph("plain bold plain");
  testing::restyle(p, 6, 10, text_cell(1));
  const auto r = lay_out(p);
  ASSERT_EQ(r.lines.size(), 1u);
  ASSERT_EQ(r.lines[0].runs.size(), 3u);
  EXPECT_EQ(r.lines[0].runs[1].chars, 4);
  EXPECT_EQ(r.lines[0].runs[1].font, 1);
  EXPECT_EQ(r.lines[0].entry.height, 11);
}

TEST(Runs, LargeFontRaisesLineAndRecordHeight) {
  auto p = paragraph(std::string(60, 'a'));
  testing::restyle(p, 59, 60, text_cell(2));
  const auto r = lay_out(p);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[2].entry.height, 14);
  EXPECT_EQ(r.height, 11 + 11 + 14);
}

TEST(Justify, SpacesAreStretchedToFillTheDisplay) {
  const auto r = lay_out(paragraph("ab cd ef", kAlignJustified));
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0].entry.width, 150);
  EXPECT_EQ(run_widths(r.lines[0]), (std::vector<int>{10, 61, 9, 61, 9}));
  EXPECT_EQ(r.lines[0].runs[1].kind, kSpaceRun);

  // Uneven slack: the first spaces take one pixel more.
  const auto uneven = lay_out(paragraph("a b c d", kAlignJustified));
  int sum = 0;
  for (int w : run_widths(uneven.lines[0])) sum += w;
  EXPECT_EQ(sum, 150);
  EXPECT_EQ(run_widths(uneven.lines[0]), (std::vector<int>{5, 44, 5, 44, 4, 43, 5}));
}

TEST(Justify, TrailingSpacesAndSingleRuns) {
  // Every full line of a justified paragraph fills 150 pixels; trailing
  // spaces after the stretched ones get no width.
  const auto r = lay_out(paragraph("the words of a justified paragraph wrap onto a second line", kAlignJustified));
  ASSERT_EQ(r.lines.size(), 2u);
  const auto& first = r.lines[0];
  EXPECT_EQ(first.runs.back().kind, kSpaceRun);
  EXPECT_EQ(first.runs.back().width, 0);
  // A line without inner spaces gives all the slack to its first trailing space.
  const auto lone = lay_out(paragraph("abc ", kAlignJustified));
  EXPECT_EQ(run_widths(lone.lines[0]), (std::vector<int>{14, 138}));
  EXPECT_EQ(lone.lines[0].entry.width, 150);
  // A single run keeps its natural width.
  EXPECT_EQ(lay_out(paragraph("abc", kAlignJustified)).lines[0].entry.width, 14);
}

TEST(Justify, LayoutFollowsTheStoredSixteenBitAlignment) {
  // Only the low 16 bits reach the record, so they alone decide the layout.
  const auto r = lay_out(paragraph("ab cd ef", 0x10000 | kAlignJustified));
  EXPECT_EQ(r.alignment, kAlignJustified);
  EXPECT_EQ(r.lines[0].runs.size(), 5u);
  EXPECT_EQ(lay_out(paragraph("ab cd ef", 0x20000)).lines[0].runs.size(), 1u);
}

std::vector<StagedParagraph> mixed_document() {
  auto styled = paragraph("plain bold large " + m18 + " end", kAlignJustified);
  testing::restyle(styled, 6, 10, text_cell(1, kWhiteIndex));
  testing::restyle(styled, 11, 16, text_cell(2));
  return {paragraph("one", kAlignCentred), styled, special(kEmptyParagraphCell), special(kRuleCell, 4),
          paragraph(m18 + " " + m18, kAlignRight)};
}

TEST(DocumentPacker, CheckedAndTrustedPathsPackValidParagraphsAlike) {
  PackedDocument checked, trusted;
  DocumentPacker checking(checked), trusting(trusted);
  ByteVector single;
  for (const auto& p : mixed_document()) {
    checking.take_paragraph(p.alignment, p.text, p.cells);
    trusting.take_trusted_paragraph(p.alignment, p.text, p.cells);
    pack_paragraph(p, single);
  }
  checking.take_background(3);
  trusting.take_background(3);
  ASSERT_TRUE(checking.result()) << checking.result().reason;
  EXPECT_EQ(checked.bytes, trusted.bytes);
  EXPECT_EQ(checked.offsets, trusted.offsets);
  EXPECT_EQ(checked.line_total, trusted.line_total);
  EXPECT_EQ(checked.paragraphs, 5u);
  EXPECT_EQ(ByteVector(checked.bytes.begin() + kHeaderRecordBytes, checked.bytes.end()), single);
}

TEST(DocumentPacker, ABadCellEndsPackingWithTheReadersReasonAndAddsNothing) {
  PackedDocument out;
  DocumentPacker packer(out);
  std::array<char, kNameRecordBytes> name{};
  std::copy_n("doc.txt", 7, name.begin());
  packer.take_name(name);
  const auto good = paragraph("fine");
  packer.take_paragraph(good.alignment, good.text, good.cells);
  const std::size_t bytes_before = out.bytes.size();
  auto bad = paragraph("abcd");
  testing::restyle(bad, 2, 3, text_cell(kFontCount));
  packer.take_paragraph(bad.alignment, bad.text, bad.cells);
  EXPECT_EQ(packer.result().error, StagingError::bad_font);
  EXPECT_EQ(packer.result().reason, check_staged_cells(bad.cells, 2, "doc.txt").reason);
  EXPECT_EQ(packer.result().reason, "doc.txt: paragraph 2, character 3: font 3 is not 0, 1 or 2");
  EXPECT_EQ(out.bytes.size(), bytes_before);
  EXPECT_EQ(out.paragraphs, 1u);
  // Nothing after the first problem is packed, good or not.
  packer.take_paragraph(good.alignment, good.text, good.cells);
  EXPECT_EQ(out.paragraphs, 1u);
  EXPECT_EQ(out.record_count(), 2u);
}

TEST(DocumentPacker, ASpecialCellInsideTextIsRefused) {
  PackedDocument out;
  DocumentPacker packer(out);
  auto bad = paragraph("ab");
  testing::restyle(bad, 1, 2, AttributeCell{kRuleCell, 0, 0, 1});
  packer.take_paragraph(bad.alignment, bad.text, bad.cells);
  EXPECT_EQ(packer.result().error, StagingError::bad_kind);
  EXPECT_EQ(out.paragraphs, 0u);
}

class BuildDocument : public ::testing::Test {
 protected:
  BuildResult build(const std::vector<StagedParagraph>& paragraphs, std::uint8_t background = 0) {
    testing::stage(dir.path(), "report.txt", paragraphs, background);
    return build_document(dir.path(), handheld);
  }
  bool staging_left() const {
    return std::filesystem::exists(dir / kStagingDataFile) || std::filesystem::exists(dir / kStagingSizesFile);
  }
  std::vector<std::vector<std::uint8_t>> records(const std::string& name) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& record : handheld.databases.at(name).records) out.push_back(record.data);
    return out;
  }
  testing::TempDir dir;
  testing::FakeSyncManager handheld;
};

TEST_F(BuildDocument, CreatesWritesAndClosesThenRemovesStaging) {
  const auto result =
      build({paragraph("one"), paragraph("two"), special(kEmptyParagraphCell), special(kRuleCell, 1)}, 17);
  ASSERT_TRUE(result) << result.reason;
  EXPECT_EQ(handheld.calls, (std::vector<std::string>{
                                "SyncCreateDB(name=report.txt, creator=bhV1, flags=0, card=0, type=VLTx, version=2)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=48)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=35)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=35)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=16)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=16)", "SyncCloseDB(1)"}));
  const auto written = records("report.txt");
  EXPECT_TRUE(check_document(written).empty());
  HeaderRecord header;
  ASSERT_TRUE(decode_header(written[0], header));
  EXPECT_EQ(header.line_total, 4u);
  EXPECT_EQ(header.background, 17);
  EXPECT_EQ(written[0][7], 0xFF);
  EXPECT_FALSE(staging_left());
}

TEST_F(BuildDocument, EmptyDocumentIsOnlyTheHeader) {
  ASSERT_TRUE(build({}));
  const auto written = records("report.txt");
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0][5], 0);  // lineTotal 0
}

TEST_F(BuildDocument, KeepsAtMost32765Paragraphs) {
  const auto result = build(std::vector<StagedParagraph>(kMaxParagraphs + 2, paragraph("x")), 33);
  ASSERT_TRUE(result);
  EXPECT_TRUE(result.was_cut);
  const auto written = records("report.txt");
  EXPECT_EQ(written.size(), kMaxParagraphs + 1);
  EXPECT_EQ(written[0][6], 33);
}

TEST_F(BuildDocument, InvalidStagingReachesNothingAndIsRemoved) {
  auto bad = paragraph("abc", kAlignLeft, text_cell(5));
  const auto result = build({paragraph("fine"), bad});
  EXPECT_EQ(result.error, BuildError::bad_staging);
  EXPECT_NE(result.reason.find("font 5"), std::string::npos) << result.reason;
  EXPECT_TRUE(handheld.calls.empty());
  EXPECT_FALSE(staging_left());

  const auto missing = build_document(dir.path(), handheld);
  EXPECT_EQ(missing.error, BuildError::bad_staging);
  EXPECT_TRUE(handheld.calls.empty());
}

TEST_F(BuildDocument, AFailedCallLeavesNoDatabase) {
  const std::vector<StagedParagraph> doc = {paragraph("one"), paragraph("two")};
  for (int call = 1; call <= 4; ++call) {  // create, two writes of three, close
    SCOPED_TRACE(call);
    handheld = testing::FakeSyncManager{};
    handheld.fail_call_number = call;
    const auto result = build(doc);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.sync_status, handheld.failure_code);
    EXPECT_TRUE(handheld.databases.empty());
    EXPECT_FALSE(staging_left());
  }
  handheld = testing::FakeSyncManager{};
  handheld.fail_call_number = 5;  // the close
  EXPECT_EQ(build(doc).error, BuildError::close_failed);
  EXPECT_EQ(handheld.call_names().back(), "SyncDeleteDB");
}

}  // namespace
}  // namespace vellora
