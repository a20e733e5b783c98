// Line breaking and run cutting. A line ends before the character that
// would make it reach the display width (or be its 129th character), at the
// last space or hyphen when there is one; runs are maximal stretches of
// equal attribute cells; justified lines turn every space into a stretched
// run.
#include "docmodel/layout.h"

#include <algorithm>
#include <cstring>

#include "docmodel/font_widths.h"

namespace vellora {

namespace {

bool is_break_char(std::uint8_t c) { return c == ' ' || c == '-'; }

// The widths of characters [from, to), all in one font, written into
// `reach` after the width of everything before `from`.
void measure_run(const std::uint8_t* text, std::size_t from, std::size_t to,
                 const std::array<std::uint8_t, 256>& widths, MeasuredParagraph& out) {
  unsigned total = out.reach[from];
  std::size_t i = from;
  // Four characters a step: the running sum is the only dependency.
  for (; i + 4 <= to; i += 4) {
    const unsigned first = total + widths[text[i]];
    const unsigned second = first + widths[text[i + 1]];
    const unsigned third = second + widths[text[i + 2]];
    total = third + widths[text[i + 3]];
    out.reach[i + 1] = static_cast<std::uint16_t>(first);
    out.reach[i + 2] = static_cast<std::uint16_t>(second);
    out.reach[i + 3] = static_cast<std::uint16_t>(third);
    out.reach[i + 4] = static_cast<std::uint16_t>(total);
  }
  for (; i < to; ++i) {
    total += widths[text[i]];
    out.reach[i + 1] = static_cast<std::uint16_t>(total);
  }
}

// The lines of a measured paragraph, in order.
void break_lines(const ParagraphView& p, const MeasuredParagraph& m, std::vector<LineSpan>& lines) {
  lines.clear();
  const std::size_t n = p.size();
  for (std::size_t start = 0; start < n;) {
    const std::size_t limit = std::min(n, start + kMaxLineChars);
    // The first character that would make the line reach the display
    // width, found in the running widths, which never decrease.
    const auto first_too_wide =
        std::lower_bound(m.reach.begin() + static_cast<std::ptrdiff_t>(start) + 1,
                         m.reach.begin() + static_cast<std::ptrdiff_t>(limit) + 1, m.reach[start] + kDisplayWidthPx);
    const std::size_t pos = static_cast<std::size_t>(first_too_wide - m.reach.begin()) - 1;
    if (pos == n) {
      lines.push_back({start, n - start, m.width_of(start, n)});
      return;
    }
    std::size_t end = pos;
    while (end > start && !is_break_char(p.text[end - 1])) --end;
    if (end == start) end = pos;
    lines.push_back({start, end - start, m.width_of(start, end)});
    start = end;
  }
}

// A run of kind `kind` holding the one character at `at`. Inline, as
// every run of every line is made here.
inline RunEntry run_of(const ParagraphView& p, const MeasuredParagraph& m, std::size_t at, std::uint16_t kind) {
  const AttributeCell cell = decode_cell(p.cell(at));
  return RunEntry{kind,
                  1,
                  static_cast<std::uint8_t>(m.width_of(at, at + 1)),
                  static_cast<std::uint8_t>(line_height_px(cell.font == kLargeFont)),
                  static_cast<std::uint8_t>(cell.font),
                  cell.colour,
                  cell.highlight};
}

// The start of the first run of equal cells after character `at`. Lines
// are cut in order, so `cursor` (an index into run_start, 0 for a
// paragraph's first line) only moves on.
std::size_t next_run_start(const MeasuredParagraph& m, std::size_t at, std::size_t& cursor) {
  while (m.run_start[cursor] <= at) ++cursor;
  return m.run_start[cursor];
}

// A text run from `at` up to `to`.
inline RunEntry text_run(const ParagraphView& p, const MeasuredParagraph& m, std::size_t at, std::size_t to) {
  RunEntry run = run_of(p, m, at, kTextRun);
  run.chars = static_cast<std::uint8_t>(to - at);
  run.width = static_cast<std::uint8_t>(m.width_of(at, to));
  return run;
}

// The runs of a line that is not justified: one per stretch of equal cells.
void cut_runs(const ParagraphView& p, const MeasuredParagraph& m, const LineSpan& line, std::size_t& cursor,
              std::vector<RunEntry>& runs) {
  const std::size_t end = line.start + line.chars;
  if (m.is_uniform) {
    runs.push_back(text_run(p, m, line.start, end));
    return;
  }
  for (std::size_t k = line.start; k < end;) {
    const std::size_t to = std::min<std::size_t>(end, next_run_start(m, k, cursor));
    runs.push_back(text_run(p, m, k, to));
    k = to;
  }
}

// How a justified line spreads its slack over its spaces: the first
// `stretched` spaces get `spread` pixels more each, and the first `rest` of
// them one more; any other space gets no width.
struct Justification {
  std::size_t stretched = 0;
  int spread = 0;
  int rest = 0;
};

// The slack counts trailing spaces at the standard space width and goes to
// the inner spaces, or to the first trailing space of a line that has none.
Justification justify(const ParagraphView& p, const LineSpan& line) {
  const std::size_t end = line.start + line.chars;
  std::size_t last = end;
  while (last > line.start && p.text[last - 1] == ' ') --last;
  const std::size_t trailing = end - last;
  std::size_t inner = 0;
  for (std::size_t i = line.start; i < last; ++i) inner += p.text[i] == ' ';
  const int stretch_count = inner == 0 ? 1 : static_cast<int>(inner);
  const int space_px = font_widths(0)[' '];
  const int slack = space_px * static_cast<int>(trailing) - line.width_px + kDisplayWidthPx;
  return {static_cast<std::size_t>(stretch_count), slack / stretch_count, slack % stretch_count};
}

// The runs of a justified line: text runs end at spaces too, and every
// space is a run of its own that takes its share of the slack.
void cut_justified_runs(const ParagraphView& p, const MeasuredParagraph& m, const LineSpan& line, std::size_t& cursor,
                        std::vector<RunEntry>& runs) {
  const std::size_t end = line.start + line.chars;
  Justification justification = justify(p, line);
  for (std::size_t k = line.start; k < end;) {
    if (p.text[k] == ' ') {
      RunEntry run = run_of(p, m, k, kSpaceRun);
      if (justification.stretched > 0) {
        // At most 150 + 4 + 1: the slack never exceeds the display width.
        int width_px = justification.spread + run.width;
        if (justification.rest > 0) {
          ++width_px;
          --justification.rest;
        }
        run.width = static_cast<std::uint8_t>(width_px);
        --justification.stretched;
      } else {
        run.width = 0;
      }
      runs.push_back(run);
      ++k;
      continue;
    }
    // A text run ends where the cells change or at the next space.
    std::size_t to = std::min<std::size_t>(end, next_run_start(m, k, cursor));
    const void* space = std::memchr(p.text + k + 1, ' ', to - k - 1);
    if (space != nullptr) to = static_cast<std::size_t>(static_cast<const std::uint8_t*>(space) - p.text);
    runs.push_back(text_run(p, m, k, to));
    k = to;
  }
}

}  // namespace

bool measure_paragraph(const ParagraphView& p, MeasuredParagraph& out) {
  static_assert(kMaxParagraphChars * kWidestGlyphPx <= UINT16_MAX);
  const std::size_t n = p.size();
  out.is_uniform = p.is_uniform();
  out.run_count = 0;
  for (std::size_t from = 0; from < n;) {
    const std::uint8_t* cell = p.cell(from);
    if (!is_text_cell(cell)) return false;
    const std::size_t to = out.is_uniform ? n : from + 1 + count_equal_cells(p.cell(from + 1), n - from - 1, cell);
    out.run_start[out.run_count++] = static_cast<std::uint16_t>(from);
    measure_run(p.text, from, to, font_widths(read_cell_font(cell)), out);
    from = to;
  }
  out.run_start[out.run_count] = static_cast<std::uint16_t>(n);
  return true;
}

void lay_out_paragraph(const ParagraphView& p, const MeasuredParagraph& measured, LaidOutParagraph& out) {
  break_lines(p, measured, out.lines);
  const bool justified = stored_alignment(p) == kAlignJustified;
  out.runs.clear();
  out.first_run.clear();
  std::size_t run_cursor = 0;
  for (const LineSpan& line : out.lines) {
    out.first_run.push_back(out.runs.size());
    if (justified)
      cut_justified_runs(p, measured, line, run_cursor, out.runs);
    else
      cut_runs(p, measured, line, run_cursor, out.runs);
  }
  out.first_run.push_back(out.runs.size());
}

}  // namespace vellora
