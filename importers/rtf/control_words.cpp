// The 89 control words and symbols the RTF importer recognises, and what
// each does. Every other word is ignored, or starts a skipped destination
// when "\*" came right before it.
#include <array>

#include "docmodel/font_widths.h"
#include "importers/rtf/rtf_state.h"

namespace vellora::rtf_import {

namespace {

enum class WordKind : std::uint8_t {
  character,    // delivers `index` as a character
  destination,  // the rest of the group is skipped
  property,     // stores the value in the field `index`, outside skipped destinations
  special,      // the action `index`
  colour,       // the colour word `index`, in any destination
  size,         // "\fs", in any destination
  row,          // "\trowd" (index 1) and "\row" (0), in any destination
};

// The formatting-state fields that property words set. `plain` and `pard`
// are resets rather than fields.
enum class Field : std::uint8_t {
  bold, underline, italic,
  left_indent, right_indent, first_indent, alignment,
  plain, pard,
  columns, break_kind, page_number_x, page_number_y, page_number_format,
  paper_width, paper_height, left_margin, right_margin, top_margin, bottom_margin,
  first_page_number, facing_pages, landscape,
};

enum class Special : std::uint8_t { binary, skip_unknown, hex };

// One row: the name as read (letters, or the one byte of a control
// symbol), compared case-sensitively; the value a property or colour word
// takes without a parameter, or always when `is_default_forced`; the kind;
// and the character code, field, action or colour word.
struct ControlWord {
  std::string_view name;
  std::int32_t default_value = 0;
  bool is_default_forced = false;
  WordKind kind = WordKind::character;
  std::uint8_t index = 0;
};

constexpr ControlWord property(std::string_view name, Field field, std::int32_t default_value) {
  return {name, default_value, false, WordKind::property, static_cast<std::uint8_t>(field)};
}
constexpr ControlWord forced(std::string_view name, Field field, std::int32_t value) {
  return {name, value, true, WordKind::property, static_cast<std::uint8_t>(field)};
}
constexpr ControlWord character(std::string_view name, std::uint8_t code) {
  return {name, 0, false, WordKind::character, code};
}
constexpr ControlWord special(std::string_view name, Special action) {
  return {name, 0, false, WordKind::special, static_cast<std::uint8_t>(action)};
}
constexpr ControlWord destination(std::string_view name) { return {name, 0, false, WordKind::destination, 0}; }
constexpr ControlWord colour(std::string_view name, ColourWord word) {
  return {name, 0, false, WordKind::colour, static_cast<std::uint8_t>(word)};
}
constexpr ControlWord font_size(std::string_view name, std::int32_t default_half_points) {
  return {name, default_half_points, false, WordKind::size, 0};
}
constexpr ControlWord table_row(std::string_view name, bool is_row_start) {
  return {name, 0, false, WordKind::row, static_cast<std::uint8_t>(is_row_start ? 1 : 0)};
}

// The rows in their fixed order, which is not alphabetical: lookups search
// from the top and take the first row whose name matches. Names are unique,
// so no row hides another. "private1" can never match, since a word's name
// ends at its first digit; the row is kept so the table stays whole.
constexpr std::array<ControlWord, 89> kControlWords = {{
    property("b", Field::bold, 1),
    property("u", Field::underline, 1),
    property("i", Field::italic, 1),
    property("li", Field::left_indent, 0),
    property("ri", Field::right_indent, 0),
    property("fi", Field::first_indent, 0),
    property("plain", Field::plain, 0),
    property("pard", Field::pard, 0),
    property("cols", Field::columns, 1),
    forced("sbknone", Field::break_kind, 0),
    forced("sbkcol", Field::break_kind, 1),
    forced("sbkeven", Field::break_kind, 2),
    forced("sbkodd", Field::break_kind, 3),
    forced("sbkpage", Field::break_kind, 4),
    property("pgnx", Field::page_number_x, 0),
    property("pgny", Field::page_number_y, 0),
    forced("pgndec", Field::page_number_format, 0),
    forced("pgnucrm", Field::page_number_format, 1),
    forced("pgnlcrm", Field::page_number_format, 2),
    forced("pgnucltr", Field::page_number_format, 3),
    forced("pgnlcltr", Field::page_number_format, 4),
    forced("qc", Field::alignment, kAlignCentred),
    forced("ql", Field::alignment, kAlignLeft),
    forced("qr", Field::alignment, kAlignRight),
    forced("qj", Field::alignment, kAlignJustified),
    property("paperw", Field::paper_width, 12240),
    property("paperh", Field::paper_height, 15480),
    property("margl", Field::left_margin, 1800),
    property("margr", Field::right_margin, 1800),
    property("margt", Field::top_margin, 1440),
    property("margb", Field::bottom_margin, 1440),
    forced("pgnstart", Field::first_page_number, 1),
    forced("facingp", Field::facing_pages, 1),
    forced("landscape", Field::landscape, 1),
    character("par", '\n'),
    character("\n", '\n'),  // a backslash before a line end
    character("\r", '\n'),
    character("tab", '\t'),
    character("rquote", 0x92),
    character("lquote", 0x91),
    character("ldblquote", '"'),
    character("rdblquote", '"'),
    special("bin", Special::binary),
    special("*", Special::skip_unknown),
    special("'", Special::hex),
    destination("author"),
    destination("buptim"),
    destination("colortbl"),
    destination("comment"),
    destination("creatim"),
    destination("doccomm"),
    destination("fonttbl"),
    destination("footer"),
    destination("footerf"),
    destination("footerl"),
    destination("footerr"),
    destination("footnote"),
    destination("ftncn"),
    destination("ftnsep"),
    destination("ftnsepc"),
    destination("header"),
    destination("headerf"),
    destination("headerl"),
    destination("headerr"),
    destination("info"),
    destination("keywords"),
    destination("operator"),
    destination("pict"),
    destination("printim"),
    destination("private1"),
    destination("revtim"),
    destination("rxe"),
    destination("stylesheet"),
    destination("subject"),
    destination("tc"),
    destination("title"),
    destination("txe"),
    destination("xe"),
    character("{", '{'),
    character("}", '}'),
    character("\\", '\\'),
    colour("cf", ColourWord::cf),
    font_size("fs", 20),
    colour("red", ColourWord::red),
    colour("green", ColourWord::green),
    colour("blue", ColourWord::blue),
    colour("highlight", ColourWord::highlight),
    table_row("trowd", true),
    table_row("row", false),
}};

// Every row is written out (an array with fewer initialisers would pad
// itself with empty rows) and no name repeats.
constexpr bool has_unique_names() {
  for (std::size_t i = 0; i < kControlWords.size(); ++i) {
    if (kControlWords[i].name.empty()) return false;
    for (std::size_t j = i + 1; j < kControlWords.size(); ++j)
      if (kControlWords[i].name == kControlWords[j].name) return false;
  }
  return true;
}
static_assert(has_unique_names());

// The rows of each name length, in table order. A row of another length
// can never match, so scanning only these from the top finds the same
// first match as scanning the whole table, at a tenth of the cost.
constexpr std::size_t kLongestName = 10;
struct RowsOfLength {
  std::array<std::uint8_t, kControlWords.size()> rows{};
  std::size_t count = 0;
};
constexpr auto kRowsByLength = [] {
  std::array<RowsOfLength, kLongestName + 1> by_length{};
  for (std::size_t i = 0; i < kControlWords.size(); ++i) {
    RowsOfLength& same = by_length[kControlWords[i].name.size()];
    same.rows[same.count++] = static_cast<std::uint8_t>(i);
  }
  return by_length;
}();

// Whether `row` is named `name`, which has the row's length. Compared in
// line: most rows differ in their first letter, and a library call per
// row would cost more than the comparison.
bool has_name(const ControlWord& row, std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i)
    if (row.name[i] != name[i]) return false;
  return true;
}

const ControlWord* find_control_word(std::string_view name) {
  if (name.size() > kLongestName) return nullptr;
  const RowsOfLength& same = kRowsByLength[name.size()];
  for (std::size_t i = 0; i < same.count; ++i)
    if (has_name(kControlWords[same.rows[i]], name)) return &kControlWords[same.rows[i]];
  return nullptr;
}

// Sizes above 22 points are the large font; bold is applied per character
// as text is appended, so large text stays large when bold.
constexpr std::int32_t kLargestStandardPoints = 22;

void set_font_size(RtfState& state, std::int32_t half_points) {
  state.current.font = half_points / 2 > kLargestStandardPoints ? kLargeFont : kStandardFont;
}

void set_property(RtfState& state, Field field, std::int32_t value) {
  const auto low_byte = static_cast<std::uint8_t>(value);
  switch (field) {
    case Field::bold: state.character.bold = low_byte; break;
    case Field::underline: state.character.underline = low_byte; break;
    case Field::italic: state.character.italic = low_byte; break;
    case Field::left_indent: state.paragraph.left_indent_twips = value; break;
    case Field::right_indent: state.paragraph.right_indent_twips = value; break;
    case Field::first_indent: state.paragraph.first_indent_twips = value; break;
    case Field::alignment: state.paragraph.alignment = value; break;
    case Field::plain:
      state.character = CharacterProperties{};
      clear_colour_components(state);
      // The highlight is left as it is.
      state.current.colour = state.black;
      state.current.font = kStandardFont;
      state.current.kind = kCharacterCell;
      break;
    case Field::pard:
      state.paragraph = ParagraphProperties{};
      break;
    case Field::columns: state.section.columns = value; break;
    case Field::break_kind: state.section.break_kind = low_byte; break;
    case Field::page_number_x: state.section.page_number_x = value; break;
    case Field::page_number_y: state.section.page_number_y = value; break;
    case Field::page_number_format: state.section.page_number_format = low_byte; break;
    case Field::paper_width: state.document.paper_width_twips = value; break;
    case Field::paper_height: state.document.paper_height_twips = value; break;
    case Field::left_margin: state.document.left_margin_twips = value; break;
    case Field::right_margin: state.document.right_margin_twips = value; break;
    case Field::top_margin: state.document.top_margin_twips = value; break;
    case Field::bottom_margin: state.document.bottom_margin_twips = value; break;
    case Field::first_page_number: state.document.first_page_number = value; break;
    case Field::facing_pages: state.document.facing_pages = low_byte; break;
    case Field::landscape: state.document.landscape = low_byte; break;
  }
}

void run_special(RtfState& state, Special action, const std::optional<std::int32_t>& parameter) {
  switch (action) {
    case Special::binary: {
      // The count is the word's own parameter; none, or one of 0 or less,
      // leaves nothing to read raw.
      const std::int32_t count = parameter.value_or(0);
      if (count > 0) {
        state.input_state = InputState::binary;
        state.binary_count = count;
      }
      break;
    }
    case Special::skip_unknown:
      state.is_skip_unknown = true;
      break;
    case Special::hex:
      state.input_state = InputState::hex;
      break;
  }
}

}  // namespace

void dispatch(RtfState& state, const ControlWordText& word) {
  const ControlWord* row = find_control_word(word.name());
  if (row == nullptr) {
    if (state.is_skip_unknown) state.destination = Destination::skip;
    state.is_skip_unknown = false;
    return;
  }
  state.is_skip_unknown = false;
  const bool is_skipping = state.destination == Destination::skip;
  const std::int32_t value = word.parameter.value_or(row->default_value);
  switch (row->kind) {
    case WordKind::character:
      deliver(state, row->index);
      break;
    case WordKind::destination:
      state.destination = Destination::skip;
      break;
    case WordKind::property:
      if (!is_skipping)
        set_property(state, static_cast<Field>(row->index), row->is_default_forced ? row->default_value : value);
      break;
    case WordKind::special: {
      const auto action = static_cast<Special>(row->index);
      if (!is_skipping || action == Special::binary) run_special(state, action, word.parameter);
      break;
    }
    case WordKind::colour:
      apply_colour_word(state, static_cast<ColourWord>(row->index), value);
      break;
    case WordKind::size:
      set_font_size(state, value);
      break;
    case WordKind::row:
      state.is_row_suppressed = row->index != 0;
      break;
  }
}

}  // namespace vellora::rtf_import
