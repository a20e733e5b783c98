// The attribute cell: the 10 bytes that stage each character's attributes,
// an int32 kind at byte 0, the colour and highlight palette indices at
// bytes 4 and 5, and an int32 font at byte 6, integers little-endian.
// Every read or write of a cell's fields goes through this file, so the
// layout is spelled out once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/byte_order.h"
#include "docmodel/font_widths.h"

namespace vellora {

constexpr std::size_t kCellBytes = 10;

// Where each field starts in a cell.
constexpr std::size_t kCellKindAt = 0;
constexpr std::size_t kCellColourAt = 4;
constexpr std::size_t kCellHighlightAt = 5;
constexpr std::size_t kCellFontAt = 6;

// Attribute cell `kind`.
constexpr std::int32_t kCharacterCell = 0;
constexpr std::int32_t kEmptyParagraphCell = 1;
constexpr std::int32_t kRuleCell = 2;

// One character's attributes. In a rule cell `font` is the thickness unit.
struct AttributeCell {
  std::int32_t kind = kCharacterCell;
  std::uint8_t colour = 0;
  std::uint8_t highlight = 0;
  std::int32_t font = 0;
  friend bool operator==(const AttributeCell&, const AttributeCell&) = default;
};

using CellBytes = std::array<std::uint8_t, kCellBytes>;

inline CellBytes encode_cell(const AttributeCell& cell) {
  CellBytes bytes{};
  put_le32(bytes.data() + kCellKindAt, static_cast<std::uint32_t>(cell.kind));
  bytes[kCellColourAt] = cell.colour;
  bytes[kCellHighlightAt] = cell.highlight;
  put_le32(bytes.data() + kCellFontAt, static_cast<std::uint32_t>(cell.font));
  return bytes;
}

inline AttributeCell decode_cell(const std::uint8_t* cell) {
  return AttributeCell{static_cast<std::int32_t>(get_le32(cell + kCellKindAt)), cell[kCellColourAt],
                       cell[kCellHighlightAt], static_cast<std::int32_t>(get_le32(cell + kCellFontAt))};
}

// Single fields, for the paths that look at one field of many cells.
inline std::int32_t read_cell_kind(const std::uint8_t* cell) {
  return static_cast<std::int32_t>(get_le32(cell + kCellKindAt));
}
inline std::int32_t read_cell_font(const std::uint8_t* cell) {
  return static_cast<std::int32_t>(get_le32(cell + kCellFontAt));
}
// Leaves the other fields as they are.
inline void write_cell_kind(std::uint8_t* cell, std::int32_t kind) {
  put_le32(cell + kCellKindAt, static_cast<std::uint32_t>(kind));
}

// Cell `index` of an array of cells, as staged back to back.
inline const std::uint8_t* cell_at(const std::uint8_t* cells, std::size_t index) { return cells + index * kCellBytes; }
inline std::uint8_t* cell_at(std::uint8_t* cells, std::size_t index) { return cells + index * kCellBytes; }

// Four copies of one cell: 40 bytes, which the compiler stores and
// compares as a few wide words, so runs of equal cells are written and
// found four cells at a time.
using FourCells = std::array<std::uint8_t, 4 * kCellBytes>;
inline FourCells four_cells(const std::uint8_t* cell) {
  FourCells four;
  for (std::size_t k = 0; k < 4; ++k) std::memcpy(four.data() + k * kCellBytes, cell, kCellBytes);
  return four;
}

// Gives `count` cells from `cells` on the bytes of `cell`, which must lie
// outside them.
inline void fill_cells(std::uint8_t* cells, std::size_t count, const std::uint8_t* cell) {
  std::uint8_t* to = cells;
  std::uint8_t* const end = cells + count * kCellBytes;
  if (count >= 4) {
    const FourCells four = four_cells(cell);
    for (; end - to >= static_cast<std::ptrdiff_t>(four.size()); to += four.size())
      std::memcpy(to, four.data(), four.size());
  }
  for (; to != end; to += kCellBytes) std::memcpy(to, cell, kCellBytes);
}

// A font the handheld has glyphs for. A rule cell's font is a thickness
// and is not held to this.
constexpr bool is_text_font(std::int32_t font) { return font >= 0 && font < kFontCount; }

// What every cell of a paragraph longer than one character must be.
inline bool is_text_cell(const std::uint8_t* cell) {
  return read_cell_kind(cell) == kCharacterCell && is_text_font(read_cell_font(cell));
}

// Two cells are equal byte for byte, so characters may share a run.
inline bool is_same_cell(const std::uint8_t* a, const std::uint8_t* b) {
  // Two loads instead of a memcmp call: runs are cut by this test on every
  // character of a paragraph whose cells change.
  std::uint64_t head_a, head_b;
  std::uint16_t tail_a, tail_b;
  std::memcpy(&head_a, a, 8);
  std::memcpy(&head_b, b, 8);
  std::memcpy(&tail_a, a + 8, 2);
  std::memcpy(&tail_b, b + 8, 2);
  return head_a == head_b && tail_a == tail_b;
}

// How many of the `count` cells from `cells` on are equal to `cell`, up to
// the first that is not: the runs the layout looks for in every paragraph.
inline std::size_t count_equal_cells(const std::uint8_t* cells, std::size_t count, const std::uint8_t* cell) {
  std::size_t i = 0;
  if (count >= 4) {
    const FourCells four = four_cells(cell);
    while (i + 4 <= count && std::memcmp(cell_at(cells, i), four.data(), four.size()) == 0) i += 4;
  }
  while (i < count && is_same_cell(cell_at(cells, i), cell)) ++i;
  return i;
}

// All `count` cells from `cells` on are one and the same, as in most
// paragraphs; true for fewer than two.
inline bool are_cells_uniform(const std::uint8_t* cells, std::size_t count) {
  return count < 2 || std::memcmp(cells, cells + kCellBytes, (count - 1) * kCellBytes) == 0;
}

}  // namespace vellora
