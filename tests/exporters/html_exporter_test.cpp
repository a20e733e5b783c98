#include "exporters/html_exporter.h"

#include <gtest/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/documents.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

using Bytes = std::vector<std::uint8_t>;
struct StyledRun {
  std::string text;
  std::uint8_t font = 0, colour = kBlackIndex;
};

// A text record laid out by hand: one line entry per inner list of runs.
Bytes text_record(const std::vector<std::vector<StyledRun>>& lines, std::uint16_t alignment = kAlignLeft) {
  TextRecord record;
  record.alignment = alignment;
  for (const auto& runs : lines) {
    TextLine& line = record.lines.emplace_back();
    line.entry.run_count = static_cast<std::uint8_t>(runs.size());
    for (const auto& run : runs) {
      record.text.insert(record.text.end(), run.text.begin(), run.text.end());
      line.runs.push_back(
          RunEntry{kTextRun, static_cast<std::uint8_t>(run.text.size()), 0, 11, run.font, run.colour, kNoHighlight});
    }
  }
  return encode_text_record(record);
}

Bytes text_record(const std::string& text, std::uint16_t alignment = kAlignLeft) {
  return text_record({{{text}}}, alignment);
}

Bytes rule_record(std::uint8_t thickness, std::uint8_t colour) {
  Bytes bytes(kShortRecordBytes);
  encode_rule(bytes.data(), RuleRecord{0, thickness, colour, kNoHighlight});
  return bytes;
}

Bytes packed(const StagedParagraph& paragraph) {
  ByteVector bytes;
  pack_paragraph(paragraph, bytes);
  return {bytes.begin(), bytes.end()};
}

Bytes empty_line() { return packed(testing::special(kEmptyParagraphCell)); }

std::string page(const std::string& title, const std::string& body, const std::string& background = "#ffffff") {
  return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD W3 HTML//EN\">\n"
         "<!-- Generated with Vellora for PalmOS. Brisholm Ltd. Web site: " +
         std::string(kMakerWebAddress) + " -->\n<html>\n<head>\n<title>" + title + "</title>\n\n<body bgcolor=\"" +
         background + "\">\n\n<basefont face=\"\">\n" + body + "</body>\n</html>\n";
}

std::string para(const std::string& runs, const std::string& align = "left") {
  return "<p align=\"" + align + "\">\n" + runs + "</p>\n";
}

std::string font(const std::string& text, const std::string& colour = "#000000", int size = 3) {
  return "<font color=\"" + colour + "\" size=\"" + std::to_string(size) + "\">" + text + "</font>";
}

class HtmlExport : public ::testing::Test {
 protected:
  void put(const std::string& name, const std::vector<Bytes>& paragraphs, std::uint8_t background = kWhiteIndex) {
    auto& db = handheld.add_database(name, kDocumentType, kDocumentCreator, kDocumentVersion);
    Bytes header(kHeaderRecordBytes);
    encode_header(header.data(), HeaderRecord{kHeaderTag, 0, background});
    db.records.push_back({header, 0, 0, 0});
    for (const auto& bytes : paragraphs) db.records.push_back({bytes, 0, 0, 0});
  }
  std::string exported(const std::string& name, ExportStatus expect = ExportStatus::ok,
                       const ExportOptions& options = {}) {
    const auto result = ExportHtml(handheld, name, out, options);
    EXPECT_EQ(result.status, expect) << result.reason;
    EXPECT_EQ(std::filesystem::exists(out), expect == ExportStatus::ok);
    EXPECT_FALSE(handheld.databases.count(name) && handheld.databases.at(name).is_open);
    const auto bytes = testing::read_file(out);
    return {bytes.begin(), bytes.end()};
  }
  std::string exported(const std::vector<Bytes>& paragraphs, std::uint8_t background = kWhiteIndex) {
    put("doc.htm", paragraphs, background);
    return exported("doc.htm");
  }
  testing::TempDir dir;
  testing::FakeSyncManager handheld;
  std::filesystem::path out = dir / "out.htm";
};

