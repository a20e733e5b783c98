// `vellora preview` checked by pixels at positions computed from the
// records: glyph shapes differ between font versions, positions do not.
#include <png.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "docmodel/font_widths.h"
#include "docmodel/palette.h"
#include "docmodel/records.h"
#include "hosts/linux/pdb_file.h"
#include "tests/support/pdb_samples.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kBackground = 20;
constexpr std::uint8_t kHighlight = 100;
constexpr std::uint8_t kRuleColour = 150;

struct Picture {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  Rgb at(std::uint32_t x, std::uint32_t y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

Picture read_png(const fs::path& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return picture;
  image.format = PNG_FORMAT_RGB;
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) return {};
  picture.width = image.width;
  picture.height = image.height;
  return picture;
}

int run(const std::string& args) {
  const int status = std::system((std::string(VELLORA_CLI) + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int width_of(const std::string& text) {
  int width = 0;
  for (const unsigned char c : text) width += font_widths(kStandardFont)[c];
  return width;
}

// A line of runs in the standard font; each run's text and highlight.
std::vector<std::uint8_t> text_record(const std::vector<std::pair<std::string, std::uint8_t>>& runs) {
  TextRecord record;
  record.height = kLineHeightPx;
  TextLine line;
  line.entry.height = kLineHeightPx;
  for (const auto& [text, highlight] : runs) {
    const int width = width_of(text);
    line.runs.push_back({.kind = kTextRun,
                         .chars = static_cast<std::uint8_t>(text.size()),
                         .width = static_cast<std::uint8_t>(width),
                         .height = kLineHeightPx,
                         .font = kStandardFont,
                         .colour = kBlackIndex,
                         .highlight = highlight});
    line.entry.chars = static_cast<std::uint8_t>(line.entry.chars + text.size());
    line.entry.width = static_cast<std::uint8_t>(line.entry.width + width);
    record.text.insert(record.text.end(), text.begin(), text.end());
  }
  line.entry.run_count = static_cast<std::uint8_t>(line.runs.size());
  record.lines.push_back(line);
  return encode_text_record(record);
}

class Preview : public ::testing::Test {
 protected:
  void write(const std::vector<std::vector<std::uint8_t>>& paragraphs, std::uint16_t version = kDocumentVersion,
             FourCC type = kDocumentType) {
    PdbDatabase db;
    db.header = testing::document_header("shown", version, type);
    std::vector<std::uint8_t> header(kHeaderRecordBytes);
    encode_header(header.data(), {.tag = kHeaderTag, .line_total = 0, .background = kBackground});
    ASSERT_TRUE(db.append_record({.data = header, .attributes = 0, .category = 0, .unique_id = 1}));
    for (const auto& paragraph : paragraphs)
      ASSERT_TRUE(db.append_record({.data = paragraph, .attributes = 0, .category = 0, .unique_id = 1}));
    ASSERT_TRUE(linux_host::write_pdb_file(database(), db));
  }
  fs::path database() const { return dir / "doc.pdb"; }
  std::string preview(const std::string& flags) const {
    return "preview '" + database().string() + "' -o '" + (dir / "out.png").string() + "' " + flags;
  }
  testing::TempDir dir;
};

TEST_F(Preview, BackgroundHighlightAndRuleSitWhereTheRecordsPutThem) {
  std::vector<std::uint8_t> rule(kShortRecordBytes);
  encode_rule(rule.data(), {.height = 9, .thickness = 3, .colour = kRuleColour, .highlight = kNoHighlight});
  write({text_record({{"plain", kNoHighlight}, {"marked", kHighlight}}), rule});
  ASSERT_EQ(run(preview("--screens 1 --scale 2")), 0);
  const Picture picture = read_png(dir / "out.png");
  ASSERT_EQ(picture.width, 320u);
  ASSERT_EQ(picture.height, 320u);
  const auto at = [&](int x, int y) {
    return picture.at(static_cast<std::uint32_t>(2 * x), static_cast<std::uint32_t>(2 * y));
  };
  const Rgb background = palette_colour(kBackground);
  EXPECT_EQ(at(1, 5), background);  // the left margin
  // Row 0 of the line is above every glyph: highlight and background only.
  const int marked = 5 + width_of("plain");
  EXPECT_EQ(at(marked, 0), palette_colour(kHighlight));
  EXPECT_EQ(at(marked + width_of("marked") - 1, 0), palette_colour(kHighlight));
  EXPECT_EQ(at(marked - 1, 0), background);
  EXPECT_EQ(at(marked + width_of("marked"), 0), background);
  // The rule: 3 rows in the middle of its 9, under the 11-pixel line.
  for (const int y : {14, 15, 16})
    for (const int x : {5, 80, 154}) EXPECT_EQ(at(x, y), palette_colour(kRuleColour)) << x << "," << y;
  EXPECT_EQ(at(80, 13), background);
  EXPECT_EQ(at(4, 15), background);
}

TEST_F(Preview, ScreensStackAndALongDocumentRunsPastSeveral) {
  // 40 highlighted lines of 11 pixels: 14 to a screen, so three screens.
  write(std::vector<std::vector<std::uint8_t>>(40, text_record({{"line", kHighlight}})));
  ASSERT_EQ(run(preview("--screens 2 --scale 3")), 0);
  Picture picture = read_png(dir / "out.png");
  ASSERT_EQ(picture.width, 480u);
  ASSERT_EQ(picture.height, 960u);
  const Rgb highlight = palette_colour(kHighlight);
  EXPECT_EQ(picture.at(18, 0), highlight);
  EXPECT_EQ(picture.at(18, 478), palette_colour(kBackground));  // below the 14th line
  EXPECT_NE(picture.at(18, 479), highlight);                    // the line between screens
  EXPECT_EQ(picture.at(18, 480), highlight);                    // the 15th line starts screen 2

  ASSERT_EQ(run(preview("--screens all --scale 1")), 0);
  picture = read_png(dir / "out.png");
  EXPECT_EQ(picture.width, 160u);
  EXPECT_EQ(picture.height, 480u);
  EXPECT_EQ(picture.at(6, 320), highlight);  // the 29th line starts screen 3
}

TEST_F(Preview, EachPixelIsScaledAndOneGreyRowSeparatesScreens) {
  // 20 lines: 14 on the first screen, 6 on the second.
  write(std::vector<std::vector<std::uint8_t>>(20, text_record({{"line", kHighlight}})));
  ASSERT_EQ(run(preview("--screens all --scale 2")), 0);
  const Picture picture = read_png(dir / "out.png");
  ASSERT_EQ(picture.width, 320u);
  ASSERT_EQ(picture.height, 640u);
  const Rgb highlight = palette_colour(kHighlight), background = palette_colour(kBackground);
  // The highlight starts at handheld x 5: picture columns 10 and 11.
  EXPECT_EQ(picture.at(9, 0), background);
  EXPECT_EQ(picture.at(10, 0), highlight);
  EXPECT_EQ(picture.at(11, 0), highlight);
  EXPECT_EQ(picture.at(10, 1), highlight);
  // Handheld row 159 is two picture rows: the first as drawn, the second
  // the line between the screens, across the whole width.
  EXPECT_EQ(picture.at(0, 318), background);
  for (const std::uint32_t x : {0u, 10u, 160u, 319u}) EXPECT_EQ(picture.at(x, 319), (Rgb{128, 128, 128})) << x;
  EXPECT_EQ(picture.at(10, 320), highlight);
  // The last screen has no line below it.
  EXPECT_EQ(picture.at(0, 639), background);
  // Nothing but the picture is left beside it.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST_F(Preview, BadDatabasesGiveOneLineAndNoPicture) {
  const auto refused = [&](const std::string& why) {
    EXPECT_EQ(run(preview("")), 1) << why;
    EXPECT_FALSE(fs::exists(dir / "out.png")) << why;
  };
  write({text_record({{"x", kNoHighlight}})}, 1);
  refused("version 1");
  write({text_record({{"x", kNoHighlight}})}, kDocumentVersion, make_four_cc("DATA"));
  refused("not a document");
  testing::write_file(database(), std::string(100, 'x'));
  refused("damaged");
  // A record cut inside its entries is drawn up to the last that fits.
  auto cut = text_record({{"first", kNoHighlight}, {"second", kHighlight}});
  cut.resize(cut.size() - 4);
  write({cut});
  EXPECT_EQ(run(preview("")), 0);
  EXPECT_EQ(read_png(dir / "out.png").height, 320u);
}

}  // namespace
}  // namespace vellora
