// ASCII rules for names, extensions, keywords, escapes and the numbers in
// messages. Only A to Z change case and only 0 to 9 are digits: bytes above
// 127 are characters of the handheld's character set, and a locale must
// never decide what a file or database is called or what a number reads as.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vellora {

constexpr char to_lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string to_lower_ascii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = to_lower_ascii(c);
  return lower;
}

constexpr bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (to_lower_ascii(a[i]) != to_lower_ascii(b[i])) return false;
  return true;
}

// Names are a few letters long: compared in line, not by a library call.
constexpr bool is_same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

constexpr bool is_ascii_digit(int c) { return c >= '0' && c <= '9'; }

// "32,765": a count as people read it in messages, grouped by commas
// whatever the locale.
inline std::string with_thousands(std::size_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

// Appends `byte` as two hex digits, upper case unless `digits` says
// otherwise.
inline void append_hex_byte(std::string& out, unsigned char byte, const char* digits = kUpperHexDigits) {
  out += digits[byte >> 4];
  out += digits[byte & 0x0F];
}

// 0 to 15 for a hex digit of either case, -1 for any other character.
constexpr int hex_digit_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace vellora
