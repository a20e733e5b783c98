// Line layout and record packing. A line ends before the character that
// would make it reach the display width (or be its 129th character), at the
// last space or hyphen when there is one; runs are maximal stretches of equal
// attribute cells; justified lines turn every space into a stretched run.
#include "docmodel/builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "docmodel/font_widths.h"
#include "docmodel/records.h"

namespace vellora {

namespace fs = std::filesystem;

// The layout's working types, named so that DocumentPacker can hold one.
namespace packing {

struct LineSpan {
  std::size_t start = 0;
  std::size_t chars = 0;
  int width_px = 0;
};

// One paragraph's staged bytes wherever they live: in a StagedParagraph, or
// in the buffers an importer hands over while it reads.
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
  std::int32_t cell_font(std::size_t i) const { return read_cell_font(cell(i)); }
  // Every character carries the same cell, as in most paragraphs.
  bool is_uniform() const { return are_cells_uniform(cells, n); }
  // One character that stands for an empty line or a rule.
  bool is_special() const { return n == 1 && cell_kind(0) != kCharacterCell; }
};

inline bool is_break_char(std::uint8_t c) { return c == ' ' || c == '-'; }

// Scratch space reused across paragraphs so packing allocates nothing in
// the steady state.
struct Layout {
  // reach[i]: the width of characters 0 to i - 1, so any stretch's width is
  // one subtraction. At most 1024 x kWidestGlyphPx, well inside 16 bits.
  std::array<std::uint16_t, kMaxParagraphChars + 1> reach{};
  // Where each run of equal cells starts, ascending, then the paragraph's
  // length: a run may go on through every character up to the next start.
  std::array<std::uint16_t, kMaxParagraphChars + 1> run_start{};
  std::size_t run_count = 0;
  std::vector<LineSpan> lines;
  std::vector<RunEntry> runs;          // every run of the paragraph, line by line
  std::vector<std::size_t> first_run;  // index in `runs` of each line's first run

  bool is_uniform = false;  // of the paragraph measured last

  // Widths and runs of a text paragraph. False when a cell is not a
  // character cell of font 0, 1 or 2; only the first cell of each run needs
  // that check.
  bool measure(const ParagraphView& p) {
    static_assert(kMaxParagraphChars * kWidestGlyphPx <= UINT16_MAX);
    const std::size_t n = p.size();
    is_uniform = p.is_uniform();
    run_count = 0;
    for (std::size_t from = 0; from < n;) {
      const std::uint8_t* cell = p.cell(from);
      if (!is_text_cell(cell)) return false;
      const std::size_t to = is_uniform ? n : from + 1 + count_equal_cells(p.cell(from + 1), n - from - 1, cell);
      run_start[run_count++] = static_cast<std::uint16_t>(from);
      const auto& widths = font_widths(read_cell_font(cell));
      const std::uint8_t* text = p.text;
      unsigned total = reach[from];
      std::size_t i = from;
      // Four characters a step: the running sum is the only dependency.
      for (; i + 4 <= to; i += 4) {
        const unsigned first = total + widths[text[i]];
        const unsigned second = first + widths[text[i + 1]];
        const unsigned third = second + widths[text[i + 2]];
        total = third + widths[text[i + 3]];
        reach[i + 1] = static_cast<std::uint16_t>(first);
        reach[i + 2] = static_cast<std::uint16_t>(second);
        reach[i + 3] = static_cast<std::uint16_t>(third);
        reach[i + 4] = static_cast<std::uint16_t>(total);
      }
      for (; i < to; ++i) {
        total += widths[text[i]];
        reach[i + 1] = static_cast<std::uint16_t>(total);
      }
      from = to;
    }
    run_start[run_count] = static_cast<std::uint16_t>(n);
    return true;
  }

  int width_of(std::size_t from, std::size_t to) const { return reach[to] - reach[from]; }

