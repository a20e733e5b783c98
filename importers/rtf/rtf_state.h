// Inside the RTF importer: the state of one conversion and the operations
// that its parts share. The reader (rtf_importer.cpp) walks the bytes, keeps
// the group stack and the paragraph buffer; the control-word table
// (control_words.cpp) says what each recognised word does; the colour table
// (colour_table.cpp) collects the document's colours and applies them; the
// shape reader (shapes.cpp) picks the page colour out of shape properties.
// Nothing here is part of the importer's interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "docmodel/staging.h"
#include "importers/byte_source.h"
#include "importers/import_result.h"
#include "importers/paragraph_buffer.h"
#include "importers/staging_output.h"

namespace vellora::rtf_import {

// ---------------------------------------------------------------- limits

// Groups opened beyond this many save nothing: they share the state of the
// deepest saved group, and their closing braces restore nothing until the
// depth is back within the limit. Only whether each of them is a skipped
// destination is tracked, so a destination deep down is still skipped and
// no text is lost to the nesting.
constexpr std::size_t kMaxGroupDepth = 4096;
// Longer names and numbers are read to their end; only this much is kept.
constexpr std::size_t kMaxWordChars = 31;
constexpr std::size_t kMaxParameterDigits = 19;
constexpr std::size_t kMaxShapeNameChars = 127;
constexpr std::size_t kMaxShapeValueDigits = 31;
// A character arriving when the paragraph holds this many starts a new one.
constexpr std::size_t kParagraphCutChars = 1019;
constexpr std::size_t kTabSpaces = 8;
constexpr std::size_t kLastTabStart = kMaxParagraphChars - kTabSpaces;  // 1016
constexpr std::size_t kColourTableEntries = 256;

// ---------------------------------------------------------------- group state

// Of RTF's formatting properties only bold, the left indent and the
// alignment reach the handheld, so only they are kept. The words that set
// the others are still recognised (control_words.cpp), and their values
// read and dropped.

// What "\pard" resets.
struct ParagraphProperties {
  std::int32_t left_indent_twips = 0;
  std::int32_t alignment = kAlignLeft;
};

// Whether text is kept: skipped destinations drop their text and ignore
// ordinary properties until their group closes.
enum class Destination : std::uint8_t { normal, skip };
// How the next bytes are read: as RTF, as a counted run of raw bytes, or as
// the digits of a hex escape.
enum class InputState : std::uint8_t { normal, binary, hex };

// Everything a group saves as it opens and restores as it closes.
struct GroupState {
  bool is_bold = false;  // "\plain" clears it
  ParagraphProperties paragraph;
  Destination destination = Destination::normal;
  InputState input_state = InputState::normal;
  AttributeCell current{};  // given to every character appended
};

// The shape property whose value the next shape value gives.
enum class ShapeProperty : std::uint8_t { none, filled, background, fill_colour };

struct ShapeState {
  ShapeProperty pending = ShapeProperty::none;
  bool is_value_expected = false;
  std::uint8_t filled = 0;      // 1 when the shape is filled
  std::uint8_t background = 0;  // 1 when the shape is the page background
  std::uint8_t fill_colour = 0;
};

// ---------------------------------------------------------------- one conversion

struct RtfState {
  RtfState(ByteSource& in, StagingOutput& output);

  ByteSource& input;
  StagingOutput& out;
  // An error ended the parse: which, and the offset of the byte that
  // caused it.
  bool is_stopped = false;
  ConversionStatus stop_status = ConversionStatus::complete;
  std::uint64_t stop_offset = 0;
  // The palette indices nearest to black and white, looked up once.
  const std::uint8_t black;
  const std::uint8_t white;

  GroupState group;                      // the innermost open group's
  std::vector<GroupState> saved_groups;  // what each open group restores as it closes
  // Groups open beyond kMaxGroupDepth, and the first of those levels (0:
  // the deepest saved group) whose destination was skipped as it opened a
  // deeper one; kNoLevel when none was.
  static constexpr std::size_t kNoLevel = SIZE_MAX;
  std::size_t unsaved_depth = 0;
  std::size_t skipped_from = kNoLevel;

  // Parser state.
  bool is_skip_unknown = false;  // "\*" came: an unknown word next starts a skipped destination
  std::int32_t binary_count = 0;
  // The hex escape read so far. Not saved per group: a group inside an
  // escape leaves it waiting for its second digit.
  std::uint8_t hex_value = 0;
  int hex_digits = 0;

  // File-wide state.
  std::array<std::uint8_t, kColourTableEntries> colour_table{};
  std::uint8_t colour_counter = 0;  // wraps from 255 to 0
  std::uint8_t red = 0;             // the colour being read from the table
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool is_row_suppressed = false;
  ShapeState shape;

  ParagraphBuffer buffer;
  // `group.current` as appended characters take it. Only control words and
  // closing braces change the formatting, so the cell is brought up to date
  // at the first character after one of them (`is_cell_stale`), not at
  // every character.
  bool is_cell_stale = true;
  AttributeCell encoded_current{};
  CellBytes current_cell{};
};

// A control word as read: the name (at most kMaxWordChars kept) and its
// numeric parameter, if it had one, saturated to 32 bits.
struct ControlWordText {
  std::array<char, kMaxWordChars> chars{};
  std::size_t stored = 0;
  std::optional<std::int32_t> parameter;
  std::string_view name() const { return {chars.data(), stored}; }
};

// ---------------------------------------------------------------- reader (rtf_importer.cpp)

// Character delivery: a byte of text, a hex escape, a binary byte or a
// character word. Counts binary bytes, drops what a skipped destination
// holds and appends the rest to the paragraph.
void deliver(RtfState& state, std::uint8_t byte);

// ---------------------------------------------------------------- control words (control_words.cpp)

// Does what the table row named exactly `word.name()` says; a word that is
// not in the table is ignored or, right after "\*", starts a skipped
// destination.
void dispatch(RtfState& state, const ControlWordText& word);

// ---------------------------------------------------------------- colours (colour_table.cpp)

// What the colour words do; `value` is the word's parameter or default.
enum class ColourWord : std::uint8_t { cf, highlight, red, green, blue };
// Sets up the colour table as a conversion starts: every entry black.
void reset_colours(RtfState& state);
// "\colortbl;": the table's first entry is the empty one, left black.
void skip_empty_first_colour(RtfState& state);
void apply_colour_word(RtfState& state, ColourWord word, std::int32_t value);
// "\plain" clears the colour being read.
void clear_colour_components(RtfState& state);

// ---------------------------------------------------------------- shapes (shapes.cpp)

// "\sn": reads a shape property name; the three that give the page colour
// make the next "\sv" count.
void read_shape_name(RtfState& state);
// "\sv": reads the value of the pending shape property, if one is pending.
void read_shape_value(RtfState& state);
// The page colour the shapes gave, or `otherwise`.
std::uint8_t shape_background(const ShapeState& shape, std::uint8_t otherwise);

// ---------------------------------------------------------------- shared by the readers

constexpr bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Reads decimal digits from `input` up to the first other byte, which is
// left unread. The value of the first `max_digits` digits, saturated to
// `limit`; the rest are read and dropped.
std::uint32_t read_digits(ByteSource& input, std::size_t max_digits, std::uint32_t limit);

}  // namespace vellora::rtf_import
