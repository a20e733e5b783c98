#include "exporters/rtf_exporter.h"

#include <gtest/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/documents.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

using Bytes = std::vector<std::uint8_t>;
struct StyledRun {
  std::string text;
  std::uint8_t font = 0, colour = kBlackIndex, highlight = kNoHighlight;
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
          RunEntry{kTextRun, static_cast<std::uint8_t>(run.text.size()), 0, 11, run.font, run.colour, run.highlight});
    }
  }
  return encode_text_record(record);
}

Bytes text_record(const std::string& text, std::uint16_t alignment = kAlignLeft) {
  return text_record({{{text}}}, alignment);
}

Bytes packed(const StagedParagraph& paragraph) {
  ByteVector bytes;
  pack_paragraph(paragraph, bytes);
  return {bytes.begin(), bytes.end()};
}

Bytes empty_line() { return packed(testing::special(kEmptyParagraphCell)); }
Bytes rule() { return packed(testing::special(kRuleCell, 2, 125)); }

const std::string kBlack = "\\red0\\green0\\blue0;";
const std::string kRed = "\\red255\\green0\\blue0;";
const std::string kCyan = "\\red204\\green255\\blue255;";  // palette index 18

std::string background_lines(const std::string& fill) {
  return "{\\*\\background {\\shp{\\*\\shpinst\\shpleft0\\shptop0\\shpright0\\shpbottom0\\shpfhdr0\\shpbxmargin"
         "\\shpbymargin\\shpwr0\\shpwrk0\\shpfblwtxt1\\shpz0\\shplid1025{\\sp{\\sn shapeType}{\\sv 1}}"
         "{\\sp{\\sn fFlipH}{\\sv 0}}{\\sp{\\sn fFlipV}{\\sv 0}}\n"
         "{\\sp{\\sn fillColor}{\\sv " +
         fill +
         "}}{\\sp{\\sn fFilled}{\\sv 1}}{\\sp{\\sn lineWidth}{\\sv 0}}{\\sp{\\sn fLine}{\\sv 0}}"
         "{\\sp{\\sn bWMode}{\\sv 9}}{\\sp{\\sn fBackground}{\\sv 1}}}}}\n\\viewkind5\n";
}

// A whole file with the font name "Arial"; `colours` are the table's entries.
std::string document(const std::string& colours, const std::string& paragraphs, const std::string& background = "") {
  return "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fnil Arial;}}\n" +
         (colours.empty() ? "" : "{\\colortbl" + colours + "}") + "\n\\deflang1033\n" + background + paragraphs + "}\n";
}

std::string para(const std::string& runs, const std::string& align = "\\ql") {
  return "{\\pard" + align + "\\plain " + runs + "\\par}\n";
}

std::string run(const std::string& text, const std::string& head = "\\cf0 \\fs20 ") {
  return "{\\plain" + head + text + "}";
}

class RtfExport : public ::testing::Test {
 protected:
  void put(const std::string& name, const std::vector<Bytes>& paragraphs, std::uint8_t background = kWhiteIndex) {
    auto& db = handheld.add_database(name, kDocumentType, kDocumentCreator, kDocumentVersion);
    Bytes header(kHeaderRecordBytes);
    encode_header(header.data(), HeaderRecord{kHeaderTag, 0, background});
    db.records.push_back({header, 0, 0, 0});
    for (const auto& bytes : paragraphs) db.records.push_back({bytes, 0, 0, 0});
  }
  std::string exported(const std::string& name, ExportStatus expect = ExportStatus::ok,
                       const ExportOptions& options = {"Arial", 10}) {
    const auto result = ExportRtf(handheld, name, out, options);
    EXPECT_EQ(result.status, expect) << result.reason;
    EXPECT_EQ(std::filesystem::exists(out), expect == ExportStatus::ok);
    EXPECT_FALSE(handheld.databases.count(name) && handheld.databases.at(name).is_open);
    const auto bytes = testing::read_file(out);
    return {bytes.begin(), bytes.end()};
  }
  std::string exported(const std::vector<Bytes>& paragraphs, std::uint8_t background = kWhiteIndex,
                       std::uint32_t font_size = 10) {
    handheld.databases.clear();
    put("doc.rtf", paragraphs, background);
    return exported("doc.rtf", ExportStatus::ok, ExportOptions{"Arial", font_size});
  }
  testing::TempDir dir;
  testing::FakeSyncManager handheld;
  std::filesystem::path out = dir / "out.rtf";
};

TEST_F(RtfExport, HelloIsFiveLinesAndTheRecordsAreReadTwice) {
  put("notes.rtf", {text_record("hello")});
  EXPECT_EQ(exported("notes.rtf", ExportStatus::ok, ExportOptions{"Times New Roman", 10}),
            "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fnil Times New Roman;}}\n"
            "{\\colortbl\\red0\\green0\\blue0;}\n"
            "\\deflang1033\n"
            "{\\pard\\ql\\plain {\\plain\\cf0 \\fs20 hello}\\par}\n"
            "}\n");
  EXPECT_EQ(handheld.calls, (std::vector<std::string>{
                                "SyncOpenDB(name=notes.rtf, card=0, mode=144)", "SyncGetDBRecordCount(1)",
                                "SyncReadOpenDbInfo(1)", "SyncReadRecordByIndex(handle=1, index=0, buffer_size=65535)",
                                "SyncReadRecordByIndex(handle=1, index=1, buffer_size=65535)",
                                "SyncReadRecordByIndex(handle=1, index=1, buffer_size=65535)", "SyncCloseDB(1)"}));
}

