// The packer: records from staged paragraphs, checked or trusted.
#include "docmodel/packer.h"

#include <gtest/gtest.h>

#include "docmodel/records.h"
#include "tests/support/paragraphs.h"

namespace vellora {
namespace {

using testing::paragraph;
using testing::special;
using testing::text_cell;

const std::string m18(18, 'm');  // 18 x 8 = 144 pixels

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

}  // namespace
}  // namespace vellora
