// Document database to RTF through the shared document reader. The colour
// table stands at the top of the file but lists the colour of every run, so
// the records are read twice: a first pass collects the colours, a second
// writes the paragraphs. Memory stays at one record however long the
// document is, and both passes see the same decoded runs.
#include "exporters/rtf_exporter.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "docmodel/document_reader.h"
#include "docmodel/font_widths.h"
#include "docmodel/palette.h"
#include "exporters/export_file.h"

namespace vellora {

namespace {

constexpr std::string_view kFontTableStart = R"({\rtf1\ansi\deff0\deftab720{\fonttbl{\f0\fnil )";
constexpr std::string_view kFontTableEnd = ";}}\n";
constexpr std::string_view kLanguage = "\\deflang1033\n";
// The page background is a full-page shape; only its fill colour varies.
constexpr std::string_view kBackgroundShapeStart =
    R"({\*\background {\shp{\*\shpinst\shpleft0\shptop0\shpright0\shpbottom0\shpfhdr0\shpbxmargin\shpbymargin)"
    R"(\shpwr0\shpwrk0\shpfblwtxt1\shpz0\shplid1025{\sp{\sn shapeType}{\sv 1}}{\sp{\sn fFlipH}{\sv 0}})"
    R"({\sp{\sn fFlipV}{\sv 0}})"
    "\n"
    R"({\sp{\sn fillColor}{\sv )";
constexpr std::string_view kBackgroundShapeEnd =
    R"(}}{\sp{\sn fFilled}{\sv 1}}{\sp{\sn lineWidth}{\sv 0}}{\sp{\sn fLine}{\sv 0}})"
    R"({\sp{\sn bWMode}{\sv 9}}{\sp{\sn fBackground}{\sv 1}}}}})"
    "\n\\viewkind5\n";
// Empty lines and rules have no RTF form of their own.
constexpr std::string_view kEmptyParagraph = "{\\pard\\par}\n";

// Text waiting to be written is handed to the file once it reaches this.
constexpr std::size_t kWriteChunkBytes = 64 * 1024;

// The alignment control word of a paragraph, by alignment code (0 left,
// 1 right, 2 justified, 3 centred). Other codes add none.
constexpr std::array<std::string_view, 4> kAlignWords = {"\\ql", "\\qr", "\\qj", "\\qc"};

// Half-points a run's font adds to the base size, by font (0 standard,
// 1 bold, 2 large). Fonts outside the table are written as standard.
constexpr std::array<std::uint32_t, 3> kFontExtraHalfPoints = {0, 4, 8};

// The RTF colour table: the palette indices the runs use, in order of first
// use. An index's position in the table is its RTF colour number.
class ColourTable {
 public:
  ColourTable() { number_.fill(kUnlisted); }

  // A run's colour comes before its highlight. A highlight equal to the
  // colour is listed already, and 250 means no highlight at all.
  void add_runs_of(const DocumentParagraph& paragraph) {
    if (paragraph.kind != DocumentParagraph::Kind::text) return;
    for (const TextLine& line : paragraph.text.lines)
      for (const RunEntry& run : line.runs) {
        add(run.colour);
        if (run.highlight != kNoHighlight) add(run.highlight);
      }
  }

  std::optional<std::uint16_t> number_of(std::uint8_t index) const {
    if (number_[index] == kUnlisted) return std::nullopt;
    return static_cast<std::uint16_t>(number_[index]);
  }
  const std::vector<std::uint8_t>& colours() const { return colours_; }

 private:
  static constexpr std::int16_t kUnlisted = -1;
  void add(std::uint8_t index) {
    if (number_[index] != kUnlisted) return;
    number_[index] = static_cast<std::int16_t>(colours_.size());
    colours_.push_back(index);
  }

  std::array<std::int16_t, 256> number_{};
  std::vector<std::uint8_t> colours_;
};

// Bytes written as the hex escape \'xx: RTF's own special characters, NUL
// (which would otherwise end the text in many readers) and every byte
// above 0x80. Everything else, 0x80 itself included, is written as it is.
bool needs_hex_escape(std::uint8_t byte) {
  return byte == 0 || byte == '\\' || byte == '{' || byte == '}' || byte > 0x80;
}

void append_run_text(std::string& rtf, std::span<const std::uint8_t> text) {
  for (const std::uint8_t byte : text) {
    if (needs_hex_escape(byte)) {
      rtf += "\\'";
      append_hex_byte(rtf, byte, kLowerHexDigits);
    } else {
      rtf += static_cast<char>(byte);
    }
  }
}

// Run sizes in half-points, from the base size in points.
class RunSizes {
 public:
  explicit RunSizes(std::uint32_t font_size)
      : base_half_points_(2 * std::clamp(font_size, kMinRtfFontSize, kMaxRtfFontSize)) {}
  std::uint32_t of(std::uint8_t font) const {
    return base_half_points_ + (font < kFontExtraHalfPoints.size() ? kFontExtraHalfPoints[font] : 0);
  }