TEST_F(RtfExport, ParagraphsByCase) {
  const std::vector<StyledRun> long_runs(80, StyledRun{std::string(250, 'x')});  // a 20,000-byte record
  std::string long_text;
  for (const auto& r : long_runs) long_text += run(r.text);
  const struct {
    const char* what;
    std::vector<Bytes> records;
    std::string colours, body;
    std::uint32_t font_size = 10;
  } cases[] = {
      {"sizes by font at 12 points; unknown fonts as standard",
       {text_record({{{"a"}, {"b", 1}, {"c", 2}, {"d", 7}}})},
       kBlack,
       para(run("a", "\\cf0 \\fs24 ") + run("b", "\\cf0 \\fs28 \\b ") + run("c", "\\cf0 \\fs32 ") +
            run("d", "\\cf0 \\fs24 ")),
       12},
      {"highlight form; a colour first used as a highlight is listed after earlier colours",
       {text_record({{{"a", 0, 125}}}), text_record({{{"b", 1, 230, 18}, {"c", 0, 18}}})},
       kRed + kBlack + kCyan,
       para(run("a")) + para(run("b", "\\cf1 \\highlight2 \\fs24 \\b ") + run("c", "\\cf2 \\fs20 "))},
      {"a highlight equal to its colour adds no entry",
       {text_record({{{"a", 0, 125, 125}}})},
       kRed,
       para(run("a", "\\cf0 \\highlight0 \\fs20 "))},
      {"colour 250 is a colour; highlight 250 is none", {text_record({{{"a", 0, 250, 250}}})}, kBlack, para(run("a"))},
      {"escapes: specials, NUL and bytes above 0x80",
       {text_record(std::string("\xE9\x80{}\\\x7F\x81\xFF\0x\t", 11))},
       kBlack,
       para(run("\\'e9\x80\\'7b\\'7d\\'5c\x7F\\'81\\'ff\\'00x\t"))},
      {"empty lines, rules and other kinds are empty paragraphs",
       {empty_line(), rule(), Bytes{0, 7, 0, 8}, Bytes{0}},
       "",
       "{\\pard\\par}\n{\\pard\\par}\n{\\pard\\par}\n{\\pard\\par}\n"},
      {"alignment words; unknown codes add none",
       {text_record("", 1), text_record("", 2), text_record("", 3), text_record("", 4), text_record("", 0xFFFF)},
       kBlack,
       para(run(""), "\\qr") + para(run(""), "\\qj") + para(run(""), "\\qc") + para(run(""), "") + para(run(""), "")},
      {"a record without lines has no runs", {text_record(std::vector<std::vector<StyledRun>>{})}, "", para("")},
      {"justified: every space a group of its own",
       {packed(testing::paragraph("a  b", kAlignJustified))},
       kBlack,
       para(run("a") + run(" ") + run(" ") + run("b"), "\\qj")},
      {"runs take the text in order across lines",
       {text_record({{{"one "}, {"two ", 1}}, {{"three", 0, 0}}})},
       kBlack + "\\red255\\green255\\blue255;",
       para(run("one ") + run("two ", "\\cf0 \\fs24 \\b ") + run("three", "\\cf1 \\fs20 "))},
      {"long runs and records past 16384 bytes are whole", {text_record({long_runs})}, kBlack, para(long_text)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(exported(c.records, kWhiteIndex, c.font_size), document(c.colours, c.body)) << c.what;
}

TEST_F(RtfExport, BackgroundLinesUnlessWhite) {
  const struct {
    std::uint8_t index;
    std::string lines;
  } cases[] = {{0, ""},
               {125, background_lines("255")},
               {18, background_lines("16777164")},  // 204 + 256 x 255 + 65536 x 255
               {230, background_lines("0")},
               {231, background_lines("0")}};
  for (const auto& c : cases)
    EXPECT_EQ(exported({empty_line()}, c.index), document("", "{\\pard\\par}\n", c.lines)) << int{c.index};
}

TEST_F(RtfExport, FontSizeIsClampedBeforeTheHalfPoints) {
  const struct {
    std::uint32_t points;
    const char *standard, *bold, *large;
  } cases[] = {{0, "2", "6", "10"},
               {1, "2", "6", "10"},
               {32763, "65526", "65530", "65534"},
               {32764, "65526", "65530", "65534"},
               {0xFFFFFFFF, "65526", "65530", "65534"}};
  for (const auto& c : cases) {
    const auto head = [](const std::string& size) { return "\\cf0 \\fs" + size + " "; };
    EXPECT_EQ(
        exported({text_record({{{"a"}, {"b", 1}, {"c", 2}}})}, kWhiteIndex, c.points),
        document(kBlack, para(run("a", head(c.standard)) + run("b", head(c.bold) + "\\b ") + run("c", head(c.large)))))
        << c.points;
  }
}

TEST_F(RtfExport, DamagedRecordsGiveTheSameRunsToTheTableAndTheText) {
  // 16 head + 6 text + line 8 + run 8 + line 8 + runs 8 + 8: the last run is
  // the only one in red, so a cut that loses it loses red from the table.
  const Bytes whole = text_record({{{"ab"}}, {{"cd"}, {"ef", 0, 125}}});
  const auto cut = [&](std::size_t size) {
    return Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
  };
  Bytes greedy = whole;
  greedy[32] = 200;  // the first run claims more text than there is
  const struct {
    const char* what;
    Bytes record;
    std::string colours, runs;
  } cases[] = {
      {"whole", whole, kBlack + kRed, run("ab") + run("cd") + run("ef", "\\cf1 \\fs20 ")},
      {"last run entry cut", cut(61), kBlack, run("ab") + run("cd")},
      {"second line entry cut", cut(45), kBlack, run("ab")},
      {"text cut", cut(19), "", ""},
      {"head cut", cut(5), "", ""},
      {"a run claims more text than there is", greedy, kBlack + kRed,
       run("abcdef") + run("") + run("", "\\cf1 \\fs20 ")},
  };
  for (const auto& c : cases) EXPECT_EQ(exported({c.record}), document(c.colours, para(c.runs))) << c.what;
}

TEST_F(RtfExport, NoFileWhenTheDatabaseCannotBeExportedOrAReadOrWriteFails) {
  testing::put_document(handheld, "empty.rtf", {});
  exported("empty.rtf", ExportStatus::no_paragraphs);
  testing::put_document(handheld, "old.rtf", {"text"}, 1);
  exported("old.rtf", ExportStatus::wrong_version);
  exported("absent.rtf", ExportStatus::not_found);
  testing::put_document(handheld, "theirs.rtf", {"text"}).type = make_four_cc("DATA");
  exported("theirs.rtf", ExportStatus::wrong_type);

  put("doc.rtf", {text_record("one"), rule(), text_record("two")});
  // open, count, info, header, three records in the colour pass, the same
  // three again while writing: a failure anywhere leaves no file.
  for (int call = 4; call <= 10; ++call) {
    handheld.calls.clear();
    handheld.fail_call_number = call;
    exported("doc.rtf", ExportStatus::read_failed);
  }
  handheld.fail_call_number = 0;
  out = dir / "missing folder" / "out.rtf";
  exported("doc.rtf", ExportStatus::cannot_write);
}

// A handheld whose records read differently the second time.
class ShiftingHandheld : public testing::FakeSyncManager {
 public:
  SyncStatus SyncReadRecordByIndex(RecordDescriptor& record) override {
    const SyncStatus status = FakeSyncManager::SyncReadRecordByIndex(record);
    if (record.index == 1 && ++reads_of_first_ == 2) record.data[16 + 1 + 8 + 6] = 125;  // the run's colour
    return status;
  }

 private:
  int reads_of_first_ = 0;
};

TEST(RtfExportShifting, AColourMissingFromTheTableFailsTheExport) {
  testing::TempDir dir;
  ShiftingHandheld handheld;
  testing::put_document(handheld, "doc.rtf", {"a"});
  const auto result = ExportRtf(handheld, "doc.rtf", dir / "out.rtf");
  EXPECT_EQ(result.status, ExportStatus::read_failed) << result.reason;
  EXPECT_FALSE(std::filesystem::exists(dir / "out.rtf"));
}

TEST_F(RtfExport, GoldenDocument) {
  using testing::paragraph, testing::restyle, testing::special, testing::text_cell;
  auto intro = paragraph(
      "Fish & Chips {now} for \xA3"
      "3.50 at the \"Caf\xE9 du Port\" \\ quay.");
  restyle(intro, 0, 12, text_cell(1, 125));
  auto notes = paragraph("Marked words, a highlight equal to its colour and a plain end.", kAlignRight);
  restyle(notes, 0, 12, text_cell(0, 230, 18));
  restyle(notes, 16, 25, text_cell(0, 226, 226));
  const auto justified = paragraph(
      "A justified paragraph long enough to need several lines on the handheld, so that its "
      "spaces become runs of their own.",
      kAlignJustified, text_cell(0, 107));
  put("welcome.rtf",
      {packed(paragraph("Welcome to Vellora", kAlignCentred, text_cell(2, 107))), packed(special(kRuleCell, 1)),
       packed(intro), empty_line(), packed(notes), packed(justified), packed(special(kRuleCell, 2, 226)),
       packed(paragraph("The end.", kAlignCentred, text_cell(2, 228)))},
      6);
  exported("welcome.rtf", ExportStatus::ok, ExportOptions{"Times New Roman", 12});
  const auto golden = std::filesystem::path(VELLORA_SOURCE_DIR) / "tests/golden/rtf/welcome.rtf";
  EXPECT_TRUE(testing::BytesEqual(testing::read_file(out), testing::read_file(golden)));
}

}  // namespace
}  // namespace vellora
