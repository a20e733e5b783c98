// Inside the HTML importer: the state of one conversion and the operations
// that its three parts share. The reader (html_importer.cpp) walks the
// bytes, keeps the paragraph buffer and flushes paragraphs; the tag
// handlers (tag_handlers.cpp) change the style state and record tags on the
// tag stack (tag_stack.cpp); references_colours.cpp decodes character
// references at each flush and reads colour values for the handlers.
// Nothing here is part of the importer's interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "docmodel/cell.h"
#include "docmodel/font_widths.h"
#include "docmodel/staging.h"
#include "importers/byte_source.h"
#include "importers/import_result.h"
#include "importers/paragraph_buffer.h"
#include "importers/staging_output.h"

namespace vellora::html_import {

// ---------------------------------------------------------------- limits

constexpr std::size_t kMaxTagNameChars = 255;    // the rest of a longer name is read and dropped
constexpr std::size_t kMaxAttributeChars = 254;  // likewise for attribute texts
// Tags beyond this many open ones still take effect but save nothing: they
// share the style of the newest recorded entry, and their closing tags
// restore nothing, so hostile input cannot grow the stack without bound
// and no text is lost to it.
constexpr std::size_t kMaxTagStackEntries = 65536;
// A character arriving when the paragraph holds this many starts a new one.
constexpr std::size_t kParagraphCutChars = 1012;
// The flush's working copy: a whole paragraph with its list prefix.
constexpr std::size_t kFlushChars = 2 * kMaxParagraphChars;
// Entries of the tag handler table.
constexpr std::size_t kTagCount = 42;

// ---------------------------------------------------------------- style

// List kinds: which prefix the flush puts before each paragraph.
constexpr std::int32_t kNoList = 0;
constexpr std::int32_t kNumberedList = 1;
constexpr std::int32_t kBulletedList = 2;
constexpr std::int32_t kListTerm = 3;
constexpr std::int32_t kListDefinition = 4;

// Table border modes.
constexpr std::int32_t kNoTable = 0;
constexpr std::int32_t kBorderedTable = 1;
constexpr std::int32_t kBorderlessTable = 2;

// Everything a tag can change; the tag stack saves and restores it whole.
struct StyleState {
  std::int32_t border_mode = kNoTable;
  std::uint8_t border_colour = 0;
  bool is_table_start = false;  // the first cell after a table neither flushes nor draws a rule
  std::int32_t list_kind = kNoList;
  std::uint16_t list_counter = 0;  // number of the next numbered paragraph
  std::uint16_t list_depth = 0;    // list tags open
  std::int32_t alignment = kAlignLeft;
  std::uint8_t background = 0;  // palette indices from here on
  std::uint8_t text_colour = 0;
  std::uint8_t link_colour = 0;
  std::uint8_t font_size = 3;  // HTML sizes 1 to 7
  std::uint8_t base_font_size = 3;
  bool is_preformatted = false;  // every line end ends the paragraph
  bool is_visible = true;        // false: text characters are dropped
  bool is_block = false;         // saved with each tag: closing it flushes first
  AttributeCell current{};       // given to every character appended
  friend bool operator==(const StyleState&, const StyleState&) = default;
};

// The style state a file starts with: black text, blue links, white page.
StyleState initial_style();

// ---------------------------------------------------------------- tag stack

// Open tags, newest last, each with the style state from before it. A
// closing tag restores the newest entry of its name; entries opened after
// that one stay, but take over its current attribute and visible flag.
// Every operation is amortised constant time, however the tags nest.
class TagStack {
 public:
  // Saves `style` for table entry `tag`; on a full stack the tag is only
  // counted, so that its closing tag closes it and not an older one.
  void push(std::size_t tag, const StyleState& style);
  // Removes the newest entry of `tag` into `saved`; false when none is
  // open, or when the newest is one of those only counted.
  bool pop(std::size_t tag, StyleState& saved);
  std::size_t size() const { return size_; }

 private:
  struct Entry {
    StyleState saved;
    std::uint64_t order = 0;  // position in the order of recording
    std::int32_t newer = -1;  // neighbours in stack order, pool indices
    std::int32_t older = -1;
  };
  // From entry `from_order` up to the newest, the saved current attribute
  // and visible flag are these. Closing an entry rewrites them for every
  // newer entry at once by dropping the spans above it.
  struct Carry {
    std::uint64_t from_order = 0;
    AttributeCell current{};
    bool is_visible = true;
  };

  std::vector<Entry> pool_;
  std::vector<std::int32_t> free_;
  // Pool indices, newest last; a negative value -n stands for n tags opened
  // on a full stack, so their count costs one element per run.
  std::array<std::vector<std::int32_t>, kTagCount> by_tag_;
  std::vector<Carry> carries_;  // ascending `from_order`; each starts at an open entry
  std::int32_t newest_ = -1;
  std::size_t size_ = 0;
  std::uint64_t next_order_ = 0;
};

// ---------------------------------------------------------------- one conversion

// The palette indices of the colour values met so far, so a page that
// names the same few colours again and again pays for each
// nearest_colour() search once.
class ColourCache {
 public:
  // nearest_colour(packed), from the cache when it holds the colour.
  std::uint8_t nearest(std::uint32_t packed);

