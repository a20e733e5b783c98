// Display geometry of the handheld: glyph widths of its three fonts, line
// heights and the display width that every line is laid out for.
#pragma once

#include <array>
#include <cstdint>

namespace vellora {

// The handheld's fonts, as a cell's `font` and a run's font byte name them.
constexpr int kStandardFont = 0;
constexpr int kBoldFont = 1;
constexpr int kLargeFont = 2;
constexpr int kFontCount = 3;
constexpr int kDisplayWidthPx = 150;
// No glyph of any font is wider; the line breaker relies on it.
constexpr int kWidestGlyphPx = 17;
constexpr int kLineHeightPx = 11;
constexpr int kLargeLineHeightPx = 14;

// The 256 glyph widths of `font`, which must be 0, 1 or 2.
const std::array<std::uint8_t, 256>& font_widths(int font);

constexpr int line_height_px(bool has_large_font) { return has_large_font ? kLargeLineHeightPx : kLineHeightPx; }

}  // namespace vellora