TEST_F(HtmlExport, OneParagraphIsAWholePageWithoutTitle) {
  put("notes.htm", {text_record("hello")});
  EXPECT_EQ(
      exported("notes.htm", ExportStatus::ok, ExportOptions{"Times New Roman", 24}),
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD W3 HTML//EN\">\n"
      "<!-- Generated with Vellora for PalmOS. Brisholm Ltd. Web site: http://www.brisholm.co.uk -->\n"
      "<html>\n<head>\n<title>No title</title>\n\n<body bgcolor=\"#ffffff\">\n\n"
      "<basefont face=\"Times New Roman\">\n<p align=\"left\">\n<font color=\"#000000\" size=\"3\">hello</font></p>\n"
      "</body>\n</html>\n");
  EXPECT_EQ(handheld.calls, (std::vector<std::string>{
                                "SyncOpenDB(name=notes.htm, card=0, mode=144)", "SyncGetDBRecordCount(1)",
                                "SyncReadOpenDbInfo(1)", "SyncReadRecordByIndex(handle=1, index=0, buffer_size=65535)",
                                "SyncReadRecordByIndex(handle=1, index=1, buffer_size=65535)", "SyncCloseDB(1)"}));
}

TEST_F(HtmlExport, PagesByCase) {
  std::string high;  // bytes 128 to 159 stay as they are
  for (int byte = 128; byte < 160; ++byte) high += static_cast<char>(byte);
  const std::string hello = para(font("Hello"));
  const Bytes hr = rule_record(2, 230);
  const struct {
    const char* what;
    std::vector<Bytes> records;
    std::string title, body, background = "#ffffff";
    std::uint8_t background_index = kWhiteIndex;
  } cases[] = {
      {"title from text + rule", {text_record("My Title"), hr, text_record("Hello")}, "My Title", hello},
      {"title up to a zero byte, unchanged", {text_record(std::string("a<b\xE9\0c", 6)), hr}, "a<b\xE9", ""},
      {"text + empty line: no title",
       {text_record("My Title"), empty_line()},
       "No title",
       para(font("My Title")) + "<br>\n"},
      {"rule first: no title", {hr, text_record("Hello")}, "No title", "<hr color=\"#000000\" size=\"4\">\n" + hello},
      {"spaces after a space", {text_record("a   b")}, "No title", para(font("a &nbsp;&nbsp;b"))},
      {"markup and Latin-1 by name",
       {text_record("x < y\"&>\xA0\xA9\xE9\xFF")},
       "No title",
       para(font("x &lt; y&quot;&amp;&gt;&nbsp;&copy;&eacute;&yuml;"))},
      {"bytes below 160 unchanged", {text_record(high + "\t\x01\x7F")}, "No title", para(font(high + "\t\x01\x7F"))},
      {"runs by font across lines; a run's first space is plain",
       {text_record({{{"a ", 0, 230}, {" b", 1, 125}}, {{"  c", 2, 107}, {"d", 7, 0}}, {}})},
       "No title",
       para(font("a ") + "<font color=\"#ff0000\" size=\"4\"><strong> b</strong></font>" +
            font(" &nbsp;c", "#000099", 5) + font("d", "#ffffff"))},
      {"justified: every space its own run",
       {packed(testing::paragraph("a  b", kAlignJustified))},
       "No title",
       para(font("a") + font(" ") + font(" ") + font("b"), "justify")},
      {"alignment words; unknown codes as left",
       {text_record("", 1), text_record("", 2), text_record("", 3), text_record("", 4), text_record("", 0xFFFF)},
       "No title",
       para(font(""), "right") + para(font(""), "justify") + para(font(""), "center") + para(font("")) +
           para(font(""))},
      {"other kinds and short records write nothing",
       {Bytes{0, 7, 0, 8}, Bytes{0}, Bytes{}, text_record(std::vector<std::vector<StyledRun>>{})},
       "No title",
       para("")},
      {"background 231",
       {empty_line(), rule_record(255, 0)},
       "No title",
       "<br>\n<hr color=\"#ffffff\" size=\"510\">\n",
       "#000000",
       231},
      {"background 255", {empty_line()}, "No title", "<br>\n", "#000000", 255},
      {"background 18", {empty_line()}, "No title", "<br>\n", "#ccffff", 18},
  };
  for (const auto& c : cases) {
    handheld.databases.clear();
    EXPECT_EQ(exported(c.records, c.background_index), page(c.title, c.body, c.background)) << c.what;
  }
}

