// HTML through the importer, the builder and the exporter, and the export
// through the importer again: what HTML can carry (the text of every
// paragraph, its alignment, each character's font and colour, rules and
// the background) must survive the round.
#include <gtest/gtest.h>

#include "docmodel/builder.h"
#include "exporters/html_exporter.h"
#include "importers/html/html_importer.h"
#include "tests/support/fake_sync_manager.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

struct Paragraph {
  std::int32_t alignment;
  std::string text;
  std::vector<std::pair<std::int32_t, std::uint8_t>> looks;  // font and colour of each character
  bool operator==(const Paragraph&) const = default;
  friend void PrintTo(const Paragraph& p, std::ostream* out) {
    *out << "\n  [" << p.alignment << "] \"" << p.text << "\" looks";
    for (const auto& [font, colour] : p.looks) *out << ' ' << font << '/' << int{colour};
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
      paragraph = {kAlignLeft, "<rule>", {{first.font, first.colour}}};
    } else {
      for (std::size_t c = 0; c < p.size(); ++c) {
        const AttributeCell cell = decode_cell(p.cell(c));
        paragraph.looks.emplace_back(cell.font, cell.colour);
      }
    }
    out.push_back(std::move(paragraph));
  }
  return out;
}

StagingBytes import(const std::string& html, const std::string& name) {
  return import_bytes({reinterpret_cast<const std::uint8_t*>(html.data()), html.size()}, name, &stage_html);
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
  const StagingBytes first = import(page, "round.htm");
  PackedDocument document;
  ASSERT_TRUE(pack_document(first, document));
  testing::FakeSyncManager handheld;
  ASSERT_TRUE(write_document(document, handheld));
  testing::TempDir dir;
  ASSERT_TRUE(ExportHtml(handheld, "round.htm", dir / "round.htm"));
  const auto exported = testing::read_file(dir / "round.htm");
  const StagingBytes second = import(std::string(exported.begin(), exported.end()), "round.htm");

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

}  // namespace
}  // namespace vellora
