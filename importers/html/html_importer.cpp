// HTML to staging files: the reader. It looks for the opening html tag,
// then walks the bytes once: text goes into the paragraph buffer, '<'
// starts a tag for the tag handlers, and a closing tag puts back the style
// state that its opening tag saved. The flush turns the buffer into one
// staged paragraph (two when a list prefix makes it too long).
#include "importers/html/html_importer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "base/ascii.h"
#include "docmodel/palette.h"
#include "importers/html/html_state.h"
#include "importers/plain_run.h"

namespace vellora {
namespace html_import {

namespace {

// Names and attribute texts are short: a plain loop beats a library call.
std::string_view c_string(const char* chars, std::size_t stored) {
  std::size_t length = 0;
  while (length < stored && chars[length] != '\0') ++length;
  return {chars, length};
}

bool is_line_end(int c) { return c == '\r' || c == '\n'; }

// Drops characters up to a '>' (taken), a '<' (left unread) or the end.
void skip_to_tag_end(ByteSource& input) {
  for (int c = input.peek(); c != ByteSource::kEnd && c != '<'; c = input.peek()) {
    input.get();
    if (c == '>') return;
  }
}

// Characters up to a '<' (left unread), a '>' (taken) or the end, line ends
// dropped; at most kMaxTitleChars are kept. `is_cut` tells whether a
// character other than a blank was dropped for want of room.
std::string_view read_title_text(ByteSource& input, std::array<char, kMaxTitleChars>& chars, bool& is_cut) {
  std::size_t stored = 0;
  is_cut = false;
  for (int c = input.peek(); c != ByteSource::kEnd && c != '<'; c = input.peek()) {
    input.get();
    if (c == '>') break;
    if (is_line_end(c)) continue;
    if (stored < chars.size())
      chars[stored++] = static_cast<char>(c);
    else if (c != ' ' && c != '\t')
      is_cut = true;
  }
  return c_string(chars.data(), stored);
}

void write(HtmlState& state, const std::uint8_t* text, const std::uint8_t* cells, std::size_t length) {
  if (state.out.is_full()) return;
  state.out.write_paragraph(state.style.alignment, {text, length}, {cells, length * kCellBytes});
}

bool is_all_spaces(const std::uint8_t* text, std::size_t length) {
  return std::all_of(text, text + length, [](std::uint8_t c) { return c == ' '; });
}

// The first space from `from` on that collapsing drops: one followed by
// another space, or the last character; `length` when there is none. Two
// spaces in a row are rare in text, so whole blocks are tested at once,
// without a branch per character (a byte-wide flag, which the compiler
// turns into vector compares; a bool flag it leaves scalar).
std::size_t next_dropped_space(const std::uint8_t* text, std::size_t from, std::size_t length) {
  constexpr std::size_t kBlock = 32;
  std::size_t i = from;
  for (; i + kBlock < length; i += kBlock) {
    std::uint8_t pairs = 0;
    for (std::size_t k = i; k < i + kBlock; ++k)
      pairs |= static_cast<std::uint8_t>((text[k] == ' ') & (text[k + 1] == ' '));
    if (pairs != 0) break;
  }
  for (; i + 1 < length; ++i)
    if (text[i] == ' ' && text[i + 1] == ' ') return i;
  return i < length && text[i] == ' ' ? i : length;
}

// Every run of spaces becomes its last space, with that space's cell, and
// a space at the end goes. The destination may be the source. The kept
// stretches between dropped spaces are copied whole.
std::size_t collapse_blanks(const std::uint8_t* text, const std::uint8_t* cells, std::size_t length,
                            std::uint8_t* to_text, std::uint8_t* to_cells) {
  std::size_t kept = 0;
  std::size_t stretch = 0;  // first character not yet copied
  for (;;) {
    const std::size_t dropped = next_dropped_space(text, stretch, length);
    move_characters(text, cells, stretch, dropped - stretch, to_text, to_cells, kept);
    kept += dropped - stretch;
    if (dropped == length) return kept;
    stretch = dropped + 1;
  }
}

// Puts the list prefix in front of the `length` characters at the start of
// the working copy and returns its length. Numbered paragraphs take the
// counter and advance it.
std::size_t put_list_prefix(HtmlState& state, std::size_t length) {
  StyleState& style = state.style;
  std::array<char, 16> marker{};
  std::size_t marker_length = 0;
  switch (style.list_kind) {
    case kNumberedList:
      marker_length =
          static_cast<std::size_t>(std::snprintf(marker.data(), marker.size(), "%4d. ", style.list_counter));
      ++style.list_counter;
      break;
    case kBulletedList:
      marker_length = 3;
      std::memcpy(marker.data(), " \x95 ", marker_length);
      break;
    case kListTerm:
      marker_length = 2;
      std::memcpy(marker.data(), "  ", marker_length);
      break;
    case kListDefinition:
      marker_length = 4;
      std::memcpy(marker.data(), "  - ", marker_length);
      break;
    default: return 0;
  }
  std::size_t indent = style.list_depth >= 2 ? 2 * (style.list_depth - std::size_t{1}) : 0;
  // Hundreds of nested lists: the indentation gives way so that prefix and
  // text fit the working copy.
  indent = std::min(indent, kFlushChars - length - marker_length);
  const std::size_t prefix = indent + marker_length;

  std::uint8_t* text = state.work_text.data();
  std::uint8_t* cells = state.work_cells.data();
  std::memmove(text + prefix, text, length);
  std::memmove(cell_at(cells, prefix), cells, length * kCellBytes);
  std::memset(text, ' ', indent);
  std::memcpy(text + indent, marker.data(), marker_length);
  fill_cells(cells, prefix, cell_at(cells, prefix));
  return prefix;
}

// The first 1024 characters of a paragraph that its prefix made too long
// are flushed as a paragraph of their own, without a prefix.
void write_cut_part(HtmlState& state, std::uint8_t* text, std::uint8_t* cells) {
  if (is_all_spaces(text, kMaxParagraphChars)) return;
  std::size_t length = collapse_blanks(text, cells, kMaxParagraphChars, text, cells);
  length = decode_references(text, cells, length);
  write(state, text, cells, length);
}

void refresh_current_cell(HtmlState& state) {
  if (state.style.current == state.encoded_current) return;
  state.encoded_current = state.style.current;
  state.current_cell = encode_cell(state.encoded_current);
}

void append(HtmlState& state, std::uint8_t byte) {
  ParagraphBuffer& paragraph = state.paragraph;
  paragraph.text[paragraph.length] = byte;
  std::memcpy(cell_at(paragraph.cells.data(), paragraph.length), state.current_cell.data(), kCellBytes);
  ++paragraph.length;
}

// The bytes that read_document takes one at a time: the end of a tag's
// text, the start of a tag, tabs and line ends. Every other byte is text.
constexpr std::array<bool, 256> kIsMarkupOrBlank = [] {
  std::array<bool, 256> table{};
  for (const char c : {'<', '>', '\t', '\r', '\n'}) table[static_cast<std::uint8_t>(c)] = true;
  return table;
}();

// Takes the text at the front of the input buffer, up to the next markup
// or blank byte: hidden text is dropped whole, visible text is appended
// as far as the 1012 test lets it. What it leaves, if anything, needs the
// byte-at-a-time path: markup, a blank, a character that has to start a
// new paragraph first, or the end of the buffer.
void take_text_run(HtmlState& state) {
  const std::span<const std::uint8_t> bytes = state.input.buffered();
  ParagraphBuffer& paragraph = state.paragraph;
  const bool is_dropped = !state.style.is_visible;
  if (!is_dropped && paragraph.length >= kParagraphCutChars) return;
  const std::size_t room = is_dropped ? bytes.size() : kParagraphCutChars - paragraph.length;
  const std::size_t limit = std::min(bytes.size(), room);
  std::size_t count = plain_block_bytes(bytes.first(limit), '<', '>', '>');
  while (count < limit && !kIsMarkupOrBlank[bytes[count]]) ++count;
  if (count == 0) return;
  state.input.skip(count);
  if (is_dropped) return;
  std::memcpy(paragraph.text.data() + paragraph.length, bytes.data(), count);
  fill_cells(cell_at(paragraph.cells.data(), paragraph.length), count, state.current_cell.data());
  paragraph.length += count;
}

// Restores the style state saved by the newest open tag called `name`.
void close_tag(HtmlState& state, std::string_view name) {
  const std::size_t tag = find_tag(name);
  StyleState saved;
  if (tag == kTagCount || !state.tags.pop(tag, saved)) return;
  if (saved.is_block) flush(state);
  state.style = saved;
}

// One tag after its '<'. False when the name is empty: the input has
// ended, or a NUL followed the '<', and either ends the document.
bool read_tag(HtmlState& state) {
  TagName name;
  read_tag_name(state.input, name);
  const std::string_view as_read = name.text();
  if (as_read.empty()) return false;
  // Only this spelling is passed over, without even skipping its rest, so
  // text after a closing html tag is still imported.
  if (as_read == "/html") return true;

  std::array<char, kMaxTagNameChars> lower;
  std::transform(as_read.begin(), as_read.end(), lower.begin(), [](char c) { return to_lower_ascii(c); });
  const std::string_view lowered(lower.data(), as_read.size());
  if (const std::size_t tag = find_tag(lowered); tag != kTagCount)
    handle_tag(state, tag, name.is_closed);
  else
    skip_rest_of_tag(state.input, name.is_closed);
  if (lowered.front() == '/') close_tag(state, lowered.substr(1));
  refresh_current_cell(state);
  return true;
}

// Text, tags and declarations before the opening html tag are dropped.
bool find_html_tag(HtmlState& state) {
  TagName name;
  while (skip_past_tag_open(state.input)) {
    read_tag_name(state.input, name);
    if (name.text().empty()) return false;
    if (equals_ignoring_case(name.text(), "html")) {
      skip_rest_of_tag(state.input, name.is_closed);
      return true;
    }
  }
  return false;
}

void read_document(HtmlState& state) {
  ByteSource& input = state.input;
  const ParagraphBuffer& paragraph = state.paragraph;
  while (!state.out.is_full()) {
    // A run of text, then the byte that ended it: taking no text never
    // changes whether the output is full.
    take_text_run(state);
    const int c = input.get();
    switch (c) {
      case ByteSource::kEnd: return;
      case '\t':
        // Tabs and line ends skip the 1012 test; a full buffer drops them,
        // as the flush would.
        if (state.style.is_visible && paragraph.length < kMaxParagraphChars) append(state, ' ');
        break;
      case '\r':
      case '\n':
        if (paragraph.length != 0 && state.style.is_visible && paragraph.length < kMaxParagraphChars)
          append(state, ' ');
        if (state.style.is_preformatted) flush(state);
        break;
      case '>': break;
      case '<':
        if (!read_tag(state)) return;
        break;
      default:
        if (!state.style.is_visible) break;
        if (paragraph.length >= kParagraphCutChars) flush(state);
        append(state, static_cast<std::uint8_t>(c));
    }
  }
}

}  // namespace

StyleState initial_style() {
  StyleState style;
  style.background = nearest_colour(0xFFFFFFFF);
  style.text_colour = nearest_colour(0);
  style.link_colour = nearest_colour(pack_colour(0, 0, 255));
  style.current = AttributeCell{kCharacterCell, style.text_colour, kNoHighlight, kStandardFont};
  return style;
}

std::string_view TagName::text() const { return c_string(chars.data(), stored); }
std::string_view AttributeText::text() const { return c_string(chars.data(), stored); }

void read_tag_name(ByteSource& input, TagName& name) {
  name.stored = 0;
  name.is_closed = false;
  int c = input.get();
  if (c == ByteSource::kEnd) return;
  if (c == '!') {
    skip_to_tag_end(input);
    name.chars[0] = '!';
    name.stored = 1;
    name.is_closed = true;
    return;
  }
  // The first character belongs to the name whatever it is. The count is
  // kept in a local until the end: a store through `chars` could change
  // any member, so the compiler would reload it after each one.
  std::size_t stored = 0;
  for (;;) {
    if (stored < kMaxTagNameChars) name.chars[stored++] = static_cast<char>(c);
    c = input.get();
    if (c == ByteSource::kEnd || c == ' ' || is_line_end(c)) break;
    if (c == '>') {
      name.is_closed = true;
      break;
    }
  }
  name.stored = stored;
}

void skip_rest_of_tag(ByteSource& input, bool is_closed) {
  if (!is_closed) skip_to_tag_end(input);
}

void read_attribute_text(ByteSource& input, AttributeText& out) {
  std::size_t stored = 0;
  for (int c = input.peek(); c != ByteSource::kEnd && c != '<'; c = input.peek()) {
    input.get();
    if (c == '>') break;
    if (!is_line_end(c) && stored < kMaxAttributeChars) out.chars[stored++] = to_lower_ascii(static_cast<char>(c));
  }
  out.stored = stored;
}

bool skip_past_tag_open(ByteSource& input) {
  for (int c = input.get(); c != ByteSource::kEnd; c = input.get())
    if (c == '<') return true;
  return false;
}

void read_title(HtmlState& state) {
  std::array<char, kMaxTitleChars> chars{};
  bool is_cut = false;
  const std::uint64_t start = state.input.offset();
  const std::string_view title = read_title_text(state.input, chars, is_cut);
  if (is_cut && state.loss == ConversionStatus::complete) {
    state.loss = ConversionStatus::title_too_long;
    state.loss_offset = start;
  }
  ParagraphBuffer& paragraph = state.paragraph;
  const CellBytes cell = encode_cell(state.style.current);
  std::memcpy(paragraph.text.data(), title.data(), title.size());
  fill_cells(paragraph.cells.data(), title.size(), cell.data());
  paragraph.length = title.size();
}

void flush(HtmlState& state) {
  ParagraphBuffer& paragraph = state.paragraph;
  std::uint8_t* cells = paragraph.cells.data();
  if (paragraph.length == 1 && read_cell_kind(cells) == kRuleCell) {
    write(state, paragraph.text.data(), cells, 1);
    state.is_after_empty_paragraph = false;
    paragraph.length = 0;
    return;
  }
  if (paragraph.length == 0) {
    // One empty paragraph stands for any number of empty flushes in a row.
    if (state.is_after_empty_paragraph) return;
    write_cell_kind(cells, kEmptyParagraphCell);
    write(state, paragraph.text.data(), cells, 1);
    state.is_after_empty_paragraph = true;
    return;
  }
  const std::size_t length = std::exchange(paragraph.length, 0);
  if (is_all_spaces(paragraph.text.data(), length)) return;

  std::uint8_t* text = state.work_text.data();
  std::uint8_t* work_cells = state.work_cells.data();
  std::size_t total = collapse_blanks(paragraph.text.data(), cells, length, text, work_cells);
  state.is_after_empty_paragraph = false;
  total += put_list_prefix(state, total);
  if (total > kMaxParagraphChars) {
    write_cut_part(state, text, work_cells);
    text += kMaxParagraphChars;
    work_cells = cell_at(work_cells, kMaxParagraphChars);
    total -= kMaxParagraphChars;
  }
  // References are decoded last, so the 1012 test and the collapsing
  // above see them undecoded.
  total = decode_references(text, work_cells, total);
  write(state, text, work_cells, total);
}

void emit_rule(HtmlState& state, std::uint8_t colour, std::int32_t thickness) {
  ParagraphBuffer& paragraph = state.paragraph;
  paragraph.text[0] = ' ';
  const CellBytes rule = encode_cell(AttributeCell{kRuleCell, colour, state.style.current.highlight, thickness});
  std::copy(rule.begin(), rule.end(), paragraph.cells.begin());
  paragraph.length = 1;
  flush(state);
}

void record(HtmlState& state, std::size_t tag, bool is_block) {
  state.style.is_block = is_block;
  state.tags.push(tag, state.style);
}

void record_keeping_block(HtmlState& state, std::size_t tag) { state.tags.push(tag, state.style); }

}  // namespace html_import

Converted stage_html(ByteSource& input, StagingOutput& out) {
  using namespace html_import;
  // The buffers take some 45 KB: on the heap, not on a caller's stack.
  const auto state = std::make_unique<HtmlState>(input, out);
  state->encoded_current = state->style.current;
  state->current_cell = encode_cell(state->encoded_current);
  if (find_html_tag(*state)) read_document(*state);
  if (state->paragraph.length != 0) flush(*state);
  return {state->style.background, state->loss, state->loss_offset};
}

ImportResult ImportHtml(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                        std::string_view file_name, const ImportOptions& options) {
  return import_file(source, staging_folder, file_name, &stage_html, SourceKind::html, options);
}

}  // namespace vellora