  // A line takes characters while it stays under the display width and
  // 128 characters; it then ends after its last space or hyphen when it
  // has one, and the characters after that begin the next line.
  void break_lines(const ParagraphView& p) {
    lines.clear();
    const std::size_t n = p.size();
    for (std::size_t start = 0; start < n;) {
      const std::size_t limit = std::min(n, start + kMaxLineChars);
      // The first character that would make the line reach the display
      // width, found in the running widths, which never decrease.
      const auto first_too_wide =
          std::lower_bound(reach.begin() + static_cast<std::ptrdiff_t>(start) + 1,
                           reach.begin() + static_cast<std::ptrdiff_t>(limit) + 1, reach[start] + kDisplayWidthPx);
      const std::size_t pos = static_cast<std::size_t>(first_too_wide - reach.begin()) - 1;
      if (pos == n) {
        lines.push_back({start, n - start, width_of(start, n)});
        break;
      }
      std::size_t end = pos;
      while (end > start && !is_break_char(p.text[end - 1])) --end;
      if (end == start) end = pos;
      lines.push_back({start, end - start, width_of(start, end)});
      start = end;
    }
    run_cursor = 0;
  }

  RunEntry run_of(const ParagraphView& p, std::size_t at, std::uint16_t kind) const {
    const AttributeCell cell = decode_cell(p.cell(at));
    return RunEntry{kind,
                    1,
                    static_cast<std::uint8_t>(width_of(at, at + 1)),
                    static_cast<std::uint8_t>(line_height_px(cell.font == kLargeFont)),
                    static_cast<std::uint8_t>(cell.font),
                    cell.colour,
                    cell.highlight};
  }

  void cut_runs(const ParagraphView& p, const LineSpan& line, bool justified) {
    const std::size_t end = line.start + line.chars;
    if (!justified && is_uniform) {
      RunEntry run = run_of(p, line.start, kTextRun);
      run.chars = static_cast<std::uint8_t>(line.chars);
      run.width = static_cast<std::uint8_t>(line.width_px);
      runs.push_back(run);
      return;
    }
    // Justified lines spread the slack over the inner spaces; the slack
    // counts trailing spaces at the standard space width.
    std::size_t trailing = 0, inner = 0, stretched = 0;
    int spread = 0, rest = 0;
    if (justified) {
      std::size_t last = end;
      while (last > line.start && p.text[last - 1] == ' ') --last;
      trailing = end - last;
      for (std::size_t i = line.start; i < last; ++i) inner += p.text[i] == ' ';
      const int stretch_count = inner == 0 ? 1 : static_cast<int>(inner);
      const int space_px = font_widths(0)[' '];
      const int slack = space_px * static_cast<int>(trailing) - line.width_px + kDisplayWidthPx;
      spread = slack / stretch_count;
      rest = slack % stretch_count;
      inner = static_cast<std::size_t>(stretch_count);
    }
    for (std::size_t k = line.start; k < end;) {
      if (justified && p.text[k] == ' ') {
        RunEntry run = run_of(p, k, kSpaceRun);
        if (stretched < inner) {
          // At most 150 + 4 + 1: the slack never exceeds the display width.
          int width_px = spread + run.width;
          if (rest > 0) {
            ++width_px;
            --rest;
          }
          run.width = static_cast<std::uint8_t>(width_px);
          ++stretched;
        } else {
          run.width = 0;
        }
        runs.push_back(run);
        ++k;
        continue;
      }
      RunEntry run = run_of(p, k, kTextRun);
      std::size_t to = std::min<std::size_t>(end, next_run_start(k));
      if (justified) {
        const void* space = std::memchr(p.text + k + 1, ' ', to - k - 1);
        if (space != nullptr) to = static_cast<std::size_t>(static_cast<const std::uint8_t*>(space) - p.text);
      }
      run.chars = static_cast<std::uint8_t>(to - k);
      run.width = static_cast<std::uint8_t>(width_of(k, to));
      runs.push_back(run);
      k = to;
    }
  }

  // The start of the first run after character `at`. Lines are cut in
  // order, so the search goes on from where the last one ended.
  std::size_t next_run_start(std::size_t at) {
    while (run_start[run_cursor] <= at) ++run_cursor;
    return run_start[run_cursor];
  }
  std::size_t run_cursor = 0;
};

}  // namespace packing

using packing::Layout;
using packing::LineSpan;
using packing::ParagraphView;

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
// every test and demo run doubles as a check of the builder.
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

