#include "tests/support/bytes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vellora::testing {

namespace {
std::string hex_window(std::span<const std::uint8_t> bytes, std::size_t at) {
  const std::size_t from = at >= 8 ? at - 8 : 0;
  const std::size_t to = std::min(bytes.size(), at + 8);
  std::string text;
  char cell[8];
  for (std::size_t i = from; i < to; ++i) {
    std::snprintf(cell, sizeof cell, i == at ? "[%02X]" : " %02X ", bytes[i]);
    text += cell;
  }
  return text;
}
}  // namespace

::testing::AssertionResult BytesEqual(std::span<const std::uint8_t> got, std::span<const std::uint8_t> want) {
  const std::size_t common = std::min(got.size(), want.size());
  std::size_t at = 0;
  while (at < common && got[at] == want[at]) ++at;
  if (at == common && got.size() == want.size()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "first difference at offset " << at << " (got " << got.size()
                                       << " bytes, want " << want.size() << ")\n  got:  " << hex_window(got, at)
                                       << "\n  want: " << hex_window(want, at);
}

std::vector<std::uint8_t> hex_bytes(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

}  // namespace vellora::testing
