// The 42 tags the HTML importer acts on. Each handler runs right after the
// reader has read the tag's name; it may end the paragraph, record the tag
// so that its closing tag restores the style state, read the tag's
// attribute text and change the style state, or write a rule. Attribute
// keys are found by plain substring search in the lower-cased attribute
// text, so a key inside another word counts ("vlink" holds "link").
#include <algorithm>
#include <optional>

#include "base/ascii.h"
#include "importers/html/html_state.h"

namespace vellora::html_import {

namespace {

constexpr int kMinFontSize = 1;
constexpr int kMaxFontSize = 7;
constexpr std::uint8_t kHeadingFontSize = 6;  // h1 to h3
constexpr std::uint8_t kBodyFontSize = 3;     // h4 to h6
constexpr std::size_t kMaxNumberDigits = 6;

// Rule thickness units.
constexpr std::int32_t kCellRule = 1;   // between table cells and after a caption
constexpr std::int32_t kBlockRule = 2;  // hr, top and bottom of a bordered table
constexpr std::int32_t kTitleRule = 3;  // under the title

// Where a key's value starts: `gap` characters after the key's first
// occurrence; none without the key.
std::optional<std::size_t> value_after(std::string_view text, std::string_view key, std::size_t gap = 0) {
  const std::size_t at = text.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  return at + key.size() + gap;
}

struct Number {
  int value = 0;
  int sign = 0;  // the last '+' (1) or '-' (-1) passed over, or 0
};

// Passes over non-digits from `from`, then reads at most six digits; no
// digits read as 0.
Number read_number(std::string_view text, std::size_t from) {
  Number number;
  std::size_t i = from;
  for (; i < text.size() && !is_ascii_digit(text[i]); ++i) {
    if (text[i] == '+') number.sign = 1;
    if (text[i] == '-') number.sign = -1;
  }
  for (std::size_t digits = 0; digits < kMaxNumberDigits && i < text.size() && is_ascii_digit(text[i]); ++digits, ++i)
    number.value = number.value * 10 + (text[i] - '0');
  return number;
}

std::uint8_t clamp_font_size(int size) {
  return static_cast<std::uint8_t>(std::clamp(size, kMinFontSize, kMaxFontSize));
}

// Sizes 5 to 7 are the large font, even over bold; smaller sizes are the
// standard font unless the text is bold.
void apply_size_to_font(StyleState& style) {
  if (style.font_size >= 1 && style.font_size <= 4) {
    if (style.current.font != kBoldFont) style.current.font = kStandardFont;
  } else if (style.font_size >= 5 && style.font_size <= 7) {
    style.current.font = kLargeFont;
  }
}

// The tag's own attribute text, read only when the name left some.
bool read_attributes(HtmlState& state, bool is_closed, AttributeText& attributes) {
  if (is_closed) return false;
  read_attribute_text(state.input, attributes);
  return true;
}

// The align attribute of p and h1 to h6. The words are looked for in the
// whole attribute text, in this order, so "class=left align=right" is
// left-aligned.
std::int32_t read_alignment(HtmlState& state, bool is_closed) {
  AttributeText attributes;
  if (!read_attributes(state, is_closed, attributes)) return state.style.alignment;
  const std::string_view text = attributes.text();
  if (text.find("align") == std::string_view::npos) return state.style.alignment;
  if (text.find("center") != std::string_view::npos) return kAlignCentred;
  if (text.find("left") != std::string_view::npos) return kAlignLeft;
  if (text.find("right") != std::string_view::npos) return kAlignRight;
  if (text.find("justify") != std::string_view::npos) return kAlignJustified;
  return state.style.alignment;
}

void read_ahead(HtmlState& state, bool stops_at_title);

// ---------------------------------------------------------------- document

void handle_head(HtmlState& state, std::size_t, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  read_ahead(state, true);
}

void handle_title(HtmlState& state, std::size_t, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  read_title(state);
  state.style.alignment = kAlignCentred;
  flush(state);
  state.style.alignment = kAlignLeft;
  emit_rule(state, state.style.current.colour, kTitleRule);
  read_ahead(state, false);
}

void handle_body(HtmlState& state, std::size_t, bool is_closed) {
  AttributeText attributes;
  if (!read_attributes(state, is_closed, attributes)) return;
  const std::string_view text = attributes.text();
  StyleState& style = state.style;
  if (const auto at = value_after(text, "bgcolor")) read_colour(state.colours, text, *at, style.background);
  if (const auto at = value_after(text, "text")) read_colour(state.colours, text, *at, style.text_colour);
  if (const auto at = value_after(text, "link")) read_colour(state.colours, text, *at, style.link_colour);
  style.current.colour = style.text_colour;
}

void handle_hr(HtmlState& state, std::size_t, bool is_closed) {
  flush(state);
  std::uint8_t colour = state.style.current.colour;
  AttributeText attributes;
  if (read_attributes(state, is_closed, attributes)) {
    const std::string_view text = attributes.text();
    if (const auto at = value_after(text, "color")) read_colour(state.colours, text, *at, colour);
  }
  emit_rule(state, colour, kBlockRule);
}

void handle_br(HtmlState& state, std::size_t, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  flush(state);
}

// ---------------------------------------------------------------- blocks

void handle_large_heading(HtmlState& state, std::size_t tag, bool is_closed) {
  flush(state);
  record(state, tag, true);
  state.style.alignment = read_alignment(state, is_closed);
  state.style.font_size = kHeadingFontSize;
  state.style.current.font = kLargeFont;
}

void handle_small_heading(HtmlState& state, std::size_t tag, bool is_closed) {
  flush(state);
  record(state, tag, true);
  state.style.alignment = read_alignment(state, is_closed);
  state.style.font_size = kBodyFontSize;
  if (state.style.current.font != kBoldFont) state.style.current.font = kStandardFont;
}

void handle_p(HtmlState& state, std::size_t tag, bool is_closed) {
  flush(state);
  record(state, tag, true);
  state.style.alignment = read_alignment(state, is_closed);
}

// address starts a block and changes nothing else.
void handle_address(HtmlState& state, std::size_t tag, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  flush(state);
  record(state, tag, true);
}

void handle_div(HtmlState& state, std::size_t tag, bool is_closed) {
  handle_address(state, tag, is_closed);
  state.style.alignment = kAlignLeft;
}

// blockquote and center.
void handle_centred(HtmlState& state, std::size_t tag, bool is_closed) {
  handle_address(state, tag, is_closed);
  state.style.alignment = kAlignCentred;
}

// xmp and pre.
void handle_preformatted(HtmlState& state, std::size_t tag, bool is_closed) {
  handle_address(state, tag, is_closed);
  state.style.alignment = kAlignLeft;
  state.style.is_preformatted = true;
}

// form, script and noscript: their text is dropped until they close.
void handle_hidden(HtmlState& state, std::size_t tag, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  flush(state);
  record(state, tag, false);
  state.style.is_visible = false;
}

// ---------------------------------------------------------------- lists

void handle_dl(HtmlState& state, std::size_t tag, bool is_closed) {
  handle_address(state, tag, is_closed);
  ++state.style.list_depth;
}

// ul, menu and dir.
void handle_bulleted_list(HtmlState& state, std::size_t tag, bool is_closed) {
  handle_dl(state, tag, is_closed);
  state.style.list_kind = kBulletedList;
}

void handle_ol(HtmlState& state, std::size_t tag, bool is_closed) {
  flush(state);
  record(state, tag, true);
  state.style.list_counter = 1;
  AttributeText attributes;
  if (read_attributes(state, is_closed, attributes)) {
    const std::string_view text = attributes.text();
    if (const auto at = value_after(text, "start", 1))
      state.style.list_counter = static_cast<std::uint16_t>(read_number(text, *at).value);
  }
  ++state.style.list_depth;
  state.style.list_kind = kNumberedList;
}

// li, dt and dd end the paragraph but are not recorded: their closing tags
// do nothing.
void handle_li(HtmlState& state, std::size_t, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  flush(state);
}

void handle_dt(HtmlState& state, std::size_t tag, bool is_closed) {
  handle_li(state, tag, is_closed);
  state.style.list_kind = kListTerm;
}

void handle_dd(HtmlState& state, std::size_t tag, bool is_closed) {
  handle_li(state, tag, is_closed);
  state.style.list_kind = kListDefinition;
}

// ---------------------------------------------------------------- text style

// b and strong; large text stays large.
void handle_bold(HtmlState& state, std::size_t tag, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  record(state, tag, false);
  if (state.style.current.font != kLargeFont) state.style.current.font = kBoldFont;
}

void handle_a(HtmlState& state, std::size_t tag, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  record(state, tag, false);
  state.style.current.colour = state.style.link_colour;
}

void handle_small(HtmlState& state, std::size_t tag, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  record(state, tag, false);
  const std::uint8_t base = state.style.base_font_size;
  state.style.font_size = base > 2 ? static_cast<std::uint8_t>(base - 2) : base;
  apply_size_to_font(state.style);
}

void handle_big(HtmlState& state, std::size_t tag, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  record(state, tag, false);
  const std::uint8_t base = state.style.base_font_size;
  state.style.font_size = base < 6 ? static_cast<std::uint8_t>(base + 2) : base;
  apply_size_to_font(state.style);
}

// A size with '+' or '-' is relative to the current size.
void handle_font(HtmlState& state, std::size_t tag, bool is_closed) {
  record(state, tag, false);
  StyleState& style = state.style;
  AttributeText attributes;
  if (read_attributes(state, is_closed, attributes)) {
    const std::string_view text = attributes.text();
    if (const auto at = value_after(text, "size", 1)) {
      const Number size = read_number(text, *at);
      style.font_size = clamp_font_size(size.sign == 0 ? size.value : style.font_size + size.sign * size.value);
    }
    if (const auto at = value_after(text, "color")) read_colour(state.colours, text, *at, style.current.colour);
  }
  apply_size_to_font(style);
}

// Not recorded: the base size and text colour hold until another basefont.
// Its size is absolute; a sign is passed over.
void handle_basefont(HtmlState& state, std::size_t, bool is_closed) {
  AttributeText attributes;
  if (!read_attributes(state, is_closed, attributes)) return;
  const std::string_view text = attributes.text();
  StyleState& style = state.style;
  if (const auto at = value_after(text, "size", 1)) {
    style.font_size = style.base_font_size = clamp_font_size(read_number(text, *at).value);
    apply_size_to_font(style);
  }
  if (const auto at = value_after(text, "color")) {
    read_colour(state.colours, text, *at, style.text_colour);
    style.current.colour = style.text_colour;
  }
}

// ---------------------------------------------------------------- tables
// Every cell becomes paragraphs of its own; rows are not marked. In a
// bordered table rules separate the cells.

void handle_table(HtmlState& state, std::size_t tag, bool is_closed) {
  flush(state);
  record_keeping_block(state, tag);
  StyleState& style = state.style;
  style.is_table_start = true;
  AttributeText attributes;
  if (!read_attributes(state, is_closed, attributes)) {
    style.border_mode = kBorderlessTable;
    style.alignment = kAlignLeft;
    return;
  }
  const std::string_view text = attributes.text();
  const auto border = value_after(text, "border");
  style.border_mode = border && read_number(text, *border).value != 0 ? kBorderedTable : kBorderlessTable;
  style.border_colour = style.current.colour;
  if (const auto at = value_after(text, "bordercolor")) read_colour(state.colours, text, *at, style.border_colour);
  if (style.border_mode == kBorderedTable) emit_rule(state, style.border_colour, kBlockRule);
  style.alignment = kAlignLeft;
}

// The first cell after a table tag neither flushes nor draws a rule.
void end_cell(HtmlState& state, bool is_closed) {
  skip_rest_of_tag(state.input, is_closed);
  StyleState& style = state.style;
  if (!style.is_table_start && style.border_mode == kBorderedTable)
    emit_rule(state, style.border_colour, kCellRule);
  else
    style.is_table_start = false;
}

void handle_td(HtmlState& state, std::size_t, bool is_closed) {
  if (!state.style.is_table_start) flush(state);
  end_cell(state, is_closed);
}

// A header cell is bold, large text included, until its closing tag.
void handle_th(HtmlState& state, std::size_t tag, bool is_closed) {
  if (!state.style.is_table_start) flush(state);
  record_keeping_block(state, tag);
  state.style.current.font = kBoldFont;
  end_cell(state, is_closed);
}

void handle_caption(HtmlState& state, std::size_t tag, bool is_closed) {
  flush(state);
  skip_rest_of_tag(state.input, is_closed);
  record(state, tag, false);
  state.style.alignment = kAlignCentred;
}

// The reader then closes the caption entry.
void handle_caption_end(HtmlState& state, std::size_t, bool is_closed) {
  flush(state);
  end_cell(state, is_closed);
}

// The reader then closes the table entry, which restores an enclosing
// table's border and table-start flag.
void handle_table_end(HtmlState& state, std::size_t, bool is_closed) {
  flush(state);
  if (state.style.border_mode == kBorderedTable) emit_rule(state, state.style.border_colour, kBlockRule);
  skip_rest_of_tag(state.input, is_closed);
}

// ---------------------------------------------------------------- the table

using TagHandler = void (*)(HtmlState& state, std::size_t tag, bool is_closed);

// Lower-case tag name and what the reader does right after reading it.
// Sorted, so the names that start with one byte are neighbours
// (kTagRowsByFirstByte); a name not here only has its rest skipped.
struct TagEntry {
  std::string_view name;
  TagHandler handle;
};

constexpr TagEntry kTags[] = {
    {"/caption", handle_caption_end},
    {"/table", handle_table_end},
    {"a", handle_a},
    {"address", handle_address},
    {"b", handle_bold},
    {"basefont", handle_basefont},
    {"big", handle_big},
    {"blockquote", handle_centred},
    {"body", handle_body},
    {"br", handle_br},
    {"caption", handle_caption},
    {"center", handle_centred},
    {"dd", handle_dd},
    {"dir", handle_bulleted_list},
    {"div", handle_div},
    {"dl", handle_dl},
    {"dt", handle_dt},
    {"font", handle_font},
    {"form", handle_hidden},
    {"h1", handle_large_heading},
    {"h2", handle_large_heading},
    {"h3", handle_large_heading},
    {"h4", handle_small_heading},
    {"h5", handle_small_heading},
    {"h6", handle_small_heading},
    {"head", handle_head},
    {"hr", handle_hr},
    {"li", handle_li},
    {"menu", handle_bulleted_list},
    {"noscript", handle_hidden},
    {"ol", handle_ol},
    {"p", handle_p},
    {"pre", handle_preformatted},
    {"script", handle_hidden},
    {"small", handle_small},
    {"strong", handle_bold},
    {"table", handle_table},
    {"td", handle_td},
    {"th", handle_th},
    {"title", handle_title},
    {"ul", handle_bulleted_list},
    {"xmp", handle_preformatted},
};
static_assert(std::size(kTags) == kTagCount);
static_assert(std::is_sorted(std::begin(kTags), std::end(kTags),
                             [](const TagEntry& a, const TagEntry& b) { return a.name < b.name; }));

// The rows whose names start with one byte: [first, first + count) of the
// sorted table, empty for a byte no name starts with. A tag is looked up
// among these few rows only.
struct TagRows {
  std::uint8_t first = 0;
  std::uint8_t count = 0;
};
constexpr auto kTagRowsByFirstByte = [] {
  std::array<TagRows, 256> by_byte{};
  for (std::size_t row = 0; row < std::size(kTags); ++row) {
    TagRows& rows = by_byte[static_cast<std::uint8_t>(kTags[row].name.front())];
    if (rows.count == 0) rows.first = static_cast<std::uint8_t>(row);
    ++rows.count;
  }
  return by_byte;
}();

constexpr std::size_t tag_index(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kTags); ++i)
    if (kTags[i].name == name) return i;
  return std::size(kTags);
}

// Drops everything up to a body tag, or from the head a title tag, and
// runs that tag's handler; the end of input ends the search.
void read_ahead(HtmlState& state, bool stops_at_title) {
  TagName name;
  while (skip_past_tag_open(state.input)) {
    read_tag_name(state.input, name);
    const std::string_view text = name.text();
    if (text.empty()) return;
    if (stops_at_title && equals_ignoring_case(text, "title")) {
      handle_title(state, tag_index("title"), name.is_closed);
      return;
    }
    if (equals_ignoring_case(text, "body")) {
      handle_body(state, tag_index("body"), name.is_closed);
      return;
    }
  }
}

}  // namespace

std::size_t find_tag(std::string_view lowered) {
  if (lowered.empty()) return kTagCount;
  const TagRows rows = kTagRowsByFirstByte[static_cast<std::uint8_t>(lowered.front())];
  for (std::size_t row = rows.first; row < rows.first + rows.count; ++row)
    if (is_same_name(kTags[row].name, lowered)) return row;
  return kTagCount;
}

void handle_tag(HtmlState& state, std::size_t tag, bool is_closed) { kTags[tag].handle(state, tag, is_closed); }

}  // namespace vellora::html_import
