// ASCII case rules for names, extensions and keywords. Only A to Z change
// case: bytes above 127 are characters of the handheld's character set, and
// a locale must never decide what a file or database is called.
#pragma once

#include <string>
#include <string_view>

namespace vellora {

constexpr char to_lower_ascii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

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

}  // namespace vellora