 private:
  static constexpr std::size_t kSlots = 64;
  // A slot holds its colour with bits 0-7 all set (nearest_colour ignores
  // them), so a slot still 0 holds no colour.
  std::array<std::uint32_t, kSlots> colours_{};
  std::array<std::uint8_t, kSlots> indices_{};
};

struct HtmlState {
  HtmlState(ByteSource& in, StagingOutput& output) : input(in), out(output), style(initial_style()) {}

  ByteSource& input;
  StagingOutput& out;
  StyleState style;
  // style.current as appended characters take it, refreshed after every tag.
  AttributeCell encoded_current{};
  CellBytes current_cell{};
  ParagraphBuffer paragraph;
  bool is_after_empty_paragraph = false;  // the last paragraph written was empty
  TagStack tags;
  ColourCache colours;
  std::array<std::uint8_t, kFlushChars> work_text{};
  std::array<std::uint8_t, kFlushChars * kCellBytes> work_cells{};
  // The first loss, and the offset where it was found.
  ConversionStatus loss = ConversionStatus::complete;
  std::uint64_t loss_offset = 0;
};

// A tag name as the tag reader leaves it. Names compare as C strings do:
// a NUL ends the name, so "<" followed by NUL reads as an empty name.
// Only the first `stored` characters are ever set.
struct TagName {
  std::array<char, kMaxTagNameChars> chars;
  std::size_t stored = 0;
  bool is_closed = false;  // '>' ended the name: no attribute text follows
  std::string_view text() const;
};

// Lower-cased attribute text; a NUL ends it as it ends a C string. Only
// the first `stored` characters are ever set.
struct AttributeText {
  std::array<char, kMaxAttributeChars> chars;
  std::size_t stored = 0;
  std::string_view text() const;
};

// ---------------------------------------------------------------- reader (html_importer.cpp)

// Copies one cell between slots of a cell array: the same slot or two that
// do not overlap, as in-place compaction gives.
inline void copy_cell(std::uint8_t* to, const std::uint8_t* from) {
  if (to != from) std::memcpy(to, from, kCellBytes);
}

// Moves `count` characters with their cells from position `from` to
// position `to`; the ranges may overlap, as in-place compaction gives.
inline void move_characters(const std::uint8_t* text, const std::uint8_t* cells, std::size_t from, std::size_t count,
                            std::uint8_t* to_text, std::uint8_t* to_cells, std::size_t to) {
  if (count == 0 || (to_text + to == text + from)) return;
  std::memmove(to_text + to, text + from, count);
  std::memmove(cell_at(to_cells, to), cell_at(cells, from), count * kCellBytes);
}

// Reads a tag name after '<'. "<!" starts a declaration, which is skipped to
// its first '>' or '<' and gives a name that matches no tag.
void read_tag_name(ByteSource& input, TagName& name);
// Unless the name was closed by '>', drops characters up to a '>' (taken)
// or a '<' (left for the next tag).
void skip_rest_of_tag(ByteSource& input, bool is_closed);
// The rest of the tag as attribute text: line ends dropped, lower-cased.
void read_attribute_text(ByteSource& input, AttributeText& out);
// Drops characters up to and including the next '<'; false at the end.
bool skip_past_tag_open(ByteSource& input);

// Ends the paragraph: blanks collapse, the list prefix goes in front,
// references are decoded and the paragraph is written.
void flush(HtmlState& state);
// Writes a rule paragraph; called right after a flush.
void emit_rule(HtmlState& state, std::uint8_t colour, std::int32_t thickness);
// Reads the title text after a title tag into the paragraph buffer, in
// place of the characters it held.
void read_title(HtmlState& state);
// Saves the style state for `tag`, setting the block flag first.
void record(HtmlState& state, std::size_t tag, bool is_block);
// The same with the block flag in force.
void record_keeping_block(HtmlState& state, std::size_t tag);

// ---------------------------------------------------------------- tags (tag_handlers.cpp)

// The tag table entry named exactly `lowered`, or kTagCount when none is
// (a plain index, not an optional: it is asked for every tag).
std::size_t find_tag(std::string_view lowered);
// Runs the handler of entry `tag`, right after its name was read.
void handle_tag(HtmlState& state, std::size_t tag, bool is_closed);

// ---------------------------------------------------------------- references and colours (references_colours.cpp)

// Replaces every "&name;" and "&#number;" in the paragraph by its byte, in
// place; returns the new length. The byte takes the cell of the ';'.
std::size_t decode_references(std::uint8_t* text, std::uint8_t* cells, std::size_t length);
// Reads a colour value ("#rrggbb" or a colour name) from `text` at `from`
// into `target` as a palette index; leaves `target` alone when the text
// holds neither '#' nor a letter from there on.
void read_colour(ColourCache& colours, std::string_view text, std::size_t from, std::uint8_t& target);

}  // namespace vellora::html_import
