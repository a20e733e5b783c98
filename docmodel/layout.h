// Line layout of one paragraph, before anything is packed: the width of
// every character in its cell's font, the lines it breaks into for the
// 150-pixel display and the runs each line is cut into. Pure functions over
// plain structs; the caller keeps the structs and reuses them from one
// paragraph to the next, so laying out a document allocates nothing once
// the vectors have grown to its longest paragraph.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "docmodel/cell.h"
#include "docmodel/records.h"
#include "docmodel/staging.h"

namespace vellora {

// One paragraph's staged bytes wherever they live: in a StagedParagraph, or
// in the buffers an importer hands over while it reads. `cells` holds
// kCellBytes per character of `text`.
struct ParagraphView {
  std::int32_t alignment = kAlignLeft;
  const std::uint8_t* text = nullptr;
  const std::uint8_t* cells = nullptr;
  std::size_t n = 0;

  ParagraphView(std::int32_t align, std::span<const std::uint8_t> t, std::span<const std::uint8_t> c)
      : alignment(align), text(t.data()), cells(c.data()), n(t.size()) {}
  explicit ParagraphView(const StagedParagraph& p) : ParagraphView(p.alignment, p.text, p.cells) {}

  std::size_t size() const { return n; }
  const std::uint8_t* cell(std::size_t i) const { return cell_at(cells, i); }
  std::int32_t cell_kind(std::size_t i) const { return read_cell_kind(cell(i)); }
  // Every character carries the same cell, as in most paragraphs.
  bool is_uniform() const { return are_cells_uniform(cells, n); }
  // One character that stands for an empty line or a rule.
  bool is_special() const { return n == 1 && cell_kind(0) != kCharacterCell; }
};

// The alignment a paragraph is laid out and recorded by. The record keeps
// the code in 16 bits; laying out by that same value keeps a stray high bit
// from giving a record whose runs contradict its alignment.
inline std::uint16_t stored_alignment(const ParagraphView& paragraph) {
  return static_cast<std::uint16_t>(paragraph.alignment);
}

// What measure_paragraph() learns of a text paragraph.
struct MeasuredParagraph {
  // reach[i]: the width of characters 0 to i - 1, so any stretch's width is
  // one subtraction. At most 1024 x kWidestGlyphPx, well inside 16 bits.
  std::array<std::uint16_t, kMaxParagraphChars + 1> reach{};
  // Where each run of equal cells starts, ascending, then the paragraph's
  // length: a run may go on through every character up to the next start.
  std::array<std::uint16_t, kMaxParagraphChars + 1> run_start{};
  std::size_t run_count = 0;
  bool is_uniform = false;  // every character has the same cell

  int width_of(std::size_t from, std::size_t to) const { return reach[to] - reach[from]; }
};

// Characters [start, start + chars) of the paragraph, `width_px` wide.
struct LineSpan {
  std::size_t start = 0;
  std::size_t chars = 0;
  int width_px = 0;
};

// A paragraph's lines and the runs of each, line by line.
struct LaidOutParagraph {
  std::vector<LineSpan> lines;
  std::vector<RunEntry> runs;
  // Index in `runs` of each line's first run, then runs.size(): line l's
  // runs are [first_run[l], first_run[l + 1]).
  std::vector<std::size_t> first_run;
};

// Measures a text paragraph into `out`. False when a cell is not a
// character cell of font 0, 1 or 2; only the first cell of each run of
// equal cells is looked at, so valid text is read once.
bool measure_paragraph(const ParagraphView& paragraph, MeasuredParagraph& out);

// Lays out a text paragraph that `measured` holds the measure of. A line
// takes characters while it stays under the display width and 128
// characters, then ends after its last space or hyphen when it has one.
// Runs are maximal stretches of equal cells within a line; a justified
// line turns every space into a run of its own, stretched to fill the
// display.
void lay_out_paragraph(const ParagraphView& paragraph, const MeasuredParagraph& measured, LaidOutParagraph& out);

}  // namespace vellora