// Why a call failed, in the handheld's own words. The caller's line names
// the file, so this does not.
std::string reason_for(const char* call, const SyncManager& sync, SyncStatus status) {
  return std::string(call) + " failed on the handheld: " + sync.error_text(status);
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

namespace {

// Appends the record of a paragraph whose text cells `layout` measured
// last, or of an empty line or a rule, and returns its display lines. The
// two ways in below decide whether the cells need checking first.
std::uint32_t append_measured_record(Layout& layout, const ParagraphView& paragraph, ByteVector& out) {
  if (paragraph.is_special()) {
    const std::size_t at = out.size();
    out.resize(at + kShortRecordBytes);
    if (paragraph.cell_kind(0) == kEmptyParagraphCell) {
      encode_empty_line(out.data() + at);
    } else {
      const AttributeCell cell = decode_cell(paragraph.cell(0));
      // The staged thickness is unchecked; unsigned arithmetic keeps the low
      // 16 bits of the height without overflowing for a huge one.
      const std::uint32_t height_px = kRulePxPerThicknessUnit * static_cast<std::uint32_t>(cell.font);
      encode_rule(out.data() + at, RuleRecord{static_cast<std::uint16_t>(height_px),
                                              static_cast<std::uint8_t>(cell.font), cell.colour, cell.highlight});
    }
    return 1;
  }

  // The record keeps the alignment code in 16 bits; laying out by that same
  // value keeps a stray high bit from giving a record whose runs contradict
  // its alignment.
  const auto alignment = static_cast<std::uint16_t>(paragraph.alignment);
  layout.break_lines(paragraph);
  const bool justified = alignment == kAlignJustified;
  layout.runs.clear();
  layout.first_run.clear();
  for (const LineSpan& line : layout.lines) {
    layout.first_run.push_back(layout.runs.size());
    layout.cut_runs(paragraph, line, justified);
  }
  layout.first_run.push_back(layout.runs.size());

  const std::size_t n = paragraph.size();
  const std::size_t at = out.size();
  out.resize(at + text_record_bytes(n, layout.lines.size(), layout.runs.size()));
  std::uint8_t* cursor = out.data() + at + kTextHeadBytes;
  std::memcpy(cursor, paragraph.text, n);
  cursor += n;
  unsigned record_height = 0;
  for (std::size_t l = 0; l < layout.lines.size(); ++l) {
    const LineSpan& line = layout.lines[l];
    const std::size_t from = layout.first_run[l], to = layout.first_run[l + 1];
    const std::size_t run_count = to - from;
    const std::uint16_t height = line_height_of(layout.runs, from, to);
    record_height += height;
    const int width_px = justified && run_count > 1 ? kDisplayWidthPx : line.width_px;
    encode_line_entry(cursor, LineEntry{static_cast<std::uint8_t>(line.chars), static_cast<std::uint8_t>(run_count),
                                        static_cast<std::uint8_t>(width_px), static_cast<std::uint8_t>(height),
                                        indent_px(alignment, line.width_px)});
    cursor += kLineEntryBytes;
    for (std::size_t r = from; r < to; ++r, cursor += kRunEntryBytes) encode_run_entry(cursor, layout.runs[r]);
  }
  encode_text_head(out.data() + at, static_cast<std::uint16_t>(record_height), alignment,
                   static_cast<std::uint16_t>(layout.lines.size()), static_cast<std::uint16_t>(n));
#ifndef NDEBUG
  verify_record({out.data() + at, out.size() - at}, paragraph);
#endif
  return static_cast<std::uint32_t>(layout.lines.size());
}

// Checks the cells as the staging reader does and packs the paragraph when
// they pass; appends nothing otherwise. The length is the caller's to check.
std::optional<std::uint32_t> pack_if_valid(Layout& layout, const ParagraphView& paragraph, ByteVector& out) {
  const bool is_line_or_rule =
      paragraph.size() == 1 && (paragraph.cell_kind(0) == kEmptyParagraphCell || paragraph.cell_kind(0) == kRuleCell);
  // measure() checks the text cells as it goes, so valid text is read once.
  if (!is_line_or_rule && !layout.measure(paragraph)) return std::nullopt;
  return append_measured_record(layout, paragraph, out);
}

// Packs a paragraph whose cells were checked already, by the staging reader
// or by whoever built it.
std::uint32_t pack_trusted(Layout& layout, const ParagraphView& paragraph, ByteVector& out) {
  if (!paragraph.is_special()) layout.measure(paragraph);
  return append_measured_record(layout, paragraph, out);
}

}  // namespace

std::uint32_t pack_paragraph(const StagedParagraph& paragraph, ByteVector& out) {
  Layout layout;
  return pack_trusted(layout, ParagraphView(paragraph), out);
}

// ---------------------------------------------------------------- packer

struct DocumentPacker::Layout : packing::Layout {};

namespace {

// The reserve for a document of about `chars` characters: its text and
// line and run tables, capped near what a database can hold at all.
std::size_t expected_record_bytes(std::size_t chars) {
  constexpr std::size_t kMostWorthReserving = std::size_t{64} << 20;
  return kHeaderRecordBytes + std::min(chars, kMostWorthReserving) * 2;
}

}  // namespace

DocumentPacker::DocumentPacker(PackedDocument& out, std::size_t expected_chars)
    : out_(out), layout_(std::make_unique<Layout>()) {
  out_ = PackedDocument{};
  out_.bytes.reserve(expected_record_bytes(expected_chars));
  out_.offsets.push_back(0);
  out_.bytes.resize(kHeaderRecordBytes);
}

DocumentPacker::~DocumentPacker() = default;

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
  const std::optional<std::uint32_t> lines = pack_if_valid(*layout_, ParagraphView(alignment, text, cells), out_.bytes);
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
  out_.line_total += pack_trusted(*layout_, ParagraphView(alignment, text, cells), out_.bytes);
}

