// Encoding, decoding and checking of document database records.
#include "docmodel/records.h"

#include <cstring>
#include <numeric>

#include "base/byte_order.h"
#include "docmodel/font_widths.h"
#include "docmodel/staging.h"

namespace vellora {

// ---------------------------------------------------------------- encoders

void encode_header(std::uint8_t* at, const HeaderRecord& header) {
  std::memset(at, kFiller, kHeaderRecordBytes);
  put_be16(at, header.tag);
  put_be32(at + kHeaderLineTotalAt, header.line_total);
  at[kHeaderBackgroundAt] = header.background;
}

void encode_empty_line(std::uint8_t* at) {
  std::memset(at, kFiller, kShortRecordBytes);
  put_be16(at, kEmptyLineRecord);
  put_be16(at + kEmptyLineHeightAt, kEmptyLineHeightPx);
}

void encode_rule(std::uint8_t* at, const RuleRecord& rule) {
  std::memset(at, kFiller, kShortRecordBytes);
  put_be16(at, kRuleRecord);
  put_be16(at + kRuleHeightAt, rule.height);
  at[kRuleThicknessAt] = rule.thickness;
  at[kRuleColourAt] = rule.colour;
  at[kRuleHighlightAt] = rule.highlight;
}

void encode_text_head(std::uint8_t* at, std::uint16_t height, std::uint16_t alignment, std::uint16_t line_count,
                      std::uint16_t text_length) {
  std::memset(at, kFiller, kTextHeadBytes);
  put_be16(at, kTextRecord);
  put_be16(at + kTextHeightAt, height);
  put_be16(at + kTextAlignmentAt, alignment);
  put_be16(at + kTextLineCountAt, line_count);
  put_be16(at + kTextLengthAt, text_length);
}

void encode_line_entry(std::uint8_t* at, const LineEntry& line) {
  at[0] = line.chars;
  at[1] = line.run_count;
  at[2] = line.width;
  at[3] = line.height;
  at[4] = line.indent;
  at[5] = at[6] = at[7] = 0;
}

void encode_run_entry(std::uint8_t* at, const RunEntry& run) {
  put_be16(at, run.kind);
  at[2] = run.chars;
  at[3] = run.width;
  at[4] = run.height;
  at[5] = run.font;
  at[6] = run.colour;
  at[7] = run.highlight;
}

LineEntry decode_line_entry(const std::uint8_t* at) { return LineEntry{at[0], at[1], at[2], at[3], at[4]}; }

RunEntry decode_run_entry(const std::uint8_t* at) {
  return RunEntry{get_be16(at), at[2], at[3], at[4], at[5], at[6], at[7]};
}

std::vector<std::uint8_t> encode_text_record(const TextRecord& record) {
  std::size_t runs = 0;
  for (const auto& line : record.lines) runs += line.runs.size();
  // Grown part by part rather than sized from the sum of the parts: as far
  // as the optimiser knows that sum can wrap, which leaves a path where the
  // head is written into an empty buffer.
  std::vector<std::uint8_t> bytes(kTextHeadBytes);
  bytes.reserve(text_record_bytes(record.text.size(), record.lines.size(), runs));
  encode_text_head(bytes.data(), record.height, record.alignment, static_cast<std::uint16_t>(record.lines.size()),
                   static_cast<std::uint16_t>(record.text.size()));
  bytes.insert(bytes.end(), record.text.begin(), record.text.end());
  const auto append = [&bytes](std::size_t count) {
    bytes.resize(bytes.size() + count);
    return bytes.data() + bytes.size() - count;
  };
  for (const auto& line : record.lines) {
    encode_line_entry(append(kLineEntryBytes), line.entry);
    for (const auto& run : line.runs) encode_run_entry(append(kRunEntryBytes), run);
  }
  return bytes;
}

// ---------------------------------------------------------------- decoders

namespace {

// The kind and height that every paragraph record starts with.
constexpr std::size_t kParagraphStartBytes = kTextHeightAt + 2;

DecodeResult failed(std::string reason) { return {false, std::move(reason)}; }

DecodeResult too_short(const char* record, std::size_t size_bytes) {
  std::string reason = record;
  reason += " of " + std::to_string(size_bytes) + " bytes is too short";
  return failed(std::move(reason));
}

DecodeResult decode_text(std::span<const std::uint8_t> bytes, TextRecord& out) {
  if (bytes.size() < kTextHeadBytes)
    return failed("text record of " + std::to_string(bytes.size()) + " bytes has no room for its 16-byte head");
  out.height = get_be16(&bytes[kTextHeightAt]);
  out.alignment = get_be16(&bytes[kTextAlignmentAt]);
  const std::size_t line_count = get_be16(&bytes[kTextLineCountAt]);
  const std::size_t text_length = get_be16(&bytes[kTextLengthAt]);
  if (kTextHeadBytes + text_length > bytes.size())
    return failed("text length " + std::to_string(text_length) + " runs past the record's end (" +
                  std::to_string(bytes.size()) + " bytes)");
  out.text.assign(bytes.begin() + kTextHeadBytes,
                  bytes.begin() + static_cast<std::ptrdiff_t>(kTextHeadBytes + text_length));
  out.record_bytes = bytes.size();
  out.lines.clear();
  out.lines.reserve(line_count);
  std::size_t at = kTextHeadBytes + text_length;
  for (std::size_t i = 0; i < line_count; ++i) {
    if (at + kLineEntryBytes > bytes.size())
      return failed("line " + std::to_string(i + 1) + " of " + std::to_string(line_count) +
                    " runs past the record's end");
    TextLine line;
    line.entry = decode_line_entry(&bytes[at]);
    at += kLineEntryBytes;
    if (at + kRunEntryBytes * line.entry.run_count > bytes.size())
      return failed("the runs of line " + std::to_string(i + 1) + " run past the record's end");
    line.runs.reserve(line.entry.run_count);
    for (std::size_t r = 0; r < line.entry.run_count; ++r, at += kRunEntryBytes)
      line.runs.push_back(decode_run_entry(&bytes[at]));
    out.lines.push_back(std::move(line));
  }
  return {};
}

}  // namespace

DecodeResult decode_header(std::span<const std::uint8_t> bytes, HeaderRecord& out) {
  if (bytes.size() < kHeaderBackgroundAt + 1) return too_short("header record", bytes.size());
  out.tag = get_be16(&bytes[0]);
  out.line_total = get_be32(&bytes[kHeaderLineTotalAt]);
  out.background = bytes[kHeaderBackgroundAt];
  return {};
}

DecodeResult decode_paragraph(std::span<const std::uint8_t> bytes, ParagraphRecord& out) {
  if (bytes.size() < kParagraphStartBytes) return too_short("record", bytes.size());
  const std::uint16_t kind = get_be16(&bytes[0]);
  switch (kind) {
    case kTextRecord: {
      TextRecord text;
      auto result = decode_text(bytes, text);
      out = std::move(text);
      return result;
    }
    case kEmptyLineRecord: out = EmptyLineRecord{get_be16(&bytes[kEmptyLineHeightAt])}; return {};
    case kRuleRecord:
      if (bytes.size() < kRuleHighlightAt + 1) return too_short("rule record", bytes.size());
      out = RuleRecord{get_be16(&bytes[kRuleHeightAt]), bytes[kRuleThicknessAt], bytes[kRuleColourAt],
                       bytes[kRuleHighlightAt]};
      return {};
    default: return failed("unknown record kind " + std::to_string(kind));
  }
}

// ---------------------------------------------------------------- invariants

namespace {

// One text record under check: the rules below each add what they find.
struct TextRecordCheck {
  const TextRecord& record;
  std::span<const std::uint8_t> cells;
  bool justified;
  bool has_cells;  // the paragraph's staged cells came with the record
  std::vector<std::string> problems;

