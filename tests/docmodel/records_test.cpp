#include "docmodel/records.h"

#include <gtest/gtest.h>

#include "docmodel/packer.h"
#include "tests/support/bytes.h"
#include "tests/support/paragraphs.h"

namespace vellora {
namespace {

using testing::BytesEqual;
using testing::hex_bytes;
using testing::paragraph;
using testing::special;

std::vector<std::uint8_t> packed(const StagedParagraph& p) {
  ByteVector out;
  pack_paragraph(p, out);
  return {out.begin(), out.end()};
}

TEST(Records, HelloIsThe37ByteTextRecord) {
  const auto want = hex_bytes(
      "00 00 00 0B FF FF 00 00 00 01 00 05 FF FF FF FF"
      "68 65 6C 6C 6F"
      "05 01 13 0B 00 00 00 00"
      "00 00 05 13 0B 00 E6 FA");
  EXPECT_TRUE(BytesEqual(packed(paragraph("hello")), want));
}

TEST(Records, IndentFollowsAlignment) {
  EXPECT_EQ(packed(paragraph("hello", kAlignCentred))[16 + 5 + 4], 65);
  EXPECT_EQ(packed(paragraph("hello", kAlignRight))[16 + 5 + 4], 131);
  EXPECT_EQ(packed(paragraph("hello", kAlignJustified))[16 + 5 + 4], 0);
  EXPECT_EQ(packed(paragraph("hello", 9))[16 + 5 + 4], 0);
}

TEST(Records, EmptyLineAndRuleRecordBytes) {
  EXPECT_TRUE(
      BytesEqual(packed(special(kEmptyParagraphCell)), hex_bytes("00 01 00 08 FF FF FF FF FF FF FF FF FF FF FF FF")));
  EXPECT_TRUE(
      BytesEqual(packed(special(kRuleCell, 2, 230)), hex_bytes("00 02 00 06 FF FF 02 E6 FA FF FF FF FF FF FF FF")));
  // Height and thickness keep the low bits of a large thickness unit.
  const auto wide = packed(special(kRuleCell, 0x12345, 1));
  EXPECT_EQ(wide[2], 0x69);
  EXPECT_EQ(wide[3], 0xCF);  // 3 x 0x12345 = 0x369CF
  EXPECT_EQ(wide[6], 0x45);
}

TEST(Records, DecodeRoundTripsEncode) {
  auto p = paragraph("The quick brown fox jumps over the lazy dog, twice over the fence.", kAlignJustified);
  testing::restyle(p, 4, 9, testing::text_cell(2, 125, 0));
  const auto bytes = packed(p);
  ParagraphRecord record;
  ASSERT_TRUE(decode_paragraph(bytes, record));
  const auto& text = std::get<TextRecord>(record);
  EXPECT_EQ(text.alignment, kAlignJustified);
  EXPECT_GT(text.lines.size(), 1u);
  EXPECT_TRUE(BytesEqual(encode_text_record(text), bytes));
  EXPECT_TRUE(check_text_record(text, p.cells).empty());
}

TEST(Records, DecodersNeverReadPastTheRecord) {
  const auto bytes = packed(paragraph("hello world"));
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    ParagraphRecord record;
    EXPECT_FALSE(decode_paragraph({bytes.data(), size}, record)) << size;
  }
  ParagraphRecord record;
  EXPECT_FALSE(decode_paragraph(hex_bytes("00 07 00 08"), record));
  HeaderRecord header;
  EXPECT_FALSE(decode_header(hex_bytes("00 02 00"), header));
}

TEST(Records, CheckerCatchesBrokenRecords) {
  const auto p = paragraph("some words to lay out across a couple of display lines here");
  ParagraphRecord decoded;
  ASSERT_TRUE(decode_paragraph(packed(p), decoded));
  const TextRecord good = std::get<TextRecord>(decoded);
  ASSERT_TRUE(check_text_record(good, p.cells).empty());

  const auto broken = [&](auto mutate) {
    TextRecord r = good;
    mutate(r);
    return !check_text_record(r, p.cells).empty();
  };
  EXPECT_TRUE(broken([](TextRecord& r) { r.lines[0].entry.chars += 1; }));
  EXPECT_TRUE(broken([](TextRecord& r) { r.lines[0].runs[0].chars -= 1; }));
  EXPECT_TRUE(broken([](TextRecord& r) { r.lines[0].entry.width += 1; }));
  EXPECT_TRUE(broken([](TextRecord& r) { r.lines[0].entry.height = 14; }));
  EXPECT_TRUE(broken([](TextRecord& r) { r.lines[1].runs[0].colour = 3; }));
  EXPECT_TRUE(broken([](TextRecord& r) { r.height += 1; }));
  EXPECT_TRUE(broken([](TextRecord& r) { r.record_bytes += 1; }));
  EXPECT_TRUE(broken([](TextRecord& r) {  // one line holding everything is too wide
    r.lines.resize(1);
    r.lines[0].entry.chars = static_cast<std::uint8_t>(r.text.size());
    r.lines[0].runs[0].chars = static_cast<std::uint8_t>(r.text.size());
  }));
}

// A run of no characters first on the first line: the run after it has no
// cell before it to be compared with, and none is read.
TEST(Records, CheckerReadsNoCellBeforeTheText) {
  const auto p = paragraph("two words");
  ParagraphRecord decoded;
  ASSERT_TRUE(decode_paragraph(packed(p), decoded));
  TextRecord r = std::get<TextRecord>(decoded);
  r.lines[0].runs.insert(r.lines[0].runs.begin(), RunEntry{});
  EXPECT_FALSE(check_text_record(r, p.cells).empty());
}

TEST(Records, DocumentCheckCountsLineTotal) {
  std::vector<std::vector<std::uint8_t>> records(1, std::vector<std::uint8_t>(kHeaderRecordBytes));
  for (const auto& p : {paragraph("one"), paragraph("two"), special(kEmptyParagraphCell), special(kRuleCell, 1)})
    records.push_back(packed(p));
  encode_header(records[0].data(), HeaderRecord{kHeaderTag, 4, 0});
  EXPECT_TRUE(check_document(records).empty());
  encode_header(records[0].data(), HeaderRecord{kHeaderTag, 5, 0});
  EXPECT_FALSE(check_document(records).empty());
}

}  // namespace
}  // namespace vellora
