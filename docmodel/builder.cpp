// Line layout and record packing. A line ends before the character that
// would make it reach the display width (or be its 129th character), at the
// last space or hyphen when there is one; runs are maximal stretches of equal
// attribute cells; justified lines turn every space into a stretched run.
#include "docmodel/builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "docmodel/font_widths.h"
#include "docmodel/records.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

// A rule's height in pixels per unit of its staged thickness.
constexpr std::uint32_t kRulePxPerThicknessUnit = 3;

struct LineSpan {
  std::size_t start = 0;
  std::size_t chars = 0;
  int width_px = 0;
};

bool is_break_char(std::uint8_t c) { return c == ' ' || c == '-'; }

bool same_cell(const StagedParagraph& p, std::size_t a, std::size_t b) {
  return std::memcmp(p.cell(a), p.cell(b), kCellBytes) == 0;
}

// Scratch space reused across paragraphs so packing allocates nothing in
// the steady state.
struct Layout {
  std::array<std::uint8_t, kMaxParagraphChars> width{};
  std::vector<LineSpan> lines;
  std::vector<RunEntry> runs;          // every run of the paragraph, line by line
  std::vector<std::size_t> first_run;  // index in `runs` of each line's first run

  void measure(const StagedParagraph& p) {
    for (std::size_t i = 0; i < p.size(); ++i)
      width[i] = font_widths(p.cell_font(i))[p.text[i]];
  }

  void break_lines(const StagedParagraph& p) {
    lines.clear();
    const std::size_t n = p.size();
    std::size_t pos = 0, start = 0, break_at = 0;
    int sum = 0, break_sum = 0;
    bool has_break = false;
    while (pos < n) {
      if (width[pos] + sum >= kDisplayWidthPx || pos - start == kMaxLineChars) {
        if (has_break) {
          // Characters after the break point are measured again on the new line.
          lines.push_back({start, break_at - start + 1, break_sum});
          start = pos = break_at + 1;
        } else {
          lines.push_back({start, pos - start, sum});
          start = pos;
        }
        sum = 0;
        has_break = false;
        continue;
      }
      sum += width[pos];
      if (is_break_char(p.text[pos])) {
        has_break = true;
        break_at = pos;
        break_sum = sum;
      }
      if (pos == n - 1) lines.push_back({start, pos - start + 1, sum});
      ++pos;
    }
  }

  RunEntry run_of(const StagedParagraph& p, std::size_t at, std::uint16_t kind) const {
    const AttributeCell cell = decode_cell(p.cell(at));
    return RunEntry{kind, 1, width[at],
                    static_cast<std::uint8_t>(line_height_px(cell.font == kLargeFont)),
                    static_cast<std::uint8_t>(cell.font), cell.colour, cell.highlight};
  }

  void cut_runs(const StagedParagraph& p, const LineSpan& line, bool justified) {
    const std::size_t end = line.start + line.chars;
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
      int width_px = width[k];
      while (k + 1 < end && same_cell(p, k, k + 1) && !(justified && p.text[k + 1] == ' ')) {
        ++k;
        width_px += width[k];
        ++run.chars;
      }
      run.width = static_cast<std::uint8_t>(width_px);
      runs.push_back(run);
      ++k;
    }
  }
};

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
[[maybe_unused]] void verify_record(std::span<const std::uint8_t> bytes,
                                    const StagedParagraph& paragraph) {
  ParagraphRecord record;
  std::vector<std::string> problems;
  if (auto decoded = decode_paragraph(bytes, record); !decoded)
    problems.push_back(decoded.reason);
  else
    problems = check_text_record(std::get<TextRecord>(record), paragraph.cells);
  if (problems.empty()) return;
  for (const auto& problem : problems) std::fprintf(stderr, "builder: %s\n", problem.c_str());
  std::abort();
}

// The text of a fixed-size name field: up to its first zero, or the whole
// field when it has none.
std::size_t name_length(const char* field, std::size_t field_chars) {
  return static_cast<std::size_t>(std::find(field, field + field_chars, '\0') - field);
}

