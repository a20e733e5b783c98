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
    line.entry = LineEntry{bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3], bytes[at + 4]};
    at += kLineEntryBytes;
    if (at + kRunEntryBytes * line.entry.run_count > bytes.size())
      return failed("the runs of line " + std::to_string(i + 1) + " run past the record's end");
    line.runs.reserve(line.entry.run_count);
    for (std::size_t r = 0; r < line.entry.run_count; ++r, at += kRunEntryBytes)
      line.runs.push_back(RunEntry{get_be16(&bytes[at]), bytes[at + 2], bytes[at + 3], bytes[at + 4], bytes[at + 5],
                                   bytes[at + 6], bytes[at + 7]});
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

std::vector<std::string> check_text_record(const TextRecord& record, std::span<const std::uint8_t> cells) {
  std::vector<std::string> problems;
  const auto report = [&](std::size_t line, const std::string& what) {
    problems.push_back("line " + std::to_string(line + 1) + ": " + what);
  };
  const bool justified = record.alignment == kAlignJustified;
  const bool has_cells = cells.size() == record.text.size() * kCellBytes;
  if (!cells.empty() && !has_cells) problems.push_back("cell bytes do not match the text length");

  std::size_t pos = 0, runs_total = 0;
  unsigned record_height = 0;
  for (std::size_t l = 0; l < record.lines.size(); ++l) {
    const TextLine& line = record.lines[l];
    runs_total += line.runs.size();
    if (line.runs.size() != line.entry.run_count) report(l, "run count differs from its runs");
    if (line.entry.chars > kMaxLineChars) report(l, "holds more than " + std::to_string(kMaxLineChars) + " characters");
    const std::size_t line_start = pos;
    int natural = 0, run_sum = 0;
    bool has_large = false;
    std::size_t run_chars = 0;
    for (std::size_t r = 0; r < line.runs.size(); ++r) {
      const RunEntry& run = line.runs[r];
      if (run.font >= kFontCount) {
        report(l, "run " + std::to_string(r + 1) + " has font " + std::to_string(run.font));
        return problems;
      }
      if (pos + run.chars > record.text.size()) {
        report(l, "runs extend past the text");
        return problems;
      }
      has_large |= run.font == kLargeFont;
      const auto& widths = font_widths(run.font);
      int width = 0;
      bool has_space = false;
      for (std::size_t i = pos; i < pos + run.chars; ++i) {
        width += widths[record.text[i]];
        has_space |= record.text[i] == ' ';
      }
      natural += width;
      run_sum += run.width;
      if (run.height != line_height_px(run.font == kLargeFont)) report(l, "run height is wrong");
      if (run.kind == kTextRun) {
        if (run.width != width)
          report(l, "run " + std::to_string(r + 1) + " width " + std::to_string(run.width) + ", its characters are " +
                        std::to_string(width));
        if (justified && has_space) report(l, "a text run of a justified line holds a space");
      } else if (run.kind == kSpaceRun) {
        if (!justified || run.chars != 1 || !has_space) report(l, "space run is not one space of a justified line");
      } else {
        report(l, "unknown run kind " + std::to_string(run.kind));
      }
      if (has_cells && run.chars > 0) {
        const std::uint8_t* first = cells.data() + pos * kCellBytes;
        for (std::size_t i = pos + 1; i < pos + run.chars; ++i)
          if (std::memcmp(first, cells.data() + i * kCellBytes, kCellBytes) != 0)
            report(l, "run " + std::to_string(r + 1) + " mixes attributes");
        const AttributeCell cell = decode_cell(first);
        if (run.font != static_cast<std::uint8_t>(cell.font) || run.colour != cell.colour ||
            run.highlight != cell.highlight)
          report(l, "run " + std::to_string(r + 1) + " attributes differ from its cells");
        const bool space_split =
            justified && (record.text[pos] == ' ' || (pos > line_start && record.text[pos - 1] == ' '));
        if (r > 0 && !space_split && std::memcmp(first - kCellBytes, first, kCellBytes) == 0)
          report(l, "run " + std::to_string(r + 1) + " could have joined the run before it");
      }
      pos += run.chars;
      run_chars += run.chars;
    }
    if (run_chars != line.entry.chars)
      report(l, "runs cover " + std::to_string(run_chars) + " of " + std::to_string(line.entry.chars) + " characters");
    if (natural > kDisplayWidthPx - 1) report(l, "natural width " + std::to_string(natural) + " exceeds 149 pixels");
    const int expected_width = justified && line.runs.size() > 1 ? kDisplayWidthPx : natural;
    if (line.entry.width != expected_width)
      report(l, "width " + std::to_string(line.entry.width) + ", expected " + std::to_string(expected_width));
    if (!justified && run_sum != line.entry.width)
      report(l, "run widths add up to " + std::to_string(run_sum) + ", not the line width");
    if (line.entry.height != line_height_px(has_large))
      report(l, "height " + std::to_string(line.entry.height) + " is wrong");
    int indent = 0;
    if (record.alignment == kAlignRight) indent = kDisplayWidthPx - natural;
    if (record.alignment == kAlignCentred) indent = (kDisplayWidthPx - natural) / 2;
    if (line.entry.indent != indent)
      report(l, "indent " + std::to_string(line.entry.indent) + ", expected " + std::to_string(indent));
    // Stretched spaces fill the display exactly when the line has inner
    // spaces and its trailing spaces are 2 pixels wide.
    if (justified && line.runs.size() > 1) {
      std::size_t end = pos;
      while (end > line_start && record.text[end - 1] == ' ') --end;
      bool inner = false;
      for (std::size_t i = line_start; i < end; ++i) inner |= record.text[i] == ' ';
      bool narrow_trailing = true;
      std::size_t at = pos;
      for (auto r = line.runs.rbegin(); r != line.runs.rend() && at > end; ++r) {
        at -= r->chars;
        narrow_trailing &= font_widths(r->font)[' '] == 2;
      }
      if (inner && narrow_trailing && run_sum != kDisplayWidthPx)
        report(l, "justified runs add up to " + std::to_string(run_sum) + ", not 150");
    }
    record_height += line.entry.height;
  }
  if (pos != record.text.size())
    problems.push_back("lines cover " + std::to_string(pos) + " of " + std::to_string(record.text.size()) +
                       " characters");
  if (record.height != record_height)
    problems.push_back("record height " + std::to_string(record.height) + ", lines add up to " +
                       std::to_string(record_height));
  if (record.record_bytes != 0 &&
      record.record_bytes != text_record_bytes(record.text.size(), record.lines.size(), runs_total))
    problems.push_back("record is " + std::to_string(record.record_bytes) + " bytes, its contents need " +
                       std::to_string(text_record_bytes(record.text.size(), record.lines.size(), runs_total)));
  return problems;
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
