// A document database drawn as the handheld shows it: screen after screen
// of 160 x 160 pixels, each line at its height and indent, each run at its
// x position in its font, colour and highlight, empty lines as their height
// and rules as a line of their thickness and colour, on the header's
// background. Glyph shapes come from a free font, but every character sits
// where the handheld's font width table puts it, so breaks, widths and
// positions are the handheld's own.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "docmodel/palette.h"
#include "hosts/linux/pdb_file.h"

namespace vellora::cli {

constexpr int kScreenPx = 160;
// The layout's 150-pixel line sits in the middle of the screen.
constexpr int kTextLeftPx = (kScreenPx - 150) / 2;

// One screen at the handheld's own resolution, row after row.
struct Screen {
  std::array<Rgb, kScreenPx * kScreenPx> pixels;
  Rgb& at(int x, int y) { return pixels[static_cast<std::size_t>(y * kScreenPx + x)]; }
  const Rgb& at(int x, int y) const { return pixels[static_cast<std::size_t>(y * kScreenPx + x)]; }
};

class GlyphCache;

// Draws the screens of one open database. A document is checked (type,
// creator, version) before anything is drawn.
class PreviewRenderer {
 public:
  PreviewRenderer();
  ~PreviewRenderer();

  // False with a one-line reason naming the font when no font is found.
  bool load_fonts(std::string& why_not);

  // Walks the document's records and hands each finished screen, at most
  // `max_screens` of them, to `on_screen`; with `draw` false only counts
  // them. Returns the number of screens, or -1 with `why_not` set.
  long render(const linux_host::PdbReader& db, long max_screens, bool draw,
              const std::function<void(const Screen&)>& on_screen, std::string& why_not);

 private:
  std::unique_ptr<GlyphCache> glyphs_;
};

// Checks that an open database is a version 2 document; the reason names
// the file.
bool is_previewable(const linux_host::PdbReader& db, std::string& why_not);

// Writes the screens of `database` into the PNG file `output`, scaled by
// `scale` with nearest-neighbour pixels and stacked top to bottom with a
// thin line between them; `max_screens` < 0 draws them all. The file
// appears only when complete. Returns the screens drawn, or -1 with a
// one-line reason.
long write_preview(const std::filesystem::path& database, const std::filesystem::path& output, long max_screens,
                   int scale, std::string& why_not);

}  // namespace vellora::cli
