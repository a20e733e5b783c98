// Record packing: a laid-out paragraph's text, line entries and run entries
// become its record; empty lines and rules take a short record of their
// own. The packer checks staged paragraphs as the staging reader does before
// laying them out, and keeps the first problem.
#include "docmodel/packer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "docmodel/font_widths.h"
#include "docmodel/records.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

// A rule's height in pixels per unit of its staged thickness.
constexpr std::uint32_t kRulePxPerThicknessUnit = 3;

std::uint16_t line_height_of(const std::vector<RunEntry>& runs, std::size_t from, std::size_t to) {
  bool large = false;
  for (std::size_t r = from; r < to; ++r) large |= runs[r].font == kLargeFont;
  return static_cast<std::uint16_t>(line_height_px(large));
}

std::uint8_t indent_px(std::uint16_t alignment, int natural_px) {
  if (alignment == kAlignRight) return static_cast<std::uint8_t>(kDisplayWidthPx - natural_px);
  if (alignment == kAlignCentred) return static_cast<std::uint8_t>((kDisplayWidthPx - natural_px) / 2);
  return 0;
}

// Debug builds check every packed record against the layout rules, so
// every test and demo run doubles as a check of the layout and packer.
[[maybe_unused]] void verify_record(std::span<const std::uint8_t> bytes, const ParagraphView& paragraph) {
  ParagraphRecord record;
  std::vector<std::string> problems;
  if (auto decoded = decode_paragraph(bytes, record); !decoded)
    problems.push_back(decoded.reason);
  else
    problems = check_text_record(std::get<TextRecord>(record), {paragraph.cells, paragraph.size() * kCellBytes});
  if (problems.empty()) return;
  for (const auto& problem : problems) std::fprintf(stderr, "builder: %s\n", problem.c_str());
  std::abort();
}

// The text of a fixed-size name field: up to its first zero, or the whole
// field when it has none.
std::size_t name_length(const char* field, std::size_t field_chars) {
  return static_cast<std::size_t>(std::find(field, field + field_chars, '\0') - field);
}

// Appends the 16-byte record of an empty line or a rule.
void append_special_record(const ParagraphView& paragraph, ByteVector& out) {
  const std::size_t at = out.size();
  out.resize(at + kShortRecordBytes);
  if (paragraph.cell_kind(0) == kEmptyParagraphCell) {
    encode_empty_line(out.data() + at);
    return;
  }
  const AttributeCell cell = decode_cell(paragraph.cell(0));
  // The staged thickness is unchecked; unsigned arithmetic keeps the low
  // 16 bits of the height without overflowing for a huge one.
  const std::uint32_t height_px = kRulePxPerThicknessUnit * static_cast<std::uint32_t>(cell.font);
  encode_rule(out.data() + at, RuleRecord{static_cast<std::uint16_t>(height_px), static_cast<std::uint8_t>(cell.font),
                                          cell.colour, cell.highlight});
}

// Appends the record of a laid-out text paragraph: head, text, then each
// line's entry followed by its runs.
void append_text_record(const ParagraphView& paragraph, const LaidOutParagraph& laid_out, ByteVector& out) {
  const std::uint16_t alignment = stored_alignment(paragraph);
  const bool justified = alignment == kAlignJustified;
  const std::size_t n = paragraph.size();
  const std::size_t at = out.size();
  out.resize(at + text_record_bytes(n, laid_out.lines.size(), laid_out.runs.size()));
  std::uint8_t* cursor = out.data() + at + kTextHeadBytes;
  std::memcpy(cursor, paragraph.text, n);
  cursor += n;
  unsigned record_height = 0;
  for (std::size_t l = 0; l < laid_out.lines.size(); ++l) {
    const LineSpan& line = laid_out.lines[l];
    const std::size_t from = laid_out.first_run[l], to = laid_out.first_run[l + 1];
    const std::size_t run_count = to - from;
    const std::uint16_t height = line_height_of(laid_out.runs, from, to);
    record_height += height;
    const int width_px = justified && run_count > 1 ? kDisplayWidthPx : line.width_px;
    encode_line_entry(cursor, LineEntry{static_cast<std::uint8_t>(line.chars), static_cast<std::uint8_t>(run_count),
                                        static_cast<std::uint8_t>(width_px), static_cast<std::uint8_t>(height),
                                        indent_px(alignment, line.width_px)});
    cursor += kLineEntryBytes;
    for (std::size_t r = from; r < to; ++r, cursor += kRunEntryBytes) encode_run_entry(cursor, laid_out.runs[r]);
  }
  encode_text_head(out.data() + at, static_cast<std::uint16_t>(record_height), alignment,
                   static_cast<std::uint16_t>(laid_out.lines.size()), static_cast<std::uint16_t>(n));
#ifndef NDEBUG
  verify_record({out.data() + at, out.size() - at}, paragraph);
#endif
}

// Appends the record of a paragraph whose text `measured` holds the
// measure of, or of an empty line or a rule, and returns its display lines.
// The two ways in below decide whether the cells need checking first.
std::uint32_t append_measured_record(const ParagraphView& paragraph, const MeasuredParagraph& measured,
                                     LaidOutParagraph& laid_out, ByteVector& out) {
  if (paragraph.is_special()) {
    append_special_record(paragraph, out);
    return 1;
  }
  lay_out_paragraph(paragraph, measured, laid_out);
  append_text_record(paragraph, laid_out, out);
  return static_cast<std::uint32_t>(laid_out.lines.size());
}

