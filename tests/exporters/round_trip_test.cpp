// A document through the importer, the builder and the exporter, and the
// export through the importer again: what the format can carry must
// survive the round.
#include <tuple>

#include <gtest/gtest.h>

#include "conduit/document_types.h"
#include "conduit/write_document.h"
#include "docmodel/palette.h"
#include "exporters/html_exporter.h"
#include "exporters/rtf_exporter.h"
#include "importers/html/html_importer.h"
#include "importers/rtf/rtf_importer.h"
#include "tests/support/fake_sync_manager.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

struct Paragraph {
  std::int32_t alignment;
  std::string text;
  std::vector<std::tuple<std::int32_t, std::uint8_t, std::uint8_t>> looks;  // font, colour, highlight
  bool operator==(const Paragraph&) const = default;
  friend void PrintTo(const Paragraph& p, std::ostream* out) {
    *out << "\n  [" << p.alignment << "] \"" << p.text << "\" looks";
    for (const auto& [font, colour, highlight] : p.looks)
      *out << ' ' << font << '/' << int{colour} << '/' << int{highlight};
  }
};

std::vector<Paragraph> paragraphs_of(const StagingBytes& staged) {
  StagingReader reader;
  EXPECT_TRUE(reader.open(staged));
  std::vector<Paragraph> out;
  StagedParagraph p;
  for (std::size_t i = 0; i < reader.paragraph_count(); ++i) {
    if (!reader.next(p)) break;
    Paragraph paragraph{p.alignment, std::string(p.text.begin(), p.text.end()), {}};
    const AttributeCell first = decode_cell(p.cell(0));
    if (first.kind == kEmptyParagraphCell) {
      paragraph = {kAlignLeft, "<empty line>", {}};  // its character and cell mean nothing
    } else if (first.kind == kRuleCell) {
      paragraph = {kAlignLeft, "<rule>", {{first.font, first.colour, kNoHighlight}}};
    } else {
      for (std::size_t c = 0; c < p.size(); ++c) {
        const AttributeCell cell = decode_cell(p.cell(c));
        paragraph.looks.emplace_back(cell.font, cell.colour, cell.highlight);
      }
    }
    out.push_back(std::move(paragraph));
  }
  return out;
}

StagingBytes import(const std::string& input, const std::string& name, Conversion convert) {
  return import_bytes({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()}, name, convert);
}

// Imports `input`, builds the database, exports it and imports the export.
std::pair<StagingBytes, StagingBytes> round_trip(const std::string& input, const std::string& name, Conversion convert,
                                                 Exporter exporter, const ExportOptions& options = {}) {
  StagingBytes first = import(input, name, convert);
  PackedDocument document;
  EXPECT_TRUE(pack_document(first, document));
  testing::FakeSyncManager handheld;
  EXPECT_TRUE(write_document(document, handheld));
  testing::TempDir dir;
  EXPECT_TRUE(exporter(handheld, name, dir / name, options));
  const auto exported = testing::read_file(dir / name);
  return {std::move(first), import(std::string(exported.begin(), exported.end()), name, convert)};
}

TEST(HtmlRoundTrip, ParagraphsAlignmentFontsAndColoursSurvive) {
  const std::string page =
      "<html><head><title>Round trip</title></head><body bgcolor=\"#ffffe0\">\n"
      "<h1>A heading</h1>\n"
      "<p align=center>Centred <b>bold</b> and <font color=red>red</font> text.</p>\n"
      "<p align=right><font size=+2>Large</font> at the right</p>\n"
      "<p align=justify>A justified paragraph that is long enough to wrap over several handheld lines of text.</p>\n"
      "<ul><li>one</li><li>two &amp; three &lt;four&gt;</li></ul>\n"
      "<hr color=navy size=6>\n"
      "<p>Caf&eacute; &copy; and a&nbsp;&nbsp;&nbsp;gap</p>\n"
      "</body></html>\n";
  const auto [first, second] = round_trip(page, "round.htm", &stage_html, &ExportHtml);

  // Paragraphs that follow each other without a blank line (list items)
  // come back with one between them: a paragraph element starts with a
  // blank line. Blank lines are therefore left out of the comparison.
  const auto without_blank_lines = [](std::vector<Paragraph> paragraphs) {
    std::erase_if(paragraphs, [](const Paragraph& p) { return p.text == "<empty line>"; });
    return paragraphs;
  };
  const auto before = without_blank_lines(paragraphs_of(first));
  const auto after = without_blank_lines(paragraphs_of(second));
  ASSERT_EQ(before.size(), 10u);
  EXPECT_EQ(after, before);
  EXPECT_EQ(second.data.back(), first.data.back());  // the background
}

// Rules and the line breaks inside a paragraph have no RTF form; everything
// else comes back. Sizes are read back by point size alone (above 22 points
// is large), so the base size is one at which the exported standard, bold
// and large sizes (20, 22 and 24 points) read back as the same fonts.
TEST(RtfRoundTrip, ParagraphsAlignmentFontsColoursAndHighlightsSurvive) {
  const std::string rtf =
      "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;\\red255\\green255\\blue0;"
      "\\red0\\green0\\blue128;}\n"
      "{\\*\\background{\\shp{\\*\\shpinst{\\sp{\\sn fillColor}{\\sv 14745599}}{\\sp{\\sn fFilled}{\\sv 1}}"
      "{\\sp{\\sn fBackground}{\\sv 1}}}}}\n"
      "\\pard\\qc\\fs48 A large heading\\par\n"
      "\\pard\\fs20 Plain, {\\b bold}, {\\cf1 red} and {\\highlight2 highlighted} text.\\par\n"
      "\\pard\\par\n"
      "\\pard\\qr {\\cf3\\b Navy bold} at the right\\par\n"
      "\\pard\\qj A justified paragraph that is long enough to wrap over several handheld lines of text.\\par\n"
      "\\pard\\li1200 Indented, caf\\'e9 {\\\\} \\{braces\\}\\par\n"
      "}\n";
  ExportOptions options;
  options.font_size = 20;
  const auto [first, second] = round_trip(rtf, "round.rtf", &stage_rtf, &ExportRtf, options);
  const auto before = paragraphs_of(first);
  ASSERT_EQ(before.size(), 6u);
  EXPECT_EQ(paragraphs_of(second), before);
  EXPECT_EQ(second.data.back(), first.data.back());  // the background
  EXPECT_NE(first.data.back(), kWhiteIndex);
}

}  // namespace
}  // namespace vellora