 private:
  std::uint32_t base_half_points_;
};

// False when a run's colour is not in the table: the record read differently
// from the first pass.
bool append_run(std::string& rtf, const RunEntry& run, std::span<const std::uint8_t> text, const ColourTable& colours,
                const RunSizes& sizes) {
  const auto colour = colours.number_of(run.colour);
  const auto highlight = colours.number_of(run.highlight);
  if (!colour || (run.highlight != kNoHighlight && !highlight)) return false;
  rtf += "{\\plain\\cf";
  rtf += std::to_string(*colour);
  if (run.highlight != kNoHighlight) {
    rtf += " \\highlight";
    rtf += std::to_string(*highlight);
  }
  rtf += " \\fs";
  rtf += std::to_string(sizes.of(run.font));
  rtf += ' ';
  if (run.font == kBoldFont) rtf += "\\b ";
  append_run_text(rtf, text);
  rtf += '}';
  return true;
}

// One line per paragraph record. A text record's runs take its text in
// order across all its lines.
bool append_paragraph(std::string& rtf, const DocumentParagraph& paragraph, const ColourTable& colours,
                      const RunSizes& sizes) {
  if (paragraph.kind != DocumentParagraph::Kind::text) {
    rtf += kEmptyParagraph;
    return true;
  }
  const TextRecord& record = paragraph.text;
  rtf += "{\\pard";
  if (record.alignment < kAlignWords.size()) rtf += kAlignWords[record.alignment];
  rtf += "\\plain ";
  const std::span<const std::uint8_t> text = record.text;
  std::size_t at = 0;
  for (const TextLine& line : record.lines) {
    for (const RunEntry& run : line.runs) {
      // The reader already keeps runs within the text; the bound keeps this
      // loop safe without relying on it.
      const std::size_t chars = std::min<std::size_t>(run.chars, text.size() - at);
      if (!append_run(rtf, run, text.subspan(at, chars), colours, sizes)) return false;
      at += chars;
    }
  }
  rtf += "\\par}\n";
  return true;
}

void append_prologue(std::string& rtf, std::string_view font_name, const ColourTable& colours,
                     std::uint8_t background) {
  rtf += kFontTableStart;
  rtf += font_name;
  rtf += kFontTableEnd;
  if (!colours.colours().empty()) {
    rtf += "{\\colortbl";
    for (const std::uint8_t index : colours.colours()) {
      const Rgb rgb = palette_colour(index);
      rtf += "\\red" + std::to_string(rgb.red) + "\\green" + std::to_string(rgb.green) + "\\blue" +
             std::to_string(rgb.blue) + ';';
    }
    rtf += '}';
  }
  rtf += '\n';
  rtf += kLanguage;
  // A white page is every reader's default and needs no background shape.
  const Rgb page = palette_colour(background);
  if (page == Rgb{255, 255, 255}) return;
  rtf += kBackgroundShapeStart;
  rtf += std::to_string(page.red + 256 * page.green + 65536 * page.blue);
  rtf += kBackgroundShapeEnd;
}

}  // namespace

ExportResult ExportRtf(SyncManager& sync, std::string_view database_name, const std::filesystem::path& output,
                       const ExportOptions& options) {
  DocumentReader document(sync);
  if (auto opened = document.open(database_name); !opened) return export_failure(opened);
  const std::uint16_t count = document.record_count();  // at least 2 once open

  // The first pass, before the file exists: a failed read leaves no file.
  HeaderRecord header;
  if (auto read = document.read_header(header); !read) return export_failure(read);
  ColourTable colours;
  DocumentParagraph paragraph;
  for (std::uint16_t index = 1; index < count; ++index) {
    if (auto read = document.read_paragraph(index, paragraph); !read) return export_failure(read);
    colours.add_runs_of(paragraph);
  }

  ExportFile file(output, options.leaves_flush_pending);
  if (auto opened = file.open(); !opened) return opened;
  std::string rtf;
  const auto write_out = [&] {
    const bool ok = file.write(rtf);
    rtf.clear();
    return ok;
  };

  append_prologue(rtf, options.font_name, colours, header.background);
  const RunSizes sizes(options.font_size);
  for (std::uint16_t index = 1; index < count; ++index) {
    if (auto read = document.read_paragraph(index, paragraph); !read) return export_failure(read);
    if (!append_paragraph(rtf, paragraph, colours, sizes))
      return {ExportStatus::read_failed,
              std::string(database_name) + ": record " + std::to_string(index) + " changed while it was read"};
    if (rtf.size() >= kWriteChunkBytes && !write_out()) return file.failure();
  }
  rtf += "}\n";
  if (!write_out()) return file.failure();
  return file.finish();
}

}  // namespace vellora
