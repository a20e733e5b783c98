// Plain text to staging files, one paragraph per line.
#include "importers/text/text_importer.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include "docmodel/palette.h"
#include "docmodel/staging.h"

namespace vellora {

namespace {

constexpr std::size_t kTabSpaces = 8;
constexpr std::size_t kLastTabStart = kMaxParagraphChars - kTabSpaces;  // 1016

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Every character of a text document carries the same cell, so one
// precomputed row serves every paragraph.
struct DefaultCells {
  std::array<std::uint8_t, kMaxParagraphChars * kCellBytes> text{};
  CellBytes empty{};
  DefaultCells() {
    const AttributeCell cell{kCharacterCell, nearest_colour(0), kNoHighlight, 0};
    const CellBytes bytes = encode_cell(cell);
    for (std::size_t i = 0; i < kMaxParagraphChars; ++i)
      std::copy(bytes.begin(), bytes.end(), text.begin() + static_cast<std::ptrdiff_t>(i * kCellBytes));
    AttributeCell empty_cell = cell;
    empty_cell.kind = kEmptyParagraphCell;
    empty = encode_cell(empty_cell);
  }
};

struct TextState {
  StagingWriter& writer;
  const DefaultCells& cells;
  std::array<std::uint8_t, kMaxParagraphChars> text;
  std::size_t length = 0;
  std::size_t paragraphs = 0;

  TextState(StagingWriter& w, const DefaultCells& c) : writer(w), cells(c) { text.fill(' '); }

  void end_paragraph() {
    if (length == 0) {
      // An empty line is one character whose cell marks the paragraph empty.
      writer.write_paragraph(kAlignLeft, {text.data(), 1}, cells.empty);
    } else {
      writer.write_paragraph(kAlignLeft, {text.data(), length},
                             {cells.text.data(), length * kCellBytes});
      // Positions skipped by tabs were never written, so restoring the
      // used part restores the whole buffer to spaces.
      std::fill_n(text.begin(), length, ' ');
    }
    length = 0;
    ++paragraphs;
  }

  void take(std::uint8_t byte) {
    switch (byte) {
      case '\t':
        if (length <= kLastTabStart)
          length += kTabSpaces;
        else
          end_paragraph();  // the tab itself is dropped
        break;
      case '\n':
        end_paragraph();
        break;
      case '\r':
        break;
      default:
        if (length == kMaxParagraphChars) end_paragraph();
        text[length++] = byte;
    }
  }
};

}  // namespace

ImportResult ImportText(const std::filesystem::path& source,
                        const std::filesystem::path& staging_folder, std::string_view file_name) {
  std::unique_ptr<std::FILE, FileCloser> input(std::fopen(source.c_str(), "rb"));
  if (!input)
    return {ImportStatus::cannot_read, source.string() + ": " + std::generic_category().message(errno), 0};

  StagingWriter writer;
  if (auto opened = writer.open(staging_folder, file_name); !opened) {
    remove_staging_files(staging_folder);
    return {ImportStatus::cannot_write, opened.reason, 0};
  }
  static const DefaultCells cells;
  TextState state(writer, cells);
  std::array<std::uint8_t, 1 << 16> chunk;
  for (std::size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), input.get())) > 0;)
    for (std::size_t i = 0; i < got; ++i) state.take(chunk[i]);
  if (std::ferror(input.get())) {
    const int error = errno;
    writer.finish(kWhiteIndex);
    remove_staging_files(staging_folder);
    return {ImportStatus::cannot_read,
            source.string() + ": read failed: " + std::generic_category().message(error), 0};
  }
  if (state.length != 0) state.end_paragraph();

  if (auto finished = writer.finish(nearest_colour(0xFFFFFFFF)); !finished) {
    remove_staging_files(staging_folder);
    return {ImportStatus::cannot_write, finished.reason, 0};
  }
  return {ImportStatus::ok, {}, state.paragraphs};
}

}  // namespace vellora