TEST_F(HtmlExport, DamagedTextRecordsStopAtTheFirstEntryThatDoesNotFit) {
  const Bytes whole = text_record({{{"ab"}}, {{"cd"}, {"ef"}}});  // 16 + 6 text + 8 + 8 + 8 + 16
  const auto cut = [&](std::size_t size) {
    return Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
  };
  const auto with = [&](std::size_t at, std::uint8_t value) {
    Bytes bytes = whole;
    bytes[at] = value;
    return bytes;
  };
  const struct {
    const char* what;
    Bytes record;
    std::string runs;
  } cases[] = {
      {"last run entry cut", cut(61), font("ab") + font("cd")},
      {"second line's runs missing", cut(46), font("ab")},
      {"second line entry cut", cut(45), font("ab")},
      {"first run entry cut", cut(33), ""},
      {"text cut", cut(19), ""},
      {"head cut", cut(5), ""},
      {"a run claims more text than there is", with(32, 200), font("abcdef") + font("") + font("")},
      {"more lines claimed than held", with(9, 9), font("ab") + font("cd") + font("ef")},
  };
  for (const auto& c : cases) {
    handheld.databases.clear();
    EXPECT_EQ(exported({c.record}), page("No title", para(c.runs))) << c.what;
  }
  // Records past the 4096 bytes of a small read buffer are read whole.
  handheld.databases.clear();
  const std::vector<StyledRun> runs(40, StyledRun{std::string(250, 'x')});
  std::string html;
  for (const auto& run : runs) html += font(run.text);
  EXPECT_EQ(exported({text_record({runs})}), page("No title", para(html)));
}

TEST_F(HtmlExport, NoFileWhenTheDatabaseCannotBeExportedOrAReadOrWriteFails) {
  testing::put_document(handheld, "empty.htm", {});
  exported("empty.htm", ExportStatus::no_paragraphs);
  testing::put_document(handheld, "old.htm", {"text"}, 1);
  exported("old.htm", ExportStatus::wrong_version);
  exported("absent.htm", ExportStatus::not_found);
  testing::put_document(handheld, "theirs.htm", {"text"}).type = make_four_cc("DATA");
  exported("theirs.htm", ExportStatus::wrong_type);

  put("doc.htm", {text_record("one"), rule_record(1, 0), text_record("two"), text_record("three")});
  for (int call = 4; call <= 8; ++call) {  // open, count, info, then the reads of records 0 to 4
    handheld.calls.clear();
    handheld.fail_call_number = call;
    exported("doc.htm", ExportStatus::read_failed);
  }
  handheld.fail_call_number = 0;
  out = dir / "missing folder" / "out.htm";
  exported("doc.htm", ExportStatus::cannot_write);
}

TEST_F(HtmlExport, GoldenDocument) {
  using testing::paragraph, testing::restyle, testing::special, testing::text_cell;
  auto intro = paragraph(
      "Fish & Chips <now> for \xA3"
      "3.50 at the \"Caf\xE9 du Port\".");
  restyle(intro, 0, 12, text_cell(1, 125));
  auto notes = paragraph("Two  spaces, three   spaces and a tab\there.", kAlignRight);
  restyle(notes, 3, 5, text_cell(0, 230, 18));
  const auto justified = paragraph(
      "A justified paragraph long enough to need several lines on the handheld, so that its "
      "spaces become runs of their own.",
      kAlignJustified, text_cell(0, 107));
  put("welcome.htm",
      {packed(paragraph("Welcome to Vellora", kAlignCentred, text_cell(2, 107))), packed(special(kRuleCell, 1)),
       packed(intro), empty_line(), packed(notes), packed(justified), packed(special(kRuleCell, 2, 226)),
       packed(paragraph("The end.", kAlignCentred, text_cell(2, 228)))},
      6);
  exported("welcome.htm", ExportStatus::ok, ExportOptions{"Times New Roman", 12});
  const auto golden = std::filesystem::path(VELLORA_SOURCE_DIR) / "tests/golden/html/welcome.htm";
  EXPECT_TRUE(testing::BytesEqual(testing::read_file(out), testing::read_file(golden)));
}

}  // namespace
}  // namespace vellora
