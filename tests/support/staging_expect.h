// Expected staging bytes for the importers' tests, written paragraph by
// paragraph, and the import of a string through a conversion. Every import
// is also packed and its records checked, so each test also proves that the
// importer staged paragraphs the packer accepts.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "docmodel/packer.h"
#include "docmodel/palette.h"
#include "docmodel/records.h"
#include "docmodel/staging.h"
#include "importers/import_file.h"
#include "tests/support/bytes.h"
#include "tests/support/paragraphs.h"
#include "tests/support/temp_dir.h"

namespace vellora::testing {

constexpr std::uint8_t kBlueIndex = 95;  // nearest to pure blue
constexpr std::uint8_t kRedIndex = 125;

inline const AttributeCell kPlain = text_cell();
inline const AttributeCell kBold = text_cell(1);
inline const AttributeCell kLarge = text_cell(2);

struct Expected {
  std::int32_t alignment = kAlignLeft;
  std::string text;
  std::vector<AttributeCell> cells;
};

// A paragraph whose runs of text each have their own cell.
inline Expected runs(std::vector<std::pair<std::string, AttributeCell>> parts, std::int32_t alignment = kAlignLeft) {
  Expected p{alignment, {}, {}};
  for (const auto& [text, cell] : parts) {
    p.text += text;
    p.cells.insert(p.cells.end(), text.size(), cell);
  }
  return p;
}

inline Expected para(const std::string& text, std::int32_t alignment = kAlignLeft, AttributeCell cell = kPlain) {
  return runs({{text, cell}}, alignment);
}

// An empty paragraph as the importer writes it: whatever character and
// cell fields position 0 of its buffer held, with `kind` 1.
inline Expected empty_holding(char byte, AttributeCell cell = kPlain, std::int32_t alignment = kAlignLeft) {
  cell.kind = kEmptyParagraphCell;
  return Expected{alignment, std::string(1, byte), {cell}};
}

// The empty paragraph written before anything else: the buffer is zero.
inline Expected first_empty(std::int32_t alignment = kAlignLeft) {
  return empty_holding('\0', AttributeCell{0, 0, 0, 0}, alignment);
}

inline Expected rule(std::int32_t thickness, std::uint8_t colour = kBlackIndex) {
  return Expected{kAlignLeft, " ", {AttributeCell{kRuleCell, colour, kNoHighlight, thickness}}};
}

inline StagingBytes staging_of(const std::vector<Expected>& paragraphs, std::uint8_t background,
                               const std::string& name) {
  StagingMemory memory;
  memory.take_name(name_record(handheld_name(name)));
  for (const auto& p : paragraphs) {
    ByteVector cells;
    for (const auto& cell : p.cells) {
      const CellBytes bytes = encode_cell(cell);
      cells.insert(cells.end(), bytes.begin(), bytes.end());
    }
    memory.take_paragraph(p.alignment, {reinterpret_cast<const std::uint8_t*>(p.text.data()), p.text.size()}, cells);
  }
  memory.take_background(background);
  return memory.take_bytes();
}

// One line per paragraph, with its cells where they change, for messages.
inline std::string describe(const StagingBytes& staged) {
  StagingReader reader;
  if (auto opened = reader.open(staged); !opened) return "unreadable: " + opened.reason;
  std::string out = "background " + std::to_string(reader.background()) + "\n";
  StagedParagraph p;
  for (std::size_t i = 0; i < reader.paragraph_count(); ++i) {
    if (auto read = reader.next(p); !read) return out + "unreadable: " + read.reason;
    out += "  [align " + std::to_string(p.alignment) + "] \"";
    for (const std::uint8_t c : p.text) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += c >= 32 && c < 127 ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    out += "\"";
    AttributeCell last{-1, 0, 0, 0};
    for (std::size_t c = 0; c < p.size(); ++c) {
      const AttributeCell cell = decode_cell(p.cell(c));
      if (cell == last) continue;
      out += " @" + std::to_string(c) + "{kind " + std::to_string(cell.kind) + " colour " +
             std::to_string(cell.colour) + " highlight " + std::to_string(cell.highlight) + " font " +
             std::to_string(cell.font) + "}";
      last = cell;
    }
    out += "\n";
  }
  return out;
}

// Packs the staged document and checks every record; empty when all is well.
inline std::string pack_problems(const StagingBytes& staged) {
  PackedDocument document;
  if (auto packed = pack_document(staged, document); !packed) return packed.reason;
  std::vector<std::vector<std::uint8_t>> records;
  for (std::size_t i = 0; i < document.record_count(); ++i) {
    const auto record = document.record(i);
    records.emplace_back(record.begin(), record.end());
  }
  std::string problems;
  for (const auto& problem : check_document(records)) problems += problem + "\n";
  return problems;
}

inline StagingBytes import_through(Conversion convert, const std::string& input, const std::string& name) {
  const StagingBytes staged =
      import_bytes({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()}, name, convert);
  EXPECT_EQ(pack_problems(staged), "");
  return staged;
}

// What the conversion of `input` says it could not convert; empty when the
// whole input arrived.
inline std::string incomplete_note(Conversion convert, const std::string& input) {
  StagingMemory memory;
  return incomplete_reason(
      stage_bytes({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()}, "doc", convert, memory));
}

inline ::testing::AssertionResult StagesExactlyThrough(Conversion convert, const std::string& name,
                                                       const std::string& input,
                                                       const std::vector<Expected>& paragraphs,
                                                       std::uint8_t background = kWhiteIndex) {
  const StagingBytes got = import_through(convert, input, name);
  const StagingBytes want = staging_of(paragraphs, background, name);
  if (got.data == want.data && got.sizes == want.sizes) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "got:\n" << describe(got) << "want:\n" << describe(want);
  if (const auto data = BytesEqual(got.data, want.data); !data) failure << "data file: " << data.message();
  return failure;
}

// A table of inputs and the paragraphs they stage.
struct StagingCase {
  const char* what;
  std::string input;
  std::vector<Expected> paragraphs;
  std::uint8_t background = kWhiteIndex;
};

inline void expect_cases_through(Conversion convert, const std::string& name, const std::vector<StagingCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(StagesExactlyThrough(convert, name, c.input, c.paragraphs, c.background)) << c.input.substr(0, 200);
  }
}

inline std::string repeated(const std::string& text, std::size_t count) {
  std::string out;
  out.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) out += text;
  return out;
}

// A file is read a chunk at a time. Moving `piece` across the end of the
// first chunk, after `head` and filler, puts each of its bytes there once:
// whatever is cut must stage as it does from memory. The document is
// `piece` twice, then `tail`.
template <typename ImportFile>
void expect_chunk_edges_stage_as_from_memory(const std::string& head, const std::string& piece, const std::string& tail,
                                             const std::string& file_name, ImportFile import_file, Conversion convert) {
  constexpr std::size_t kReadChunkBytes = 1 << 16;  // as the byte source reads files
  TempDir dir;
  for (std::size_t shift = 0; shift < piece.size(); ++shift) {
    SCOPED_TRACE(shift);
    const std::string document = head + std::string(kReadChunkBytes - head.size() - shift, 'x') + piece + piece + tail;
    write_file(dir / file_name, document);
    ASSERT_TRUE(import_file(dir / file_name, dir.path(), file_name, ImportOptions{}));
    const StagingBytes from_memory = import_through(convert, document, file_name);
    ASSERT_TRUE(BytesEqual(read_file(dir / kStagingDataFile), from_memory.data));
    ASSERT_TRUE(BytesEqual(read_file(dir / kStagingSizesFile), from_memory.sizes));
  }
}

}  // namespace vellora::testing
