#include "docmodel/palette.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

TEST(Palette, TellingRowsAndUnusedEntries) {
  struct Row {
    int index;
    Rgb rgb;
  };
  const Row rows[] = {{0, {255, 255, 255}}, {1, {255, 204, 255}},      {6, {255, 255, 204}},   {18, {204, 255, 255}},
                      {107, {0, 0, 153}},   {108, {255, 255, 102}},    {125, {255, 0, 0}},     {214, {0, 51, 0}},
                      {215, {17, 17, 17}},  {224, {0xEE, 0xEE, 0xEE}}, {225, {192, 192, 192}}, {226, {128, 0, 0}},
                      {229, {0, 128, 128}}, {230, {0, 0, 0}}};
  for (const Row& row : rows) EXPECT_EQ(palette_colour(row.index), row.rgb) << "index " << row.index;
  for (int i = 231; i < 256; ++i) EXPECT_EQ(palette_colour(i), (Rgb{0, 0, 0})) << i;
  // Only the low byte of the index counts.
  EXPECT_EQ(palette_colour(0x100 + 125), (Rgb{255, 0, 0}));
  EXPECT_EQ(palette_colour(kNoHighlight), (Rgb{0, 0, 0}));
}

TEST(Palette, NearestColourPrefersLowestIndexWithinAScoreBand) {
  EXPECT_EQ(nearest_colour(0), 230);
  EXPECT_EQ(nearest_colour(0xFFFFFFFF), 0);
  EXPECT_EQ(nearest_colour(0x0000FF00), 125);              // pure red
  EXPECT_EQ(nearest_colour(0x80000000), 107);              // 203 is closer but scores the same
  EXPECT_EQ(nearest_colour(pack_colour(14, 11, 0)), 215);  // ties 230 on score 8
  EXPECT_EQ(nearest_colour(pack_colour(128, 128, 128)), 220);
  EXPECT_EQ(nearest_colour(pack_colour(192, 192, 192)), 225);
  EXPECT_EQ(nearest_colour(0x000000FF), 230);  // bits 0-7 are ignored
  EXPECT_EQ(nearest_colour(0xFFF8F000), nearest_colour(0xFFF8F0FF));
}

TEST(Palette, EveryPaletteColourMapsToItselfUnlessAnEarlierEntryTies) {
  for (int i = 0; i < kPaletteColours; ++i) {
    const Rgb c = palette_colour(i);
    const int found = nearest_colour(pack_colour(c.red, c.green, c.blue));
    EXPECT_LE(found, i);
    const Rgb f = palette_colour(found);
    const int distance = std::abs(f.red - c.red) + std::abs(f.green - c.green) + std::abs(f.blue - c.blue);
    EXPECT_LT(distance, 3) << "index " << i << " matched " << found;
  }
}

}  // namespace
}  // namespace vellora
