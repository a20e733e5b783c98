// The 89 control words and symbols the RTF importer recognises, and what
// each does. Every other word is ignored, or starts a skipped destination
// when "\*" came right before it.
#include <algorithm>
#include <array>

#include "base/ascii.h"
#include "docmodel/font_widths.h"
#include "importers/rtf/rtf_state.h"

namespace vellora::rtf_import {

namespace {

enum class WordKind : std::uint8_t {
  character,    // delivers `index` as a character
  destination,  // the rest of the group is skipped
  property,     // sets the field `index`, outside skipped destinations
  special,      // the action `index`
  colour,       // the colour word `index`, in any destination
  size,         // "\fs", in any destination
  row,          // "\trowd" (index 1) and "\row" (0), in any destination
  // Recognised, its parameter read, and nothing kept: a property that does
  // not reach the handheld. Unlike an unknown word it never starts a
  // skipped destination after "\*".
  ignored,
};

// The group-state fields that property words set. `plain` and `pard` are
// resets rather than fields.
enum class Field : std::uint8_t { bold, left_indent, alignment, plain, pard };

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
constexpr ControlWord ignored(std::string_view name) { return {name, 0, false, WordKind::ignored, 0}; }

// Sorted by name, so a check below proves that no name repeats; the
// reader finds a word through its hash slot (kWordSlots). A word matches
// only the row of exactly its name, never a prefix, so the row found is
// the only one that could match. "private1" can never match, since a
// word's name ends at its first digit; the row is kept so the table
// stays whole.
constexpr std::array<ControlWord, 89> kControlWords = {{
    character("\n", '\n'),  // a backslash before a line end
    character("\r", '\n'),
    special("'", Special::hex),
    special("*", Special::skip_unknown),
    character("\\", '\\'),
    destination("author"),
    property("b", Field::bold, 1),
    special("bin", Special::binary),
    colour("blue", ColourWord::blue),
    destination("buptim"),
    colour("cf", ColourWord::cf),
    destination("colortbl"),
    ignored("cols"),
    destination("comment"),
    destination("creatim"),
    destination("doccomm"),
    ignored("facingp"),
    ignored("fi"),
    destination("fonttbl"),
    destination("footer"),
    destination("footerf"),
    destination("footerl"),
    destination("footerr"),
    destination("footnote"),
    font_size("fs", 20),
    destination("ftncn"),
    destination("ftnsep"),
    destination("ftnsepc"),
    colour("green", ColourWord::green),
    destination("header"),
    destination("headerf"),
    destination("headerl"),
    destination("headerr"),
    colour("highlight", ColourWord::highlight),
    ignored("i"),
    destination("info"),
    destination("keywords"),
    ignored("landscape"),
    character("ldblquote", '"'),
    property("li", Field::left_indent, 0),
    character("lquote", 0x91),
    ignored("margb"),
    ignored("margl"),
    ignored("margr"),
    ignored("margt"),
    destination("operator"),
    ignored("paperh"),
    ignored("paperw"),
    character("par", '\n'),
    property("pard", Field::pard, 0),
    ignored("pgndec"),
    ignored("pgnlcltr"),
    ignored("pgnlcrm"),
    ignored("pgnstart"),
    ignored("pgnucltr"),
    ignored("pgnucrm"),
    ignored("pgnx"),
    ignored("pgny"),
    destination("pict"),
    property("plain", Field::plain, 0),
    destination("printim"),
    destination("private1"),
    forced("qc", Field::alignment, kAlignCentred),
    forced("qj", Field::alignment, kAlignJustified),
    forced("ql", Field::alignment, kAlignLeft),
    forced("qr", Field::alignment, kAlignRight),
    character("rdblquote", '"'),
    colour("red", ColourWord::red),
    destination("revtim"),
    ignored("ri"),
    table_row("row", false),
    character("rquote", 0x92),
    destination("rxe"),
    ignored("sbkcol"),
    ignored("sbkeven"),
    ignored("sbknone"),
    ignored("sbkodd"),
    ignored("sbkpage"),
    destination("stylesheet"),
    destination("subject"),
    character("tab", '\t'),
    destination("tc"),
    destination("title"),
    table_row("trowd", true),
    destination("txe"),
    ignored("u"),
    destination("xe"),
    character("{", '{'),
    character("}", '}'),
}};

// Names strictly increasing: sorted, and none repeats. The first being
// named also shows every row is written out: an array with fewer
// initialisers pads itself with empty rows, which would sort first.
constexpr bool is_strictly_sorted() {
  if (kControlWords.front().name.empty()) return false;
  for (std::size_t i = 1; i < kControlWords.size(); ++i)
    if (!(kControlWords[i - 1].name < kControlWords[i].name)) return false;
  return true;
}
static_assert(is_strictly_sorted());

// Words are looked up in a hash table of the rows, built at compile time:
// every word of a document is looked up, and most are not in the table.
constexpr std::size_t kWordSlotCount = 256;

constexpr std::size_t word_slot(std::string_view name) {
  std::uint32_t hash = static_cast<std::uint32_t>(name.size());
  for (const char c : name) hash = hash * 33 + static_cast<unsigned char>(c);
  return (hash ^ (hash >> 8)) % kWordSlotCount;
}

// Each slot holds a row's index plus one, or 0 when empty; a row whose
// slot is taken goes to the next free one.
struct WordSlots {
  std::array<std::uint8_t, kWordSlotCount> row_plus_one{};
  std::size_t longest_probe = 0;
};

constexpr WordSlots make_word_slots() {
  WordSlots slots;
  for (std::size_t row = 0; row < kControlWords.size(); ++row) {
    const std::size_t home = word_slot(kControlWords[row].name);
    std::size_t probe = 0;
    while (slots.row_plus_one[(home + probe) % kWordSlotCount] != 0) ++probe;
    slots.row_plus_one[(home + probe) % kWordSlotCount] = static_cast<std::uint8_t>(row + 1);
    slots.longest_probe = std::max(slots.longest_probe, probe);
  }
  return slots;
}
constexpr WordSlots kWordSlots = make_word_slots();
// Well spread: a known word is found at its slot or the one after.
static_assert(kWordSlots.longest_probe <= 1);

const ControlWord* find_control_word(std::string_view name) {
  for (std::size_t slot = word_slot(name);; slot = (slot + 1) % kWordSlotCount) {
    const std::uint8_t row_plus_one = kWordSlots.row_plus_one[slot];
    if (row_plus_one == 0) return nullptr;
    const ControlWord& row = kControlWords[row_plus_one - 1];
    if (is_same_name(row.name, name)) return &row;
  }
}

// Sizes above 22 points are the large font; bold is applied per character
// as text is appended, so large text stays large when bold.
constexpr std::int32_t kLargestStandardPoints = 22;

void set_font_size(RtfState& state, std::int32_t half_points) {
  state.group.current.font = half_points / 2 > kLargestStandardPoints ? kLargeFont : kStandardFont;
}

void set_property(RtfState& state, Field field, std::int32_t value) {
  switch (field) {
    // Only the low byte counts: "\b256" is not bold.
    case Field::bold: state.group.is_bold = static_cast<std::uint8_t>(value) != 0; break;
    case Field::left_indent: state.group.paragraph.left_indent_twips = value; break;
    case Field::alignment: state.group.paragraph.alignment = value; break;
    case Field::plain:
      state.group.is_bold = false;
      clear_colour_components(state);
      // The highlight is left as it is.
      state.group.current.colour = state.black;
      state.group.current.font = kStandardFont;
      state.group.current.kind = kCharacterCell;
      break;
    case Field::pard: state.group.paragraph = ParagraphProperties{}; break;
  }
}

void run_special(RtfState& state, Special action, const std::optional<std::int32_t>& parameter) {
  switch (action) {
    case Special::binary: {
      // The count is the word's own parameter; none, or one of 0 or less,
      // leaves nothing to read raw.
      const std::int32_t count = parameter.value_or(0);
      if (count > 0) {
        state.group.input_state = InputState::binary;
        state.binary_count = count;
      }
      break;
    }
    case Special::skip_unknown: state.is_skip_unknown = true; break;
    case Special::hex: state.group.input_state = InputState::hex; break;
  }
}

}  // namespace

void dispatch(RtfState& state, const ControlWordText& word) {
  const ControlWord* row = find_control_word(word.name());
  if (row == nullptr) {
    if (state.is_skip_unknown) state.group.destination = Destination::skip;
    state.is_skip_unknown = false;
    return;
  }
  state.is_skip_unknown = false;
  const bool is_skipping = state.group.destination == Destination::skip;
  const std::int32_t value = word.parameter.value_or(row->default_value);
  switch (row->kind) {
    case WordKind::character: deliver(state, row->index); break;
    case WordKind::destination: state.group.destination = Destination::skip; break;
    case WordKind::property:
      if (!is_skipping)
        set_property(state, static_cast<Field>(row->index), row->is_default_forced ? row->default_value : value);
      break;
    case WordKind::special: {
      const auto action = static_cast<Special>(row->index);
      if (!is_skipping || action == Special::binary) run_special(state, action, word.parameter);
      break;
    }
    case WordKind::colour: apply_colour_word(state, static_cast<ColourWord>(row->index), value); break;
    case WordKind::size: set_font_size(state, value); break;
    case WordKind::row: state.is_row_suppressed = row->index != 0; break;
    case WordKind::ignored: break;
  }
}

}  // namespace vellora::rtf_import
