// Bytes written as two upper-case hex digits, and hex digits read back, for
// the escapes of file names, terminal text and settings files.
#pragma once

#include <string>

namespace vellora::posix {

inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

inline void append_hex_byte(std::string& out, unsigned char byte) {
  out += kUpperHexDigits[byte >> 4];
  out += kUpperHexDigits[byte & 0x0F];
}

// 0 to 15 for a hex digit of either case, -1 for any other character.
constexpr int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace vellora::posix
