// The HTML character-entity table that the HTML importer decodes and the
// HTML exporter writes: 100 names, each standing for one byte of the
// handheld's character set. Rows 0 to 4 are quot, amp, lt, gt and nbsp;
// rows 5 to 99 are the Latin-1 names of the bytes 161 to 255, in byte
// order, so row r stands for byte r + 156.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vellora {

constexpr std::size_t kHtmlEntityCount = 100;

// The names in table order; matched case-sensitively.
extern const std::array<std::string_view, kHtmlEntityCount> kHtmlEntityNames;

// The byte a row stands for: 34, 38, 60, 62 and 32 (nbsp is a plain space)
// for rows 0 to 4, row + 156 for the others.
std::uint8_t html_entity_byte(std::size_t row);

// The byte of the first row named exactly `name`, or none.
std::optional<std::uint8_t> find_html_entity(std::string_view name);

// The row the exporter writes for a byte: 34, 38, 60, 62 give rows 0 to 3,
// 160 gives row 4 ("nbsp"), 161 to 255 give rows 5 to 99; other bytes have
// no row.
std::optional<std::size_t> html_entity_row_for(std::uint8_t byte);

}  // namespace vellora
