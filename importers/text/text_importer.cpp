// Plain text to staging files, one paragraph per line.
#include "importers/text/text_importer.h"

#include <array>
#include <cstring>

#include "docmodel/cell.h"
#include "docmodel/palette.h"
#include "docmodel/staging.h"
#include "importers/staging_output.h"

namespace vellora {

namespace {

constexpr std::size_t kTabSpaces = 8;
constexpr std::size_t kLastTabStart = kMaxParagraphChars - kTabSpaces;  // 1016

// Every character of a text document carries the same cell, so one
// precomputed row serves every paragraph.
struct DefaultCells {
  std::array<std::uint8_t, kMaxParagraphChars * kCellBytes> text{};
  CellBytes empty{};
  DefaultCells() {
    const AttributeCell cell{kCharacterCell, nearest_colour(0), kNoHighlight, 0};
    fill_cells(text.data(), kMaxParagraphChars, encode_cell(cell).data());
    AttributeCell empty_cell = cell;
    empty_cell.kind = kEmptyParagraphCell;
    empty = encode_cell(empty_cell);
  }
};

struct TextState {
  StagingOutput& out;
  const DefaultCells& cells;
  std::array<std::uint8_t, kMaxParagraphChars> text;
  std::size_t length = 0;

  TextState(StagingOutput& output, const DefaultCells& c) : out(output), cells(c) { text.fill(' '); }

  void end_paragraph() {
    if (length == 0) {
      // An empty line is one character whose cell marks the paragraph empty.
      out.write_paragraph(kAlignLeft, {text.data(), 1}, cells.empty);
    } else {
      out.write_paragraph(kAlignLeft, {text.data(), length}, {cells.text.data(), length * kCellBytes});
      // Positions skipped by tabs were never written, so restoring the
      // used part restores the whole buffer to spaces.
      std::fill_n(text.begin(), length, ' ');
    }
    length = 0;
  }

  void take(std::uint8_t byte) {
    switch (byte) {
      case '\t':
        if (length <= kLastTabStart)
          length += kTabSpaces;
        else
          end_paragraph();  // the tab itself is dropped
        break;
      case '\n': end_paragraph(); break;
      case '\r': break;
      default:
        if (length == kMaxParagraphChars) end_paragraph();
        text[length++] = byte;
    }
  }
};

// The first tab, line feed or carriage return in [from, to), or `to`.
const std::uint8_t* next_control(const std::uint8_t* from, const std::uint8_t* to) {
  const auto find = [&](std::uint8_t byte, const std::uint8_t* end) {
    const void* at = std::memchr(from, byte, static_cast<std::size_t>(end - from));
    return at == nullptr ? end : static_cast<const std::uint8_t*>(at);
  };
  const std::uint8_t* end = find('\n', to);
  end = find('\t', end);
  return find('\r', end);
}

}  // namespace

Converted stage_text(ByteSource& input, StagingOutput& out) {
  static const DefaultCells cells;
  TextState state(out, cells);
  for (auto chunk = input.take_buffered(); !chunk.empty() && !out.is_full(); chunk = input.take_buffered()) {
    const std::uint8_t* at = chunk.data();
    const std::uint8_t* const end = at + chunk.size();
    while (at < end && !out.is_full()) {
      // Ordinary characters are copied a stretch at a time, up to a full
      // paragraph; the next character then goes through take() and starts
      // a new one.
      const std::size_t room = kMaxParagraphChars - state.length;
      const std::uint8_t* stop = next_control(at, room < static_cast<std::size_t>(end - at) ? at + room : end);
      std::memcpy(state.text.data() + state.length, at, static_cast<std::size_t>(stop - at));
      state.length += static_cast<std::size_t>(stop - at);
      at = stop;
      if (at < end) state.take(*at++);
    }
  }
  if (state.length != 0 && !out.is_full()) state.end_paragraph();
  return {nearest_colour(0xFFFFFFFF)};
}

ImportResult ImportText(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                        std::string_view file_name, const ImportOptions& options) {
  return import_file(source, staging_folder, file_name, &stage_text, SourceKind::text, options);
}

}  // namespace vellora
