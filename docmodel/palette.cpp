// Palette table and colour matching. The first 215 entries follow the
// system palette's colour-cube rule; the rest are listed greys and colours.
#include "docmodel/palette.h"

#include <cstdlib>

namespace vellora {

namespace {

constexpr std::uint8_t level(int k) { return static_cast<std::uint8_t>(255 - 51 * k); }

constexpr std::array<Rgb, 256> make_palette() {
  std::array<Rgb, 256> table{};
  // Green changes fastest, then blue within each half, then red; the
  // second half (108 on) continues blue with the three darker levels.
  for (int i = 0; i <= 214; ++i) {
    const int half = i / 108, r = (i % 108) / 18, b = (i % 18) / 6, g = i % 6;
    table[static_cast<std::size_t>(i)] = Rgb{level(r), level(g), level(b + 3 * half)};
  }
  constexpr std::uint8_t greys[] = {0x11, 0x22, 0x44, 0x55, 0x77, 0x88, 0xAA, 0xBB, 0xDD, 0xEE};
  for (int i = 0; i < 10; ++i) table[static_cast<std::size_t>(215 + i)] = Rgb{greys[i], greys[i], greys[i]};
  table[225] = Rgb{192, 192, 192};
  table[226] = Rgb{128, 0, 0};
  table[227] = Rgb{128, 0, 128};
  table[228] = Rgb{0, 128, 0};
  table[229] = Rgb{0, 128, 128};
  table[230] = Rgb{0, 0, 0};
  return table;  // 231 to 255 stay black
}

constexpr std::array<Rgb, 256> kPalette = make_palette();

}  // namespace

const std::array<Rgb, 256>& handheld_palette() { return kPalette; }

std::uint8_t nearest_colour(std::uint32_t packed) {
  const int red = static_cast<int>((packed >> 8) & 0xFF);
  const int green = static_cast<int>((packed >> 16) & 0xFF);
  const int blue = static_cast<int>((packed >> 24) & 0xFF);
  // Entries are compared on a third of the distance, rounded down, so of
  // entries in the same score band the lowest index wins even when a later
  // one is strictly closer. Stored documents depend on this choice.
  int best_score = 4095;
  int best_index = 0;
  for (int i = 0; i < kPaletteColours; ++i) {
    const Rgb& entry = kPalette[static_cast<std::size_t>(i)];
    const int distance = std::abs(red - entry.red) + std::abs(green - entry.green) + std::abs(blue - entry.blue);
    const int score = distance / 3;
    if (score < best_score) {
      best_score = score;
      best_index = i;
    }
  }
  return static_cast<std::uint8_t>(best_index);
}

Rgb palette_colour(std::uint32_t index) { return kPalette[index & 0xFF]; }

}  // namespace vellora
