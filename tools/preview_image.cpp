// Drawing document databases into PNG screens.
#include "tools/preview_image.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <system_error>

#include "base/byte_order.h"
#include "base/files.h"
#include "conduit/document_types.h"
#include "docmodel/document_reader.h"
#include "docmodel/font_widths.h"
#include "docmodel/records.h"
#include "hosts/linux/utf8_codec.h"
#include "tools/output_file.h"
#include "tools/scratch_folder.h"

namespace vellora::cli {

namespace fs = std::filesystem;

namespace {

// Free fonts from Debian, condensed first: their glyphs are nearest the
// handheld's narrow ones.
constexpr const char* kFontFolder = "/usr/share/fonts/truetype/dejavu/";
constexpr std::array<std::array<const char*, 2>, 2> kFontFiles = {{
    {"DejaVuSansCondensed.ttf", "DejaVuSans.ttf"},
    {"DejaVuSansCondensed-Bold.ttf", "DejaVuSans-Bold.ttf"},
}};

constexpr Rgb kSeparator = {128, 128, 128};

struct Glyph {
  bool is_loaded = false;
  int left = 0, top = 0, width = 0, rows = 0;
  std::vector<std::uint8_t> mask;  // width x rows, 1 where the glyph is inked
};

}  // namespace

// The glyphs of the three fonts, rendered once each, in two colours only as
// the handheld draws them.
class GlyphCache {
 public:
  ~GlyphCache() {
    for (FT_Face face : faces_)
      if (face != nullptr) FT_Done_Face(face);
    if (library_ != nullptr) FT_Done_FreeType(library_);
  }

  bool load(std::string& why_not) {
    if (FT_Init_FreeType(&library_) != 0) {
      why_not = "the font library cannot start";
      return false;
    }
    for (std::size_t style = 0; style < kFontFiles.size(); ++style) {
      for (const char* file : kFontFiles[style])
        if (faces_[style] == nullptr &&
            FT_New_Face(library_, (std::string(kFontFolder) + file).c_str(), 0, &faces_[style]) != 0)
          faces_[style] = nullptr;
      if (faces_[style] == nullptr) {
        why_not = std::string(kFontFolder) + kFontFiles[style][1] + ": no such font (install fonts-dejavu-core)";
        return false;
      }
    }
    return true;
  }

  // The glyph of handheld byte `byte` in handheld font `font`.
  const Glyph& glyph(int font, std::uint8_t byte) {
    Glyph& glyph = glyphs_[static_cast<std::size_t>(font)][byte];
    if (glyph.is_loaded) return glyph;
    glyph.is_loaded = true;
    FT_Face face = faces_[font == kBoldFont ? 1 : 0];
    // Scaled to the line: 11-pixel lines take a 10-pixel face, the large
    // font's 14-pixel lines a 13-pixel one.
    FT_Set_Pixel_Sizes(face, 0, font == kLargeFont ? 13 : 10);
    if (byte < 0x20 ||
        FT_Load_Char(face, linux_host::handheld_to_unicode(byte), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0)
      return glyph;
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return glyph;
    glyph.left = face->glyph->bitmap_left;
    glyph.top = face->glyph->bitmap_top;
    glyph.width = static_cast<int>(bitmap.width);
    glyph.rows = static_cast<int>(bitmap.rows);
    glyph.mask.resize(static_cast<std::size_t>(glyph.width * glyph.rows));
    for (int y = 0; y < glyph.rows; ++y)
      for (int x = 0; x < glyph.width; ++x)
        glyph.mask[static_cast<std::size_t>(y * glyph.width + x)] =
            (bitmap.buffer[y * bitmap.pitch + x / 8] >> (7 - x % 8)) & 1;
    return glyph;
  }

 private:
  FT_Library library_ = nullptr;
  std::array<FT_Face, 2> faces_ = {nullptr, nullptr};
  std::array<std::array<Glyph, 256>, kFontCount> glyphs_;
};

namespace {

// Lays records out screen by screen, as the handheld pages through them: a
// line that does not fit below the last starts the next screen.
class ScreenWalk {
 public:
  ScreenWalk(GlyphCache& glyphs, Rgb background, long max_screens, bool draw,
             const std::function<void(const Screen&)>& on_screen)
      : glyphs_(glyphs), background_(background), max_screens_(max_screens), draw_(draw), on_screen_(on_screen) {
    start_screen();
  }

