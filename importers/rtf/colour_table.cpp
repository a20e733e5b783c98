// The RTF colour table and the words that use it. "\colortbl" lists the
// document's colours as "\redR\greenG\blueB;" entries; each entry becomes
// the nearest handheld palette index, numbered from 0 in the order listed.
// "\cf N" and "\highlight N" then colour the text with entry N.
#include "docmodel/palette.h"
#include "importers/rtf/rtf_state.h"

namespace vellora::rtf_import {

namespace {

// The colour of entry `number`; numbers outside the table fall back.
std::uint8_t table_colour(const RtfState& state, std::int32_t number, std::uint8_t otherwise) {
  if (number < 0 || number >= static_cast<std::int32_t>(kColourTableEntries)) return otherwise;
  return state.colour_table[static_cast<std::size_t>(number)];
}

}  // namespace

void reset_colours(RtfState& state) {
  state.colour_table.fill(state.black);
  state.colour_counter = 0;
}

void skip_empty_first_colour(RtfState& state) { state.colour_counter = 1; }

void clear_colour_components(RtfState& state) {
  state.red = 0;
  state.green = 0;
  state.blue = 0;
}

void apply_colour_word(RtfState& state, ColourWord word, std::int32_t value) {
  const auto component = static_cast<std::uint8_t>(value);
  switch (word) {
    case ColourWord::cf: state.group.current.colour = table_colour(state, value, state.black); break;
    case ColourWord::highlight: state.group.current.highlight = table_colour(state, value, kNoHighlight); break;
    case ColourWord::red: state.red = component; break;
    case ColourWord::green: state.green = component; break;
    case ColourWord::blue:
      // An entry is complete with its blue; an entry without one adds
      // nothing, and neither does the empty first entry (see
      // skip_empty_first_colour).
      state.blue = component;
      state.colour_table[state.colour_counter] = nearest_colour(pack_colour(state.red, state.green, state.blue));
      ++state.colour_counter;
      break;
  }
}

}  // namespace vellora::rtf_import
