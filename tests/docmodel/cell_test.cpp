#include "docmodel/cell.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

TEST(AttributeCell, FieldsSitAtTheirStagedOffsetsLittleEndian) {
  const CellBytes bytes = encode_cell(AttributeCell{0x01020304, 0xAA, 0xBB, 0x05060708});
  EXPECT_EQ(bytes, (CellBytes{0x04, 0x03, 0x02, 0x01, 0xAA, 0xBB, 0x08, 0x07, 0x06, 0x05}));
  EXPECT_EQ(decode_cell(bytes.data()), (AttributeCell{0x01020304, 0xAA, 0xBB, 0x05060708}));
  EXPECT_EQ(read_cell_kind(bytes.data()), 0x01020304);
  EXPECT_EQ(read_cell_font(bytes.data()), 0x05060708);
}

TEST(AttributeCell, NegativeFieldsReadBackSigned) {
  // A staged font of -1 must read as -1, not as 4294967295 that a signed
  // range check would then pass as "large".
  const CellBytes bytes = encode_cell(AttributeCell{-2, 0, 0, -1});
  EXPECT_EQ(read_cell_kind(bytes.data()), -2);
  EXPECT_EQ(read_cell_font(bytes.data()), -1);
  EXPECT_FALSE(is_text_font(read_cell_font(bytes.data())));
}

TEST(AttributeCell, WritingTheKindKeepsTheOtherFields) {
  // An empty paragraph keeps the colour, highlight and font its cell held.
  CellBytes bytes = encode_cell(AttributeCell{kCharacterCell, 7, 9, 2});
  write_cell_kind(bytes.data(), kEmptyParagraphCell);
  EXPECT_EQ(decode_cell(bytes.data()), (AttributeCell{kEmptyParagraphCell, 7, 9, 2}));
}

TEST(AttributeCell, OnlyCharacterCellsOfTheHandheldsFontsAreText) {
  for (std::int32_t font = 0; font < kFontCount; ++font)
    EXPECT_TRUE(is_text_cell(encode_cell(AttributeCell{kCharacterCell, 0, 0, font}).data())) << font;
  EXPECT_FALSE(is_text_cell(encode_cell(AttributeCell{kCharacterCell, 0, 0, kFontCount}).data()));
  EXPECT_FALSE(is_text_cell(encode_cell(AttributeCell{kRuleCell, 0, 0, 0}).data()));
  EXPECT_FALSE(is_text_cell(encode_cell(AttributeCell{kEmptyParagraphCell, 0, 0, 0}).data()));
}

TEST(AttributeCell, CellsThatDifferInAnyByteAreNotTheSame) {
  std::array<std::uint8_t, 3 * kCellBytes> cells{};
  const CellBytes plain = encode_cell(AttributeCell{kCharacterCell, 1, 2, 1});
  for (std::size_t i = 0; i < 3; ++i) std::copy(plain.begin(), plain.end(), cell_at(cells.data(), i));
  EXPECT_TRUE(is_same_cell(cell_at(cells.data(), 0), cell_at(cells.data(), 1)));
  EXPECT_TRUE(are_cells_uniform(cells.data(), 3));
  for (std::size_t byte = 0; byte < kCellBytes; ++byte) {
    auto changed = cells;
    changed[2 * kCellBytes + byte] ^= 0x80;
    EXPECT_FALSE(is_same_cell(cell_at(changed.data(), 1), cell_at(changed.data(), 2))) << byte;
    EXPECT_FALSE(are_cells_uniform(changed.data(), 3)) << byte;
    // Fewer cells than the changed one: still uniform.
    EXPECT_TRUE(are_cells_uniform(changed.data(), 2)) << byte;
  }
  EXPECT_TRUE(are_cells_uniform(cells.data(), 1));
  EXPECT_TRUE(are_cells_uniform(cells.data(), 0));
}

TEST(AttributeCell, FillingGivesEveryCellTheSameBytesAndStopsAtTheCount) {
  std::array<std::uint8_t, 3 * kCellBytes> cells{};
  const CellBytes rule = encode_cell(AttributeCell{kRuleCell, 3, 4, 5});
  fill_cells(cells.data(), 2, rule.data());
  EXPECT_EQ(decode_cell(cell_at(cells.data(), 0)), (AttributeCell{kRuleCell, 3, 4, 5}));
  EXPECT_EQ(decode_cell(cell_at(cells.data(), 1)), (AttributeCell{kRuleCell, 3, 4, 5}));
  EXPECT_EQ(decode_cell(cell_at(cells.data(), 2)), AttributeCell{});
}

}  // namespace
}  // namespace vellora