std::string reason_for(const char* call, const std::string& name, SyncStatus status) {
  return name + ": " + call + " failed on the handheld (error " + std::to_string(status) + ")";
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

std::uint32_t pack_with(Layout& layout, const StagedParagraph& paragraph,
                        ByteVector& out) {
  if (paragraph.size() == 1 && paragraph.cell_kind(0) != kCharacterCell) {
    const std::size_t at = out.size();
    out.resize(at + kShortRecordBytes);
    if (paragraph.cell_kind(0) == kEmptyParagraphCell) {
      encode_empty_line(out.data() + at);
    } else {
      const AttributeCell cell = decode_cell(paragraph.cell(0));
      // The staged thickness is unchecked; unsigned arithmetic keeps the low
      // 16 bits of the height without overflowing for a huge one.
      const std::uint32_t height_px = kRulePxPerThicknessUnit * static_cast<std::uint32_t>(cell.font);
      encode_rule(out.data() + at,
                  RuleRecord{static_cast<std::uint16_t>(height_px),
                             static_cast<std::uint8_t>(cell.font), cell.colour, cell.highlight});
    }
    return 1;
  }

  // The record keeps the alignment code in 16 bits; laying out by that same
  // value keeps a stray high bit from giving a record whose runs contradict
  // its alignment.
  const auto alignment = static_cast<std::uint16_t>(paragraph.alignment);
  layout.measure(paragraph);
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
  std::memcpy(cursor, paragraph.text.data(), n);
  cursor += n;
  unsigned record_height = 0;
  for (std::size_t l = 0; l < layout.lines.size(); ++l) {
    const LineSpan& line = layout.lines[l];
    const std::size_t from = layout.first_run[l], to = layout.first_run[l + 1];
    const std::size_t run_count = to - from;
    const std::uint16_t height = line_height_of(layout.runs, from, to);
    record_height += height;
    const int width_px = justified && run_count > 1 ? kDisplayWidthPx : line.width_px;
    encode_line_entry(cursor, LineEntry{static_cast<std::uint8_t>(line.chars),
                                        static_cast<std::uint8_t>(run_count),
                                        static_cast<std::uint8_t>(width_px),
                                        static_cast<std::uint8_t>(height),
                                        indent_px(alignment, line.width_px)});
    cursor += kLineEntryBytes;
    for (std::size_t r = from; r < to; ++r, cursor += kRunEntryBytes)
      encode_run_entry(cursor, layout.runs[r]);
  }
  encode_text_head(out.data() + at, static_cast<std::uint16_t>(record_height),
                   alignment, static_cast<std::uint16_t>(layout.lines.size()), static_cast<std::uint16_t>(n));
#ifndef NDEBUG
  verify_record({out.data() + at, out.size() - at}, paragraph);
#endif
  return static_cast<std::uint32_t>(layout.lines.size());
}

}  // namespace

std::uint32_t pack_paragraph(const StagedParagraph& paragraph, ByteVector& out) {
  Layout layout;
  return pack_with(layout, paragraph, out);
}

namespace {

StagingResult pack_from(StagingReader& reader, PackedDocument& out) {
  // The database is named by the record's text up to its first zero.
  const auto& record = reader.name_record();
  std::copy_n(record.begin(), name_length(record.data(), kMaxHandheldNameChars), out.name.begin());
  out.was_cut = reader.was_cut();
  out.paragraphs = reader.paragraph_count();
  out.offsets.reserve(out.paragraphs + 1);
  out.bytes.reserve(kHeaderRecordBytes + reader.total_chars() * 3 / 2 + out.paragraphs * 32);
  out.offsets.push_back(0);
  out.bytes.resize(kHeaderRecordBytes);

  StagedParagraph paragraph;
  Layout layout;
  for (std::size_t i = 0; i < out.paragraphs; ++i) {
    if (auto read = reader.next(paragraph); !read) return read;
    out.offsets.push_back(static_cast<std::uint32_t>(out.bytes.size()));
    out.line_total += pack_with(layout, paragraph, out.bytes);
  }
  encode_header(out.bytes.data(), HeaderRecord{kHeaderTag, out.line_total, reader.background()});
  return {};
}

}  // namespace

StagingResult pack_document(const fs::path& folder, PackedDocument& out, std::string_view expected_name) {
  out = PackedDocument{};
  StagingReader reader;
  if (auto opened = reader.open(folder); !opened) return opened;
  if (auto packed = pack_from(reader, out); !packed) return packed;
  if (!expected_name.empty() && out.name_text() != expected_name)
    return {StagingError::bad_name, (folder / kStagingDataFile).string() + ": names the document \"" +
                                        out.name_text() + "\", not \"" + std::string(expected_name) +
                                        "\": another program wrote the staging files"};
  return {};
}

StagingResult pack_document(const StagingBytes& staging, PackedDocument& out) {
  out = PackedDocument{};
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
    result.reason = reason_for("creating the database", result.database_name, status);
    return result;
  }
  const auto discard = [&](BuildError error, const char* call, SyncStatus status, bool close) {
    if (close) sync.SyncCloseDB(create.handle);
    sync.SyncDeleteDB(result.database_name, 0);
    result.error = error;
    result.sync_status = status;
    result.reason = reason_for(call, result.database_name, status);
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
