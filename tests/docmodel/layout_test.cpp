// Line breaking, runs and justification, checked on the records they give
// and on the layout's own output.
#include "docmodel/layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "docmodel/packer.h"
#include "docmodel/records.h"
#include "tests/support/paragraphs.h"

namespace vellora {
namespace {

using testing::paragraph;
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

// The layout's output in words: each line's runs as characters, font and
// kind ("5/0", "1/1 space"), lines separated by " | ".
std::string describe(const LaidOutParagraph& laid_out) {
  std::string out;
  for (std::size_t l = 0; l < laid_out.lines.size(); ++l) {
    if (l > 0) out += " | ";
    for (std::size_t r = laid_out.first_run[l]; r < laid_out.first_run[l + 1]; ++r) {
      const RunEntry& run = laid_out.runs[r];
      if (r > laid_out.first_run[l]) out += ' ';
      out += std::to_string(run.chars) + "/" + std::to_string(run.font) + (run.kind == kSpaceRun ? " space" : "") +
             "@" + std::to_string(run.width);
    }
  }
  return out;
}

std::string lay_out_fresh(const StagedParagraph& p) {
  MeasuredParagraph measured;
  LaidOutParagraph laid_out;
  EXPECT_TRUE(measure_paragraph(ParagraphView(p), measured));
  lay_out_paragraph(ParagraphView(p), measured, laid_out);
  return describe(laid_out);
}

// Three words of ten m's; the bold ones are 9 pixels wide, the others 8.
StagedParagraph words_with_bold_across_lines() {
  auto p = paragraph("mmmmmmmmmm mmmmmmmmmm mmmmmmmmmm");
  testing::restyle(p, 5, 25, text_cell(1));
  return p;
}

TEST(LayOutParagraph, RunsOfEqualCellsAreCutAgainWhereEachLineEnds) {
  // One word a line; the bold stretch starts in the first word and ends in
  // the third, so each line finds its runs where the last one stopped.
  EXPECT_EQ(lay_out_fresh(words_with_bold_across_lines()), "5/0@40 6/1@47 | 11/1@92 | 3/1@27 7/0@56");
}

TEST(LayOutParagraph, JustifiedLinesGiveEverySpaceARunOfItsOwn) {
  auto p = words_with_bold_across_lines();
  p.alignment = kAlignJustified;
  // Each line's one space is trailing and takes all the slack; the last
  // line has no space and keeps its natural width.
  EXPECT_EQ(lay_out_fresh(p), "5/0@40 5/1@45 1/1 space@67 | 10/1@90 1/1 space@62 | 3/1@27 7/0@56");
}

TEST(LayOutParagraph, ReusedStructsLayOutAsFreshOnes) {
  auto wide = paragraph(std::string(300, 'a') + " b c d e f", kAlignJustified);
  testing::restyle(wide, 10, 200, text_cell(2));
  testing::restyle(wide, 250, 260, text_cell(1));
  auto narrow = words_with_bold_across_lines();
  MeasuredParagraph measured;
  LaidOutParagraph laid_out;
  for (const StagedParagraph* p : {&wide, &narrow, &wide}) {
    ASSERT_TRUE(measure_paragraph(ParagraphView(*p), measured));
    lay_out_paragraph(ParagraphView(*p), measured, laid_out);
    EXPECT_EQ(describe(laid_out), lay_out_fresh(*p));
  }
}

TEST(MeasureParagraph, FindsRunsAndWidthsAndRefusesCellsThatAreNoText) {
  auto p = paragraph("abcd");
  testing::restyle(p, 2, 3, text_cell(1));
  MeasuredParagraph measured;
  ASSERT_TRUE(measure_paragraph(ParagraphView(p), measured));
  EXPECT_FALSE(measured.is_uniform);
  ASSERT_EQ(measured.run_count, 3u);
  EXPECT_EQ(
      (std::vector<int>{measured.run_start[0], measured.run_start[1], measured.run_start[2], measured.run_start[3]}),
      (std::vector<int>{0, 2, 3, 4}));
  EXPECT_EQ(measured.width_of(0, 4), 5 + 5 + 5 + 5);  // 'c' is 4 pixels wide, 5 in bold

  testing::restyle(p, 3, 4, text_cell(kFontCount));
  EXPECT_FALSE(measure_paragraph(ParagraphView(p), measured));
  testing::restyle(p, 3, 4, AttributeCell{kRuleCell, 0, 0, 1});
  EXPECT_FALSE(measure_paragraph(ParagraphView(p), measured));
}

}  // namespace
}  // namespace vellora
