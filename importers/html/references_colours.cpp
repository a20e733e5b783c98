// The HTML importer's two table-driven conversions: character references
// in paragraph text become single bytes of the handheld's character set
// (when a paragraph is flushed, not while reading), and colour values in
// attribute text become palette indices.
#include <algorithm>
#include <cstring>

#include "base/ascii.h"
#include "docmodel/html_entities.h"
#include "docmodel/palette.h"
#include "importers/html/html_state.h"

namespace vellora::html_import {

namespace {

// A name that is not in the entity table.
constexpr std::uint8_t kUnknownEntityByte = 160;

// Colour names and their sRGB values (0xRRGGBB): the extended colour
// keywords of CSS, of whose "grey" spellings only "lightgrey" is here.
// Sorted for binary search.
struct ColourName {
  std::string_view name;
  std::uint32_t rgb;
};

constexpr ColourName kColourNames[] = {
    {"aliceblue", 0xF0F8FF},
    {"antiquewhite", 0xFAEBD7},
    {"aqua", 0x00FFFF},
    {"aquamarine", 0x7FFFD4},
    {"azure", 0xF0FFFF},
    {"beige", 0xF5F5DC},
    {"bisque", 0xFFE4C4},
    {"black", 0x000000},
    {"blanchedalmond", 0xFFEBCD},
    {"blue", 0x0000FF},
    {"blueviolet", 0x8A2BE2},
    {"brown", 0xA52A2A},
    {"burlywood", 0xDEB887},
    {"cadetblue", 0x5F9EA0},
    {"chartreuse", 0x7FFF00},
    {"chocolate", 0xD2691E},
    {"coral", 0xFF7F50},
    {"cornflowerblue", 0x6495ED},
    {"cornsilk", 0xFFF8DC},
    {"crimson", 0xDC143C},
    {"cyan", 0x00FFFF},
    {"darkblue", 0x00008B},
    {"darkcyan", 0x008B8B},
    {"darkgoldenrod", 0xB8860B},
    {"darkgray", 0xA9A9A9},
    {"darkgreen", 0x006400},
    {"darkkhaki", 0xBDB76B},
    {"darkmagenta", 0x8B008B},
    {"darkolivegreen", 0x556B2F},
    {"darkorange", 0xFF8C00},
    {"darkorchid", 0x9932CC},
    {"darkred", 0x8B0000},
    {"darksalmon", 0xE9967A},
    {"darkseagreen", 0x8FBC8F},
    {"darkslateblue", 0x483D8B},
    {"darkslategray", 0x2F4F4F},
    {"darkturquoise", 0x00CED1},
    {"darkviolet", 0x9400D3},
    {"deeppink", 0xFF1493},
    {"deepskyblue", 0x00BFFF},
    {"dimgray", 0x696969},
    {"dodgerblue", 0x1E90FF},
    {"firebrick", 0xB22222},
    {"floralwhite", 0xFFFAF0},
    {"forestgreen", 0x228B22},
    {"fuchsia", 0xFF00FF},
    {"gainsboro", 0xDCDCDC},
    {"ghostwhite", 0xF8F8FF},
    {"gold", 0xFFD700},
    {"goldenrod", 0xDAA520},
    {"gray", 0x808080},
    {"green", 0x008000},
    {"greenyellow", 0xADFF2F},
    {"honeydew", 0xF0FFF0},
    {"hotpink", 0xFF69B4},
    {"indianred", 0xCD5C5C},
    {"indigo", 0x4B0082},
    {"ivory", 0xFFFFF0},
    {"khaki", 0xF0E68C},
    {"lavender", 0xE6E6FA},
    {"lavenderblush", 0xFFF0F5},
    {"lawngreen", 0x7CFC00},
    {"lemonchiffon", 0xFFFACD},
    {"lightblue", 0xADD8E6},
    {"lightcoral", 0xF08080},
    {"lightcyan", 0xE0FFFF},
    {"lightgoldenrodyellow", 0xFAFAD2},
    {"lightgreen", 0x90EE90},
    {"lightgrey", 0xD3D3D3},
    {"lightpink", 0xFFB6C1},
    {"lightsalmon", 0xFFA07A},
    {"lightseagreen", 0x20B2AA},
    {"lightskyblue", 0x87CEFA},
    {"lightslategray", 0x778899},
    {"lightsteelblue", 0xB0C4DE},
    {"lightyellow", 0xFFFFE0},
    {"lime", 0x00FF00},
    {"limegreen", 0x32CD32},
    {"linen", 0xFAF0E6},
    {"magenta", 0xFF00FF},
    {"maroon", 0x800000},
    {"mediumaquamarine", 0x66CDAA},
    {"mediumblue", 0x0000CD},
    {"mediumorchid", 0xBA55D3},
    {"mediumpurple", 0x9370DB},
    {"mediumseagreen", 0x3CB371},
    {"mediumslateblue", 0x7B68EE},
    {"mediumspringgreen", 0x00FA9A},
    {"mediumturquoise", 0x48D1CC},
    {"mediumvioletred", 0xC71585},
    {"midnightblue", 0x191970},
    {"mintcream", 0xF5FFFA},
    {"mistyrose", 0xFFE4E1},
    {"moccasin", 0xFFE4B5},
    {"navajowhite", 0xFFDEAD},
    {"navy", 0x000080},
    {"oldlace", 0xFDF5E6},
    {"olive", 0x808000},
    {"olivedrab", 0x6B8E23},
    {"orange", 0xFFA500},
    {"orangered", 0xFF4500},
    {"orchid", 0xDA70D6},
    {"palegoldenrod", 0xEEE8AA},
    {"palegreen", 0x98FB98},
    {"paleturquoise", 0xAFEEEE},
    {"palevioletred", 0xDB7093},
    {"papayawhip", 0xFFEFD5},
    {"peachpuff", 0xFFDAB9},
    {"peru", 0xCD853F},
    {"pink", 0xFFC0CB},
    {"plum", 0xDDA0DD},
    {"powderblue", 0xB0E0E6},
    {"purple", 0x800080},
    {"red", 0xFF0000},
    {"rosybrown", 0xBC8F8F},
    {"royalblue", 0x4169E1},
    {"saddlebrown", 0x8B4513},
    {"salmon", 0xFA8072},
    {"sandybrown", 0xF4A460},
    {"seagreen", 0x2E8B57},
    {"seashell", 0xFFF5EE},
    {"sienna", 0xA0522D},
    {"silver", 0xC0C0C0},
    {"skyblue", 0x87CEEB},
    {"slateblue", 0x6A5ACD},
    {"slategray", 0x708090},
    {"snow", 0xFFFAFA},
    {"springgreen", 0x00FF7F},
    {"steelblue", 0x4682B4},
    {"tan", 0xD2B48C},
    {"teal", 0x008080},
    {"thistle", 0xD8BFD8},
    {"tomato", 0xFF6347},
    {"turquoise", 0x40E0D0},
    {"violet", 0xEE82EE},
    {"wheat", 0xF5DEB3},
    {"white", 0xFFFFFF},
    {"whitesmoke", 0xF5F5F5},
    {"yellow", 0xFFFF00},
    {"yellowgreen", 0x9ACD32},
};
static_assert(std::size(kColourNames) == 140);
static_assert(std::is_sorted(std::begin(kColourNames), std::end(kColourNames),
                             [](const ColourName& a, const ColourName& b) { return a.name < b.name; }));

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// The blanks that may lead a decimal number.
bool is_blank(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A name that is not in the table is black.
std::uint32_t named_colour(std::string_view name) {
  const auto* found = std::lower_bound(std::begin(kColourNames), std::end(kColourNames), name,
                                       [](const ColourName& entry, std::string_view n) { return entry.name < n; });
  if (found == std::end(kColourNames) || found->name != name) return 0;
  return pack_colour(static_cast<std::uint8_t>(found->rgb >> 16), static_cast<std::uint8_t>(found->rgb >> 8),
                     static_cast<std::uint8_t>(found->rgb));
}

// The six characters after '#' as three hex pairs, unchecked: '0' to '9'
// are 0 to 9 and any other byte k is k - 87 (so 'a' to 'f' are 10 to 15),
// in 8-bit arithmetic; positions past the end read as the byte 0.
std::uint32_t hex_colour(std::string_view text, std::size_t hash) {
  const auto digit = [&](std::size_t at) {
    const std::uint8_t k = at < text.size() ? static_cast<std::uint8_t>(text[at]) : 0;
    return static_cast<std::uint8_t>(is_ascii_digit(k) ? k - '0' : k - 87);
  };
  const auto pair = [&](std::size_t at) { return static_cast<std::uint8_t>(16 * digit(at) + digit(at + 1)); };
  return pack_colour(pair(hash + 1), pair(hash + 3), pair(hash + 5));
}

// "&#number;": leading blanks and a sign allowed, digits up to the first
// other character, taken modulo 256 as they come so no number overflows.
std::uint8_t decimal_reference(std::string_view digits) {
  std::size_t i = 0;
  while (i < digits.size() && is_blank(static_cast<std::uint8_t>(digits[i]))) ++i;
  bool is_negative = false;
  if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) is_negative = digits[i++] == '-';
  unsigned value = 0;
  for (; i < digits.size() && is_ascii_digit(static_cast<std::uint8_t>(digits[i])); ++i)
    value = (value * 10 + static_cast<unsigned>(digits[i] - '0')) % 256;
  return static_cast<std::uint8_t>(is_negative ? 256 - value : value);
}

// The text between '&' and ';'. Names compare as C strings, up to a NUL.
std::uint8_t reference_byte(std::string_view reference) {
  reference = reference.substr(0, reference.find('\0'));
  if (!reference.empty() && reference.front() == '#') return decimal_reference(reference.substr(1));
  return find_html_entity(reference).value_or(kUnknownEntityByte);
}

}  // namespace

std::size_t decode_references(std::uint8_t* text, std::uint8_t* cells, std::size_t length) {
  // Where the next ';' and the next space are, found once per stretch so a
  // paragraph full of '&' costs no more than one without.
  std::size_t semicolon = 0;
  std::size_t space = 0;
  const auto next = [&](std::size_t from, std::uint8_t byte) {
    const void* at = std::memchr(text + from, byte, length - from);
    return at != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - text) : length;
  };
  // Up to the first '&' nothing moves; after it, the stretches between
  // references move down whole.
  std::size_t i = next(0, '&');
  std::size_t kept = i;
  while (i < length) {
    if (semicolon <= i) semicolon = next(i + 1, ';');
    if (space <= i) space = next(i + 1, ' ');
    // An '&' with no ';' after it, or with a space before the ';', is an
    // ordinary character and moves with the stretch after it.
    std::size_t stretch = i;
    if (semicolon < length && space > semicolon) {
      const std::string_view reference(reinterpret_cast<const char*>(text + i + 1), semicolon - i - 1);
      text[kept] = reference_byte(reference);
      copy_cell(cell_at(cells, kept), cell_at(cells, semicolon));
      ++kept;
      stretch = semicolon + 1;
    }
    i = next(stretch == i ? i + 1 : stretch, '&');
    move_characters(text, cells, stretch, i - stretch, text, cells, kept);
    kept += i - stretch;
  }
  return kept;
}

std::uint8_t ColourCache::nearest(std::uint32_t packed) {
  const std::uint32_t key = packed | 0xFF;
  // Multiplicative hashing: the top six bits of the product pick the slot.
  static_assert(kSlots == std::size_t{1} << 6);
  const std::size_t slot = static_cast<std::uint32_t>((key >> 8) * 0x9E3779B1u) >> 26;
  if (colours_[slot] != key) {
    colours_[slot] = key;
    indices_[slot] = nearest_colour(packed);
  }
  return indices_[slot];
}

void read_colour(ColourCache& colours, std::string_view text, std::size_t from, std::uint8_t& target) {
  std::size_t at = from;
  while (at < text.size() && text[at] != '#' && !is_ascii_letter(text[at])) ++at;
  if (at >= text.size()) return;
  if (text[at] == '#') {
    target = colours.nearest(hex_colour(text, at));
    return;
  }
  std::size_t end = at;
  while (end < text.size() && is_ascii_letter(text[end])) ++end;
  target = colours.nearest(named_colour(text.substr(at, end - at)));
}

}  // namespace vellora::html_import