  void report(std::size_t line, const std::string& what) {
    problems.push_back("line " + std::to_string(line + 1) + ": " + what);
  }
};

// What a line's runs add up to.
struct LineSums {
  int natural = 0;  // the characters' widths
  int run_sum = 0;  // the runs' widths
  bool has_large = false;
  std::size_t run_chars = 0;
};

std::string run_name(std::size_t r) { return "run " + std::to_string(r + 1); }

// A run's font exists and its characters lie in the text: false when not,
// and nothing after it can be read.
bool run_is_readable(TextRecordCheck& c, std::size_t l, std::size_t r, const RunEntry& run, std::size_t pos) {
  if (run.font >= kFontCount) {
    c.report(l, run_name(r) + " has font " + std::to_string(run.font));
    return false;
  }
  if (pos + run.chars > c.record.text.size()) {
    c.report(l, "runs extend past the text");
    return false;
  }
  return true;
}

// A run's height, and its width and kind against its characters.
void check_run_measure(TextRecordCheck& c, std::size_t l, std::size_t r, const RunEntry& run, int width,
                       bool has_space) {
  if (run.height != line_height_px(run.font == kLargeFont)) c.report(l, "run height is wrong");
  if (run.kind == kTextRun) {
    if (run.width != width)
      c.report(l,
               run_name(r) + " width " + std::to_string(run.width) + ", its characters are " + std::to_string(width));
    if (c.justified && has_space) c.report(l, "a text run of a justified line holds a space");
  } else if (run.kind == kSpaceRun) {
    if (!c.justified || run.chars != 1 || !has_space) c.report(l, "space run is not one space of a justified line");
  } else {
    c.report(l, "unknown run kind " + std::to_string(run.kind));
  }
}

// A run's cells: all alike, carrying the run's attributes, and different
// from the run before unless a justified line's space split them (a run
// at the text's start, after empty ones, has no cell before it).
void check_run_cells(TextRecordCheck& c, std::size_t l, std::size_t r, const RunEntry& run, std::size_t pos,
                     std::size_t line_start) {
  if (!c.has_cells || run.chars == 0) return;
  const std::uint8_t* first = c.cells.data() + pos * kCellBytes;
  for (std::size_t i = pos + 1; i < pos + run.chars; ++i)
    if (std::memcmp(first, c.cells.data() + i * kCellBytes, kCellBytes) != 0)
      c.report(l, run_name(r) + " mixes attributes");
  const AttributeCell cell = decode_cell(first);
  if (run.font != static_cast<std::uint8_t>(cell.font) || run.colour != cell.colour || run.highlight != cell.highlight)
    c.report(l, run_name(r) + " attributes differ from its cells");
  const auto& text = c.record.text;
  const bool space_split = c.justified && (text[pos] == ' ' || (pos > line_start && text[pos - 1] == ' '));
  if (r > 0 && pos > 0 && !space_split && std::memcmp(first - kCellBytes, first, kCellBytes) == 0)
    c.report(l, run_name(r) + " could have joined the run before it");
}

// Checks the runs of line `l`, which starts at text position `pos`; adds
// them up in `sums` and moves `pos` past them. False when a run cannot be
// read.
bool check_runs(TextRecordCheck& c, std::size_t l, std::size_t& pos, LineSums& sums) {
  const TextLine& line = c.record.lines[l];
  const std::size_t line_start = pos;
  for (std::size_t r = 0; r < line.runs.size(); ++r) {
    const RunEntry& run = line.runs[r];
    if (!run_is_readable(c, l, r, run, pos)) return false;
    sums.has_large |= run.font == kLargeFont;
    const auto& widths = font_widths(run.font);
    int width = 0;
    bool has_space = false;
    for (std::size_t i = pos; i < pos + run.chars; ++i) {
      width += widths[c.record.text[i]];
      has_space |= c.record.text[i] == ' ';
    }
    sums.natural += width;
    sums.run_sum += run.width;
    check_run_measure(c, l, r, run, width, has_space);
    check_run_cells(c, l, r, run, pos, line_start);
    pos += run.chars;
    sums.run_chars += run.chars;
  }
  return true;
}

// A line's characters, width, height and indent as its runs give them.
void check_line_measure(TextRecordCheck& c, std::size_t l, const LineSums& sums) {
  const LineEntry& entry = c.record.lines[l].entry;
  const std::size_t run_count = c.record.lines[l].runs.size();
  if (sums.run_chars != entry.chars)
    c.report(l, "runs cover " + std::to_string(sums.run_chars) + " of " + std::to_string(entry.chars) + " characters");
  if (sums.natural > kDisplayWidthPx - 1)
    c.report(l, "natural width " + std::to_string(sums.natural) + " exceeds 149 pixels");
  const int expected_width = c.justified && run_count > 1 ? kDisplayWidthPx : sums.natural;
  if (entry.width != expected_width)
    c.report(l, "width " + std::to_string(entry.width) + ", expected " + std::to_string(expected_width));
  if (!c.justified && sums.run_sum != entry.width)
    c.report(l, "run widths add up to " + std::to_string(sums.run_sum) + ", not the line width");
  if (entry.height != line_height_px(sums.has_large))
    c.report(l, "height " + std::to_string(entry.height) + " is wrong");
  int indent = 0;
  if (c.record.alignment == kAlignRight) indent = kDisplayWidthPx - sums.natural;
  if (c.record.alignment == kAlignCentred) indent = (kDisplayWidthPx - sums.natural) / 2;
  if (entry.indent != indent)
    c.report(l, "indent " + std::to_string(entry.indent) + ", expected " + std::to_string(indent));
}

// Stretched spaces fill the display exactly when a justified line has
// inner spaces and its trailing spaces are 2 pixels wide. The line spans
// the text from `line_start` to `pos`.
void check_justified_fill(TextRecordCheck& c, std::size_t l, std::size_t line_start, std::size_t pos, int run_sum) {
  const TextLine& line = c.record.lines[l];
  if (!c.justified || line.runs.size() <= 1) return;
  const auto& text = c.record.text;
  std::size_t end = pos;
  while (end > line_start && text[end - 1] == ' ') --end;
  bool inner = false;
  for (std::size_t i = line_start; i < end; ++i) inner |= text[i] == ' ';
  bool narrow_trailing = true;
  std::size_t at = pos;
  for (auto r = line.runs.rbegin(); r != line.runs.rend() && at > end; ++r) {
    at -= r->chars;
    narrow_trailing &= font_widths(r->font)[' '] == 2;
  }
  if (inner && narrow_trailing && run_sum != kDisplayWidthPx)
    c.report(l, "justified runs add up to " + std::to_string(run_sum) + ", not 150");
}

// The record's lines cover its text, its height is theirs, and its size
// is what the size formula gives.
void check_record_totals(TextRecordCheck& c, std::size_t pos, unsigned record_height, std::size_t runs_total) {
  const TextRecord& record = c.record;
  if (pos != record.text.size())
    c.problems.push_back("lines cover " + std::to_string(pos) + " of " + std::to_string(record.text.size()) +
                         " characters");
  if (record.height != record_height)
    c.problems.push_back("record height " + std::to_string(record.height) + ", lines add up to " +
                         std::to_string(record_height));
  const std::size_t needed = text_record_bytes(record.text.size(), record.lines.size(), runs_total);
  if (record.record_bytes != 0 && record.record_bytes != needed)
    c.problems.push_back("record is " + std::to_string(record.record_bytes) + " bytes, its contents need " +
                         std::to_string(needed));
}

}  // namespace

std::vector<std::string> check_text_record(const TextRecord& record, std::span<const std::uint8_t> cells) {
  TextRecordCheck c{
      record, cells, record.alignment == kAlignJustified, cells.size() == record.text.size() * kCellBytes, {}};
  if (!cells.empty() && !c.has_cells) c.problems.push_back("cell bytes do not match the text length");
  std::size_t pos = 0, runs_total = 0;
  unsigned record_height = 0;
  for (std::size_t l = 0; l < record.lines.size(); ++l) {
    const TextLine& line = record.lines[l];
    runs_total += line.runs.size();
    if (line.runs.size() != line.entry.run_count) c.report(l, "run count differs from its runs");
    if (line.entry.chars > kMaxLineChars)
      c.report(l, "holds more than " + std::to_string(kMaxLineChars) + " characters");
    const std::size_t line_start = pos;
    LineSums sums;
    if (!check_runs(c, l, pos, sums)) return std::move(c.problems);
    check_line_measure(c, l, sums);
    check_justified_fill(c, l, line_start, pos, sums.run_sum);
    record_height += line.entry.height;
  }
  check_record_totals(c, pos, record_height, runs_total);
  return std::move(c.problems);
}

void DocumentCheck::add(std::span<const std::uint8_t> record) {
  const std::size_t index = records_++;
  if (is_stopped_) return;
  if (index == 0) {
    if (auto result = decode_header(record, header_); !result) {
      report_("record 0: " + result.reason);
      is_stopped_ = true;  // without a header nothing else can be judged
      return;
    }
    if (record.size() != kHeaderRecordBytes) report_("record 0 is not 48 bytes");
    if (header_.tag != kHeaderTag) report_("record 0 has tag " + std::to_string(header_.tag));
    return;
  }
  ParagraphRecord paragraph;
  if (auto result = decode_paragraph(record, paragraph); !result) {
    report_("record " + std::to_string(index) + ": " + result.reason);
    return;
  }
  if (const auto* text = std::get_if<TextRecord>(&paragraph)) {
    lines_ += text->lines.size();
    for (const auto& problem : check_text_record(*text)) report_("record " + std::to_string(index) + ", " + problem);
  } else {
    lines_ += 1;
    if (record.size() != kShortRecordBytes) report_("record " + std::to_string(index) + " is not 16 bytes");
  }
}

void DocumentCheck::finish() {
  if (records_ == 0) report_("no header record");
  if (records_ == 0 || is_stopped_) return;
  if (header_.line_total != lines_)
    report_("lineTotal is " + std::to_string(header_.line_total) + ", the records hold " + std::to_string(lines_) +
            " lines");
}

std::vector<std::string> check_document(const std::vector<std::vector<std::uint8_t>>& records) {
  std::vector<std::string> problems;
  DocumentCheck check([&](const std::string& problem) { problems.push_back(problem); });
  for (const auto& record : records) check.add(record);
  check.finish();
  return problems;
}

}  // namespace vellora