  bool is_full() const { return max_screens_ >= 0 && screens_ > max_screens_; }

  void add(const DocumentParagraph& paragraph, std::span<const std::uint8_t> bytes) {
    switch (paragraph.kind) {
      case DocumentParagraph::Kind::text: {
        std::size_t at = 0;
        for (const TextLine& line : paragraph.text.lines) {
          if (!place(line.entry.height)) return;
          if (draw_) draw_line(line, paragraph.text.text, at);
          for (const RunEntry& run : line.runs) at += run.chars;
          y_ += line.entry.height;
        }
        break;
      }
      case DocumentParagraph::Kind::empty_line: {
        // Bytes a record lacks read as zero.
        const int height = bytes.size() >= kEmptyLineHeightAt + 2 ? get_be16(bytes.data() + kEmptyLineHeightAt) : 0;
        if (place(height)) y_ += height;
        break;
      }
      case DocumentParagraph::Kind::rule:
        if (!place(paragraph.rule.height)) return;
        if (draw_) draw_rule(paragraph.rule);
        y_ += paragraph.rule.height;
        break;
      case DocumentParagraph::Kind::other: break;
    }
  }

  // Hands over the last screen if anything was placed on it; the count.
  long finish() {
    if (has_content_ && !is_full()) emit();
    return std::min(screens_ - (has_content_ ? 0 : 1), max_screens_ < 0 ? screens_ : max_screens_);
  }

 private:
  void start_screen() {
    ++screens_;
    y_ = 0;
    has_content_ = false;
    if (draw_ && !is_full()) screen_.pixels.fill(background_);
  }

  void emit() {
    if (draw_) on_screen_(screen_);
  }

  // Finds room for `height` rows, on this screen or the next; false once
  // the screens asked for are done.
  bool place(int height) {
    if (is_full()) return false;
    if (has_content_ && y_ + height > kScreenPx) {
      emit();
      start_screen();
      if (is_full()) return false;
    }
    has_content_ = true;
    return true;
  }

  void fill(int x0, int y0, int width, int height, Rgb colour) {
    const int x1 = std::min(x0 + width, kScreenPx), y1 = std::min(y0 + height, kScreenPx);
    for (int y = std::max(y0, 0); y < y1; ++y)
      for (int x = std::max(x0, 0); x < x1; ++x) screen_.at(x, y) = colour;
  }

  void draw_line(const TextLine& line, const std::vector<std::uint8_t>& text, std::size_t at) {
    const int height = line.entry.height;
    const int baseline = y_ + height - 2;
    int x = kTextLeftPx + line.entry.indent;
    for (const RunEntry& run : line.runs) {
      if (run.highlight != kNoHighlight) fill(x, y_, run.width, height, palette_colour(run.highlight));
      const int font = run.font < kFontCount ? run.font : kStandardFont;
      const auto& widths = font_widths(font);
      const Rgb colour = palette_colour(run.colour);
      int char_x = x;
      // A space run's stored width is what justification gave it.
      for (std::size_t i = 0; i < run.chars && at + i < text.size(); ++i) {
        const std::uint8_t byte = text[at + i];
        if (run.kind == kTextRun) draw_glyph(glyphs_.glyph(font, byte), char_x, baseline, colour);
        char_x += widths[byte];
      }
      at += run.chars;
      x += run.width;
    }
  }

  void draw_glyph(const Glyph& glyph, int x, int baseline, Rgb colour) {
    for (int gy = 0; gy < glyph.rows; ++gy) {
      const int y = baseline - glyph.top + gy;
      if (y < 0 || y >= kScreenPx) continue;
      for (int gx = 0; gx < glyph.width; ++gx) {
        const int px = x + glyph.left + gx;
        if (px >= 0 && px < kScreenPx && glyph.mask[static_cast<std::size_t>(gy * glyph.width + gx)] != 0)
          screen_.at(px, y) = colour;
      }
    }
  }

  void draw_rule(const RuleRecord& rule) {
    if (rule.highlight != kNoHighlight) fill(kTextLeftPx, y_, 150, rule.height, palette_colour(rule.highlight));
    const int top = y_ + std::max(0, (rule.height - rule.thickness) / 2);
    fill(kTextLeftPx, top, 150, rule.thickness, palette_colour(rule.colour));
  }

