// Byte comparison for golden vectors: on a mismatch, reports the first
// differing offset with hex context on both sides.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vellora::testing {

::testing::AssertionResult BytesEqual(std::span<const std::uint8_t> got, std::span<const std::uint8_t> want);

// "00 0B FF" -> {0x00, 0x0B, 0xFF}; spaces and line breaks are ignored.
std::vector<std::uint8_t> hex_bytes(const std::string& text);

}  // namespace vellora::testing