// Checks the cells as the staging reader does and packs the paragraph when
// they pass; appends nothing otherwise. The length is the caller's to check.
std::optional<std::uint32_t> pack_if_valid(const ParagraphView& paragraph, MeasuredParagraph& measured,
                                           LaidOutParagraph& laid_out, ByteVector& out) {
  const bool is_line_or_rule =
      paragraph.size() == 1 && (paragraph.cell_kind(0) == kEmptyParagraphCell || paragraph.cell_kind(0) == kRuleCell);
  // measure_paragraph() checks the text cells as it goes, so valid text is
  // read once.
  if (!is_line_or_rule && !measure_paragraph(paragraph, measured)) return std::nullopt;
  return append_measured_record(paragraph, measured, laid_out, out);
}

// Packs a paragraph whose cells were checked already, by the staging reader
// or by whoever built it.
std::uint32_t pack_trusted(const ParagraphView& paragraph, MeasuredParagraph& measured, LaidOutParagraph& laid_out,
                           ByteVector& out) {
  if (!paragraph.is_special()) measure_paragraph(paragraph, measured);
  return append_measured_record(paragraph, measured, laid_out, out);
}

// The reserve for a document of about `chars` characters: its text and
// line and run tables, capped near what a database can hold at all.
std::size_t expected_record_bytes(std::size_t chars) {
  constexpr std::size_t kMostWorthReserving = std::size_t{64} << 20;
  return kHeaderRecordBytes + std::min(chars, kMostWorthReserving) * 2;
}

}  // namespace

std::span<const std::uint8_t> PackedDocument::record(std::size_t index) const {
  const std::size_t from = offsets[index];
  const std::size_t to = index + 1 < offsets.size() ? offsets[index + 1] : bytes.size();
  return {bytes.data() + from, to - from};
}

std::string PackedDocument::name_text() const {
  return std::string(name.data(), name_length(name.data(), name.size()));
}

std::uint32_t pack_paragraph(const StagedParagraph& paragraph, ByteVector& out) {
  MeasuredParagraph measured;
  LaidOutParagraph laid_out;
  return pack_trusted(ParagraphView(paragraph), measured, laid_out, out);
}

// ---------------------------------------------------------------- packer

DocumentPacker::DocumentPacker(PackedDocument& out, std::size_t expected_chars) : out_(out) {
  out_ = PackedDocument{};
  out_.bytes.reserve(expected_record_bytes(expected_chars));
  out_.offsets.push_back(0);
  out_.bytes.resize(kHeaderRecordBytes);
}

void DocumentPacker::take_name(const std::array<char, kNameRecordBytes>& record) {
  // The database is named by the record's text up to its first zero.
  const std::size_t length = name_length(record.data(), kMaxHandheldNameChars);
  std::copy_n(record.begin(), length, out_.name.begin());
  where_ = std::string(record.data(), length);
  if (length == 0) fail({StagingError::bad_name, "staged document: the document name is empty"});
}

void DocumentPacker::take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                                    std::span<const std::uint8_t> cells) {
  if (!result_) return;
  if (out_.paragraphs == kMaxParagraphs) {
    out_.was_cut = true;
    return;
  }
  if (text.empty() || text.size() > kMaxParagraphChars || cells.size() != text.size() * kCellBytes)
    return fail({StagingError::bad_length, where_ + ": paragraph " + std::to_string(out_.paragraphs + 1) +
                                               " has length " + std::to_string(text.size()) + " (must be 1 to 1024)"});
  const auto offset = static_cast<std::uint32_t>(out_.bytes.size());
  const std::optional<std::uint32_t> lines =
      pack_if_valid(ParagraphView(alignment, text, cells), measured_, laid_out_, out_.bytes);
  // The checks of pack_if_valid() stop at the first bad cell; the reader's
  // own check then says which and why, as it would for a staging file.
  if (!lines) return fail(check_staged_cells(cells, out_.paragraphs + 1, where_));
  ++out_.paragraphs;
  out_.offsets.push_back(offset);
  out_.line_total += *lines;
}

void DocumentPacker::take_trusted_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                                            std::span<const std::uint8_t> cells) {
  ++out_.paragraphs;
  out_.offsets.push_back(static_cast<std::uint32_t>(out_.bytes.size()));
  out_.line_total += pack_trusted(ParagraphView(alignment, text, cells), measured_, laid_out_, out_.bytes);
}

void DocumentPacker::take_background(std::uint8_t background) {
  encode_header(out_.bytes.data(), HeaderRecord{kHeaderTag, out_.line_total, background});
}

void DocumentPacker::fail(StagingResult why) {
  if (result_) result_ = std::move(why);
}

// ---------------------------------------------------------------- from staging files

namespace {

StagingResult pack_from(StagingReader& reader, PackedDocument& out) {
  DocumentPacker packer(out, reader.total_chars());
  packer.take_name(reader.name_record());
  StagedParagraph paragraph;
  for (std::size_t i = 0; i < reader.paragraph_count(); ++i) {
    if (auto read = reader.next(paragraph); !read) return read;
    packer.take_trusted_paragraph(paragraph.alignment, paragraph.text, paragraph.cells);
  }
  packer.take_background(reader.background());
  out.was_cut = reader.was_cut();
  return packer.result();
}

}  // namespace

StagingResult pack_document(const fs::path& folder, PackedDocument& out, std::string_view expected_name) {
  StagingReader reader;
  if (auto opened = reader.open(folder); !opened) return opened;
  if (auto packed = pack_from(reader, out); !packed) return packed;
  if (!expected_name.empty() && out.name_text() != expected_name)
    return {StagingError::bad_name, (folder / kStagingDataFile).string() + ": names the document \"" + out.name_text() +
                                        "\", not \"" + std::string(expected_name) +
                                        "\": another program wrote the staging files"};
  return {};
}

StagingResult pack_document(const StagingBytes& staging, PackedDocument& out) {
  StagingReader reader;
  if (auto opened = reader.open(staging); !opened) return opened;
  return pack_from(reader, out);
}

}  // namespace vellora
