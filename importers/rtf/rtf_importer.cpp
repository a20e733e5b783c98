// RTF to staging files: the reader. It walks the bytes once: braces open
// and close groups, a backslash starts a control word or symbol for the
// control-word table, hex escapes and binary runs are decoded, and every
// other byte is text. Text goes into the paragraph buffer with the current
// attribute; a paragraph end, or a full buffer, flushes it as one staged
// paragraph, with the left indent turned into leading spaces.
#include "importers/rtf/rtf_importer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "docmodel/cell.h"
#include "docmodel/font_widths.h"
#include "docmodel/palette.h"
#include "importers/plain_run.h"
#include "importers/rtf/rtf_state.h"

namespace vellora {
namespace rtf_import {

namespace {

// The left indent becomes one leading space per 100 twips beyond 450, and
// none below 550.
constexpr std::int64_t kIndentStartTwips = 450;
constexpr std::int64_t kTwipsPerSpace = 100;

constexpr std::uint8_t kBulletStandIn = 0x17;  // stored as the handheld's bullet
constexpr std::uint8_t kBullet = 0x95;

std::uint8_t* cell_at(ParagraphBuffer& buffer, std::size_t index) {
  return vellora::cell_at(buffer.cells.data(), index);
}

// ---------------------------------------------------------------- paragraphs

void flush(RtfState& state) {
  ParagraphBuffer& buffer = state.buffer;
  if (buffer.length == 0) {
    // The text byte and the other fields of cell 0 keep what the buffer
    // holds; the packer looks only at the kind.
    write_cell_kind(cell_at(buffer, 0), kEmptyParagraphCell);
    buffer.length = 1;
  } else {
    // 64 bits, so no indent, however far out, can overflow.
    const std::int64_t beyond = std::int64_t{state.group.paragraph.left_indent_twips} - kIndentStartTwips;
    if (beyond >= kTwipsPerSpace) {
      const auto room = static_cast<std::int64_t>(kMaxParagraphChars - buffer.length);
      const auto spaces = static_cast<std::size_t>(std::min(beyond / kTwipsPerSpace, room));
      std::memmove(buffer.text.data() + spaces, buffer.text.data(), buffer.length);
      std::memmove(cell_at(buffer, spaces), cell_at(buffer, 0), buffer.length * kCellBytes);
      std::memset(buffer.text.data(), ' ', spaces);
      fill_cells(cell_at(buffer, 0), spaces, cell_at(buffer, spaces));
      buffer.length += spaces;
    }
  }
  if (!state.out.is_full())
    state.out.write_paragraph(state.group.paragraph.alignment, {buffer.text.data(), buffer.length},
                              {buffer.cells.data(), buffer.length * kCellBytes});
  buffer.length = 0;
}

void store(RtfState& state, std::uint8_t byte) {
  ParagraphBuffer& buffer = state.buffer;
  buffer.text[buffer.length] = byte;
  std::memcpy(cell_at(buffer, buffer.length), state.current_cell.data(), kCellBytes);
  ++buffer.length;
}

void refresh_cell(RtfState& state) {
  if (!state.is_cell_stale) return;
  // The font follows bold; the large font stays large.
  AttributeCell& current = state.group.current;
  if (current.font == kStandardFont && state.group.is_bold)
    current.font = kBoldFont;
  else if (current.font == kBoldFont && !state.group.is_bold)
    current.font = kStandardFont;
  if (current != state.encoded_current) {
    state.encoded_current = current;
    state.current_cell = encode_cell(current);
  }
  state.is_cell_stale = false;
}

void append(RtfState& state, std::uint8_t byte) {
  if (state.is_row_suppressed) return;
  if (byte == '\n' || byte == '\r') {
    flush(state);
    return;
  }
  if (state.buffer.length >= kParagraphCutChars) {
    // The character starts the next paragraph; a tab there is dropped.
    flush(state);
    if (byte == '\t') return;
  }
  refresh_cell(state);
  switch (byte) {
    case '\t':
      if (state.buffer.length <= kLastTabStart)
        for (std::size_t i = 0; i < kTabSpaces; ++i) store(state, ' ');
      else
        flush(state);  // the tab itself is dropped
      return;
    case kBulletStandIn: store(state, kBullet); return;
    case 0: return;
    default: store(state, byte);
  }
}

// The bytes that parse() takes one at a time: group braces, the backslash,
// line ends (which RTF ignores) and the text bytes that append() treats
// specially. Every other byte is plain text.
constexpr std::array<bool, 256> kIsSyntaxOrSpecial = [] {
  std::array<bool, 256> table{};
  for (const std::uint8_t c : {'{', '}', '\\', '\r', '\n', '\t', '\0'}) table[c] = true;
  table[kBulletStandIn] = true;
  return table;
}();

// Takes the plain text at the front of the input buffer: dropped whole in
// a skipped destination or a table row, otherwise appended as far as the
// paragraph cut lets it. Line ends inside it are stepped over, as parse()
// would. What it leaves, if anything, needs the byte-at-a-time path: a hex
// escape or binary run, a syntax or special byte, a character that has to
// start a new paragraph first, or the end of the buffer.
void take_text_run(RtfState& state) {
  if (state.group.input_state != InputState::normal) return;
  ParagraphBuffer& buffer = state.buffer;
  const bool is_dropped = state.group.destination == Destination::skip || state.is_row_suppressed;
  for (;;) {
    if (!is_dropped && buffer.length >= kParagraphCutChars) return;
    const std::span<const std::uint8_t> bytes = state.input.buffered();
    const std::size_t room = is_dropped ? bytes.size() : kParagraphCutChars - buffer.length;
    const std::size_t limit = std::min(bytes.size(), room);
    std::size_t count = plain_block_bytes(bytes.first(limit), '{', '}', '\\');
    while (count < limit && !kIsSyntaxOrSpecial[bytes[count]]) ++count;
    if (count != 0) {
      state.input.skip(count);
      if (!is_dropped) {
        refresh_cell(state);
        std::memcpy(buffer.text.data() + buffer.length, bytes.data(), count);
        fill_cells(cell_at(buffer, buffer.length), count, state.current_cell.data());
        buffer.length += count;
      }
    }
    if (count == bytes.size() || (bytes[count] != '\n' && bytes[count] != '\r')) return;
    state.input.skip(1);
  }
}

// ---------------------------------------------------------------- groups

// Ends the parse at the byte just taken.
void stop(RtfState& state, ConversionStatus why) {
  state.is_stopped = true;
  state.stop_status = why;
  state.stop_offset = state.input.offset() - 1;
}

void open_group(RtfState& state) {
  if (state.saved_groups.size() >= kMaxGroupDepth) {
    // The level being left is skipped: so is every deeper one until the
    // parse is back at it.
    if (state.group.destination == Destination::skip && state.skipped_from == RtfState::kNoLevel)
      state.skipped_from = state.unsaved_depth;
    ++state.unsaved_depth;
    state.group.input_state = InputState::normal;
    return;
  }
  state.saved_groups.push_back(state.group);
  state.group.input_state = InputState::normal;
}

void close_group(RtfState& state) {
  if (state.unsaved_depth > 0) {
    // The group opened normal unless a shallower level was skipped already.
    if (state.skipped_from == RtfState::kNoLevel || state.skipped_from >= state.unsaved_depth) {
      state.group.destination = Destination::normal;
      state.skipped_from = RtfState::kNoLevel;
    }
    if (--state.unsaved_depth == 0) state.skipped_from = RtfState::kNoLevel;
    state.group.input_state = InputState::normal;
    return;
  }
  if (state.saved_groups.empty()) {
    stop(state, ConversionStatus::stray_closing_brace);
    return;
  }
  state.is_cell_stale = true;
  state.group = state.saved_groups.back();
  state.saved_groups.pop_back();
}

// ---------------------------------------------------------------- control words

// After a backslash: a control symbol (one non-letter byte) or a control
// word of letters with an optional signed parameter and its delimiter.
void read_control_word(RtfState& state) {
  ByteSource& input = state.input;
  ControlWordText word;
  const int first = input.get();
  if (first == ByteSource::kEnd) return;  // the input ends: nothing is lost
  word.chars[0] = static_cast<char>(first);
  word.stored = 1;
  if (!is_letter(first)) {
    dispatch(state, word);
    return;
  }
  // Counted in a local: a store through `chars` could change any member,
  // so the compiler would reload the count after each one.
  std::size_t stored = 1;
  while (is_letter(input.peek())) {
    const int c = input.get();
    if (stored < kMaxWordChars) word.chars[stored++] = static_cast<char>(c);
  }
  word.stored = stored;
  const std::string_view name = word.name();
  int delimiter = input.peek();
  if (name == "colortbl" && delimiter == ';') skip_empty_first_colour(state);
  if (name == "sn" || name == "sv") {
    if (delimiter == ' ') input.get();
    if (name == "sn")
      read_shape_name(state);
    else
      read_shape_value(state);
    return;
  }
  bool is_negative = false;
  if (delimiter == '-') {
    input.get();
    is_negative = true;
    delimiter = input.peek();
    if (delimiter == ByteSource::kEnd) return;
  }
  if (is_ascii_digit(delimiter)) {
    // Accumulated in 64 bits and saturated to the 32-bit range.
    constexpr std::uint32_t kMaxPositive = 0x7FFFFFFF;
    const std::uint32_t magnitude = read_digits(input, kMaxParameterDigits, kMaxPositive + (is_negative ? 1 : 0));
    word.parameter =
        is_negative ? static_cast<std::int32_t>(-std::int64_t{magnitude}) : static_cast<std::int32_t>(magnitude);
    delimiter = input.peek();
  }
  if (delimiter == ' ') {
    input.get();
    // The space is part of the word, so "\colortbl ;" (as many writers put
    // it) starts with the empty entry just as "\colortbl;" does.
    if (name == "colortbl" && input.peek() == ';') skip_empty_first_colour(state);
  }
  dispatch(state, word);
}

// ---------------------------------------------------------------- the parse

void read_hex_digit(RtfState& state, int c) {
  const int digit = hex_digit_value(c);
  if (digit < 0) {
    stop(state, ConversionStatus::bad_hex_escape);
    return;
  }
  state.hex_value = static_cast<std::uint8_t>(state.hex_value * 16 + digit);
  if (++state.hex_digits < 2) return;
  const std::uint8_t byte = state.hex_value;
  state.hex_value = 0;
  state.hex_digits = 0;
  state.group.input_state = InputState::normal;
  deliver(state, byte);
}

void parse(RtfState& state) {
  ByteSource& input = state.input;
  while (!state.is_stopped && !state.out.is_full()) {
    // A run of text, then the byte that ended it: taking text never stops
    // the parse or fills the output.
    take_text_run(state);
    const int c = input.get();
    if (c == ByteSource::kEnd) return;  // open groups at the end change nothing
    if (state.group.input_state == InputState::binary) {
      deliver(state, static_cast<std::uint8_t>(c));
      continue;
    }
    switch (c) {
      case '\r':
      case '\n': break;
      case '{': open_group(state); break;
      case '}': close_group(state); break;
      case '\\':
        read_control_word(state);
        state.is_cell_stale = true;
        break;
      default:
        if (state.group.input_state == InputState::hex)
          read_hex_digit(state, c);
        else if (state.group.destination == Destination::normal)
          append(state, static_cast<std::uint8_t>(c));  // delivery, with no binary run to count
    }
  }
}

}  // namespace

RtfState::RtfState(ByteSource& in, StagingOutput& output)
    : input(in), out(output), black(nearest_colour(0)), white(nearest_colour(0xFFFFFFFF)) {
  group.current = AttributeCell{kCharacterCell, black, kNoHighlight, kStandardFont};
  reset_colours(*this);
  shape.fill_colour = white;
}

void deliver(RtfState& state, std::uint8_t byte) {
  InputState& input_state = state.group.input_state;
  if (input_state == InputState::binary && --state.binary_count <= 0) input_state = InputState::normal;
  if (state.group.destination == Destination::skip) return;
  append(state, byte);
}

std::uint32_t read_digits(ByteSource& input, std::size_t max_digits, std::uint32_t limit) {
  std::uint64_t value = 0;
  for (std::size_t digits = 0; is_ascii_digit(input.peek()); ++digits) {
    const int c = input.get();
    if (digits < max_digits && value <= limit) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, limit));
}

namespace {

// Whether anything but blanks and closing braces follows: a stray brace or
// line end at the very end of a file loses nothing.
bool has_more_text(ByteSource& input) {
  for (auto bytes = input.take_buffered(); !bytes.empty(); bytes = input.take_buffered())
    for (const std::uint8_t byte : bytes)
      if (byte != ' ' && byte != '\r' && byte != '\n' && byte != '\t' && byte != '}' && byte != 0) return true;
  return false;
}

}  // namespace

}  // namespace rtf_import

Converted stage_rtf(ByteSource& input, StagingOutput& out) {
  using namespace rtf_import;
  // The buffers take some 11 KB: on the heap, not on a caller's stack.
  const auto state = std::make_unique<RtfState>(input, out);
  parse(*state);
  if (state->buffer.length != 0) flush(*state);
  Converted converted{shape_background(state->shape, state->white)};
  // An error ends the parse as the format says; if text was still to come,
  // the document is incomplete and says why.
  if (state->is_stopped && !out.is_full() && has_more_text(input)) {
    converted.status = state->stop_status;
    converted.offset = state->stop_offset;
  }
  return converted;
}

ImportResult ImportRtf(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                       std::string_view file_name, const ImportOptions& options) {
  return import_file(source, staging_folder, file_name, &stage_rtf, SourceKind::rtf, options);
}

}  // namespace vellora