void DocumentPacker::take_background(std::uint8_t background) {
  encode_header(out_.bytes.data(), HeaderRecord{kHeaderTag, out_.line_total, background});
}

void DocumentPacker::fail(StagingResult why) {
  if (result_) result_ = std::move(why);
}

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

BuildResult write_document(const PackedDocument& document, SyncManager& sync) {
  BuildResult result;
  result.database_name = document.name_text();
  result.paragraphs = document.paragraphs;
  result.records = document.record_count();
  result.was_cut = document.was_cut;

  CreateDbRecord create;
  create.creator = kDocumentCreator;
  create.flags = 0;
  create.card = 0;
  create.name = document.name;
  create.type = kDocumentType;
  create.version = kDocumentVersion;
  if (SyncStatus status = sync.SyncCreateDB(create); status != kSyncOk) {
    result.error = BuildError::create_failed;
    result.sync_status = status;
    result.reason = reason_for("creating the database", sync, status);
    return result;
  }
  const auto discard = [&](BuildError error, const char* call, SyncStatus status, bool close) {
    // Taken first: the clean-up calls replace the handheld's last error.
    result.reason = reason_for(call, sync, status);
    if (close) sync.SyncCloseDB(create.handle);
    sync.SyncDeleteDB(result.database_name, 0);
    result.error = error;
    result.sync_status = status;
    return result;
  };
  for (std::size_t i = 0; i < document.record_count(); ++i) {
    const auto bytes = document.record(i);
    RecordDescriptor record;
    record.handle = create.handle;
    record.attributes = kRecordAttrDirty;
    record.size = static_cast<std::uint32_t>(bytes.size());
    // A write only reads the buffer; the descriptor is shared with reads.
    record.data = const_cast<std::uint8_t*>(bytes.data());
    if (SyncStatus status = sync.SyncWriteRec(record); status != kSyncOk)
      return discard(BuildError::write_failed, "writing a record", status, true);
  }
  if (SyncStatus status = sync.SyncCloseDB(create.handle); status != kSyncOk)
    return discard(BuildError::close_failed, "closing the database", status, false);
  return result;
}

BuildResult build_document(const fs::path& staging_folder, SyncManager& sync) {
  PackedDocument document;
  BuildResult result;
  if (auto packed = pack_document(staging_folder, document); !packed) {
    result.error = BuildError::bad_staging;
    result.reason = packed.reason;
  } else {
    result = write_document(document, sync);
  }
  remove_staging_files(staging_folder);
  return result;
}

}  // namespace vellora