  GlyphCache& glyphs_;
  Rgb background_;
  long max_screens_;
  bool draw_;
  const std::function<void(const Screen&)>& on_screen_;
  Screen screen_;
  long screens_ = 0;
  int y_ = 0;
  bool has_content_ = false;
};

// libpng reports errors by a long jump; each call that may fail is made
// where nothing needs unwinding.
class PngFile {
 public:
  ~PngFile() {
    if (png_ != nullptr) png_destroy_write_struct(&png_, &info_);
  }

  bool open(std::FILE* file, std::uint32_t width, std::uint32_t height) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png_ == nullptr) return false;
    info_ = png_create_info_struct(png_);
    if (info_ == nullptr) return false;
    if (setjmp(png_jmpbuf(png_))) return false;
    png_init_io(png_, file);
    // libpng refuses to write more than a million rows unless told;
    // every screen of a long document takes more than that.
    png_set_user_limits(png_, width, height);
    png_set_IHDR(png_, info_, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Screens are runs of one background colour: unfiltered rows packed as
    // runs compress four times faster than the default, in a file 40%
    // larger.
    png_set_filter(png_, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_strategy(png_, Z_RLE);
    png_write_info(png_, info_);
    return true;
  }
  bool write_row(const std::vector<std::uint8_t>& row) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_row(png_, row.data());
    return true;
  }
  bool finish() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_end(png_, nullptr);
    return true;
  }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

}  // namespace

PreviewRenderer::PreviewRenderer() : glyphs_(std::make_unique<GlyphCache>()) {}
PreviewRenderer::~PreviewRenderer() = default;

bool PreviewRenderer::load_fonts(std::string& why_not) { return glyphs_->load(why_not); }

bool is_previewable(const linux_host::PdbReader& db, std::string& why_not) {
  const PdbHeader& header = db.header();
  const std::string file = db.path().string();
  if (header.type != kDocumentType || header.creator != kDocumentCreator) {
    why_not = file + ": not a handheld document (type " + four_cc_text(header.type) + ", creator " +
              four_cc_text(header.creator) + ")";
    return false;
  }
  if (header.version != kDocumentVersion) {
    why_not = file + ": a version " + std::to_string(header.version) + " document; only version 2 can be drawn";
    return false;
  }
  if (db.record_count() == 0) {
    why_not = file + ": no header record";
    return false;
  }
  return true;
}

long PreviewRenderer::render(const linux_host::PdbReader& db, long max_screens, bool draw,
                             const std::function<void(const Screen&)>& on_screen, std::string& why_not) {
  std::vector<std::uint8_t> bytes;
  if (auto read = db.read_record(0, bytes); !read) {
    why_not = read.reason;
    return -1;
  }
  HeaderRecord header;
  // A header cut short reads as zeros, as the exporters read it.
  bytes.resize(std::max(bytes.size(), kHeaderRecordBytes), 0);
  decode_header(bytes, header);
  ScreenWalk walk(*glyphs_, palette_colour(header.background), max_screens, draw, on_screen);
  for (std::size_t i = 1; i < db.record_count() && !walk.is_full(); ++i) {
    if (auto read = db.read_record(i, bytes); !read) {
      why_not = read.reason;
      return -1;
    }
    walk.add(decode_for_export(bytes), bytes);
  }
  return walk.finish();
}

namespace {

// The height goes into the file's header, so the screens are counted in a
// pass that draws nothing; only one screen is ever held.
long count_screens(PreviewRenderer& renderer, const linux_host::PdbReader& db, long max_screens, std::string& why_not) {
  const auto ignore = [](const Screen&) {};
  return renderer.render(db, max_screens, false, ignore, why_not);
}

// Screen row `y` as a picture row, each pixel repeated `scale` times.
void scale_screen_row(const Screen& screen, int y, int scale, std::vector<std::uint8_t>& row) {
  for (int x = 0; x < kScreenPx; ++x) {
    const Rgb& p = screen.at(x, y);
    for (int k = 0; k < scale; ++k) {
      std::uint8_t* at = &row[static_cast<std::size_t>((x * scale + k) * 3)];
      at[0] = p.red;
      at[1] = p.green;
      at[2] = p.blue;
    }
  }
}

// The picture row of the line between two screens.
std::vector<std::uint8_t> separator_row(std::size_t row_bytes) {
  std::vector<std::uint8_t> separator(row_bytes);
  for (std::size_t i = 0; i < separator.size(); i += 3) {
    separator[i] = kSeparator.red;
    separator[i + 1] = kSeparator.green;
    separator[i + 2] = kSeparator.blue;
  }
  return separator;
}

// Writes one screen, `scale` picture rows for each of its rows. The last
// picture row of a screen that has another below is the line between them,
// so each screen starts 160 scaled rows below the one before.
bool write_scaled_screen(PngFile& png, const Screen& screen, int scale, bool has_screen_below,
                         const std::vector<std::uint8_t>& separator, std::vector<std::uint8_t>& row) {
  for (int y = 0; y < kScreenPx; ++y) {
    scale_screen_row(screen, y, scale, row);
    for (int k = 0; k < scale; ++k) {
      const bool is_separator = has_screen_below && y == kScreenPx - 1 && k == scale - 1;
      if (!png.write_row(is_separator ? separator : row)) return false;
    }
  }
  return true;
}

// Renames the complete picture to its final name; the temporary file is
// removed when that fails.
bool rename_into_place(const fs::path& temporary, const fs::path& output, std::string& why_not) {
  std::error_code error;
  rename_over_output(temporary, output, error);
  if (!error) return true;
  why_not = output.string() + ": " + error.message();
  std::error_code ignored;
  fs::remove(temporary, ignored);
  return false;
}

}  // namespace

long write_preview(const fs::path& database, const fs::path& output, long max_screens, int scale,
                   std::string& why_not) {
  linux_host::PdbReader db;
  if (const auto opened = db.open(database); !opened) {
    why_not = opened.reason;
    return -1;
  }
  if (!is_previewable(db, why_not)) return -1;
  PreviewRenderer renderer;
  if (!renderer.load_fonts(why_not)) return -1;
  const long screens = count_screens(renderer, db, max_screens, why_not);
  if (screens < 0) return -1;
  if (screens == 0) {
    why_not = database.string() + ": nothing to draw";
    return -1;
  }
  const auto width = static_cast<std::uint32_t>(kScreenPx * scale);
  const std::uint64_t height = static_cast<std::uint64_t>(screens) * kScreenPx * static_cast<std::uint64_t>(scale);
  if (height > 0x7FFFFFFF) {
    why_not = output.string() + ": " + std::to_string(screens) +
              " screens make too tall a picture; ask for fewer with --screens";
    return -1;
  }

  // The picture is written in a private folder beside the output, so that
  // the rename stays on one file system and nothing already under some
  // fixed name there is written through.
  const fs::path output_folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
  remove_stale_scratch_folders(output_folder);
  const ScratchFolder scratch(output_folder);
  if (!scratch) {
    why_not = output_folder.string() + ": cannot make a working folder: " + scratch.error();
    return -1;
  }
  const fs::path temporary = scratch.path() / "preview.png";
  UniqueFile file = create_new_file(temporary);
  if (!file) {
    why_not = temporary.string() + ": " + std::generic_category().message(errno);
    return -1;
  }
  bool ok = true;
  {
    PngFile png;
    ok = png.open(file.get(), width, static_cast<std::uint32_t>(height));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    const std::vector<std::uint8_t> separator = separator_row(row.size());
    long drawn = 0;
    // After a row fails to be written the walk still runs to its end;
    // only the writing stops.
    const auto write_screen = [&](const Screen& screen) {
      ++drawn;
      if (ok) ok = write_scaled_screen(png, screen, scale, drawn < screens, separator, row);
    };
    const bool is_drawn = ok && renderer.render(db, screens, true, write_screen, why_not) >= 0;
    if (ok && !is_drawn)
      ok = false;
    else if (!ok)
      why_not = output.string() + ": the picture could not be written";
    if (ok && !png.finish()) {
      ok = false;
      why_not = output.string() + ": the picture could not be written";
    }
  }
  if (ok && !flush_and_close(file)) {
    ok = false;
    why_not = temporary.string() + ": " + std::generic_category().message(errno);
  }
  if (!ok) {
    file.reset();
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return -1;
  }
  if (!rename_into_place(temporary, output, why_not)) return -1;
  return screens;
}

}  // namespace vellora::cli
