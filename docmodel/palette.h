// The handheld's 8-bit colour palette. Importers turn RGB into palette
// indices with nearest_colour(); exporters turn indices back into RGB with
// palette_colour(). Both are pure and never fail.
#pragma once

#include <array>
#include <cstdint>

namespace vellora {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Entries 0 to 230 are the palette proper; 231 to 255 read as black.
constexpr int kPaletteColours = 231;
constexpr std::uint8_t kBlackIndex = 230;
constexpr std::uint8_t kWhiteIndex = 0;
constexpr std::uint8_t kNoHighlight = 250;

const std::array<Rgb, 256>& handheld_palette();

// `packed` holds red in bits 8-15, green in 16-23, blue in 24-31 (so the
// HTML colour #RRGGBB is 0xBBGGRR00); bits 0-7 are ignored.
std::uint8_t nearest_colour(std::uint32_t packed);

constexpr std::uint32_t pack_colour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return (std::uint32_t{blue} << 24) | (std::uint32_t{green} << 16) | (std::uint32_t{red} << 8);
}

// Only the low 8 bits of `index` count.
Rgb palette_colour(std::uint32_t index);

}  // namespace vellora
