// What every importer promises the send pass, whatever it reads: a source
// it cannot read stages nothing, a source that is not a regular file is
// refused before it is opened, a document is either whole or reported as
// cut, the same text stages the same bytes, and the document is named by
// the handheld name rule.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>

#include "conduit/document_types.h"
#include "docmodel/packer.h"
#include "docmodel/palette.h"
#include "importers/html/html_importer.h"
#include "importers/rtf/rtf_importer.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

TEST(EveryImporter, AnUnreadableSourceLeavesNoStagingFiles) {
  for (const DocumentType& type : document_types()) {
    SCOPED_TRACE(type.extension);
    testing::TempDir dir;
    const std::string absent = "absent" + std::string(type.extension);
    const ImportResult missing = type.import(dir / absent, dir.path(), absent, {});
    EXPECT_EQ(missing.status, ImportStatus::cannot_read);
    EXPECT_NE(missing.reason.find(absent), std::string::npos) << missing.reason;
    const std::string folder = "folder" + std::string(type.extension);
    std::filesystem::create_directory(dir / folder);
    EXPECT_EQ(type.import(dir / folder, dir.path(), folder, {}).status, ImportStatus::cannot_read);
    EXPECT_EQ(testing::file_names(dir.path()), (std::vector<std::string>{folder}));
  }
}

TEST(EveryImporter, RefusesDevicesAndFifosWithoutOpeningThem) {
  testing::TempDir dir;
  for (const DocumentType& type : document_types()) {
    SCOPED_TRACE(type.extension);
    // A FIFO with no writer would block the open; /dev/zero would never end.
    const std::string fifo = "fifo" + std::string(type.extension);
    ASSERT_EQ(::mkfifo((dir / fifo).c_str(), 0600), 0);
    const ImportResult from_fifo = type.import(dir / fifo, dir.path(), fifo, {});
    EXPECT_EQ(from_fifo.status, ImportStatus::cannot_read);
    EXPECT_EQ(from_fifo.reason, (dir / fifo).string() + ": is a FIFO, not a regular file");
    const std::string zero = "zero" + std::string(type.extension);
    std::filesystem::create_symlink("/dev/zero", dir / zero);
    const ImportResult from_device = type.import(dir / zero, dir.path(), zero, {});
    EXPECT_EQ(from_device.status, ImportStatus::cannot_read);
    EXPECT_NE(from_device.reason.find("is a character device"), std::string::npos) << from_device.reason;
  }
}

// A sync stages one paragraph past what a database holds: a document of
// exactly that many arrives whole, one more is reported as cut.
TEST(EveryImporter, ADocumentAtTheParagraphLimitIsWholeAndOneMoreIsCut) {
  struct Case {
    std::string extension, head, paragraph, tail;
  } cases[] = {
      {".txt", "", "x\n", ""},
      {".htm", "<html><body>", "x<br>", ""},
      {".rtf", "{\\rtf1 ", "x\\par ", "}"},
  };
  testing::TempDir dir;
  for (const Case& c : cases) {
    for (const std::size_t count : {kMaxParagraphs, kMaxParagraphs + 1}) {
      SCOPED_TRACE(c.extension + " " + std::to_string(count));
      std::string text = c.head;
      for (std::size_t i = 0; i < count; ++i) text += c.paragraph;
      text += c.tail;
      const std::string name = "doc" + c.extension;
      testing::write_file(dir / name, text);
      PackedDocument document;
      DocumentPacker packer(document);
      ImportOptions options(kMaxParagraphs + 1);
      options.sink = &packer;
      const ImportResult imported = find_document_type(c.extension)->import(dir / name, dir.path(), name, options);
      ASSERT_TRUE(imported) << imported.reason;
      EXPECT_TRUE(imported.incomplete.empty()) << imported.incomplete;
      EXPECT_EQ(document.was_cut, count > kMaxParagraphs);
      EXPECT_EQ(document.paragraphs, kMaxParagraphs);
    }
  }
}

// The five letters of "Hello" as one paragraph: the name record, the
// alignment, the text, one cell per letter and the background.
TEST(EveryImporter, StagesTheGoldenBytesOfHello) {
  struct Case {
    Conversion convert;
    std::string input;
    std::string name;
    std::string name_bytes;
  } cases[] = {
      {&stage_html, "<html><body>Hello</body></html>", "hello.htm", "68 65 6C 6C 6F 2E 68 74 6D"},
      {&stage_rtf, "{\\rtf1 Hello\\par}", "hello.rtf", "68 65 6C 6C 6F 2E 72 74 66"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const StagingBytes staged =
        import_bytes({reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size()}, c.name, c.convert);
    EXPECT_TRUE(testing::BytesEqual(staged.data,
                                    testing::hex_bytes(c.name_bytes + " 00 00 00 00 00 00 00"
                                                                      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                                                                      "00 00 00 00"     // left
                                                                      "48 65 6C 6C 6F"  // "Hello"
                                                                      // kind 0, black, no highlight, font 0
                                                                      "00 00 00 00 E6 FA 00 00 00 00"
                                                                      "00 00 00 00 E6 FA 00 00 00 00"
                                                                      "00 00 00 00 E6 FA 00 00 00 00"
                                                                      "00 00 00 00 E6 FA 00 00 00 00"
                                                                      "00 00 00 00 E6 FA 00 00 00 00"
                                                                      "00")));  // white background
    EXPECT_TRUE(testing::BytesEqual(staged.sizes, testing::hex_bytes("05 00")));
  }
}

// Staging files that cannot be written are reported, with the file, and
// removed: a document must not be taken for staged when it is not all there.
TEST(EveryImporter, AStagingFileThatCannotBeWrittenIsReportedAndRemoved) {
  testing::TempDir dir;
  for (const std::string extension : {".txt", ".htm", ".rtf"}) {
    SCOPED_TRACE(extension);
    const std::string name = "doc" + extension;
    testing::write_file(dir / name, "{\\rtf1 <html>text\\par}");
    // A full disk fails the sizes file's bytes as they go out, at the end.
    std::filesystem::create_symlink("/dev/full", dir / kStagingSizesFile);
    const ImportResult imported = find_document_type(extension)->import(dir / name, dir.path(), name, {});
    EXPECT_EQ(imported.status, ImportStatus::cannot_write);
    EXPECT_EQ(imported.reason, (dir / kStagingSizesFile).string() + ": No space left on device");
    EXPECT_EQ(testing::file_names(dir.path()), (std::vector<std::string>{name}));
    std::filesystem::remove(dir / name);
  }
}

TEST(HandheldName, ShortNamesStayWholeLongOnesKeepTheirExtension) {
  EXPECT_EQ(handheld_name("report.htm"), "report.htm");
  EXPECT_EQ(handheld_name(std::string(31, 'a')), std::string(31, 'a'));
  // 40 characters: 36 letters and digits, then .txt.
  EXPECT_EQ(handheld_name("abcdefghijklmnopqrstuvwxyz0123456789.txt"), "abcdefghijklmnopqrstuvwxyz0.txt");
  EXPECT_EQ(handheld_name(std::string(40, 'x')), std::string(31, 'x'));
  EXPECT_EQ(handheld_name("a.b" + std::string(40, 'c') + ".html"), "a.b" + std::string(23, 'c') + ".html");
  // An extension that alone is too long keeps its first 31 characters.
  EXPECT_EQ(handheld_name("a." + std::string(40, 'e')), "." + std::string(30, 'e'));
}

// Counts what reaches it.
struct CountingSink final : StagingSink {
  void take_name(const std::array<char, kNameRecordBytes>& record) override { names.emplace_back(record.data()); }
  void take_paragraph(std::int32_t, std::span<const std::uint8_t> text, std::span<const std::uint8_t> cells) override {
    ++paragraphs;
    cell_bytes += cells.size();
    text_bytes += text.size();
  }
  void take_background(std::uint8_t background) override { backgrounds.push_back(background); }
  std::vector<std::string> names;
  std::size_t paragraphs = 0, text_bytes = 0, cell_bytes = 0;
  std::vector<std::uint8_t> backgrounds;
};

TEST(StagingOutput, HandsOnOnlyTheCellsOfTheTextAndCountsToTheLimit) {
  CountingSink sink;
  StagingOutput out(sink, 2);
  const std::vector<std::uint8_t> text = {'a', 'b', 'c'};
  // An importer may hand over its whole buffer of cells.
  const std::vector<std::uint8_t> cells(kMaxParagraphChars * kCellBytes, 0);
  out.write_paragraph(kAlignLeft, text, cells);
  EXPECT_EQ(sink.paragraphs, 1u);
  EXPECT_EQ(sink.text_bytes, 3u);
  EXPECT_EQ(sink.cell_bytes, 3 * kCellBytes);
  EXPECT_FALSE(out.is_full());
  out.write_paragraph(kAlignLeft, text, cells);
  EXPECT_EQ(out.paragraphs(), 2u);
  EXPECT_TRUE(out.is_full());
  EXPECT_TRUE(sink.names.empty() && sink.backgrounds.empty()) << "the name and background are the caller's";
}

TEST(StageBytes, NamesTheDocumentThenStagesItsParagraphsThenItsBackground) {
  CountingSink sink;
  const std::string input = "<html><body bgcolor=black>one<p>two<p>three";
  const Converted converted = stage_bytes({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()},
                                          "a very long page name of 43 characters.html", &stage_html, sink, 2);
  EXPECT_EQ(sink.names, std::vector<std::string>{"a very long page name of 4.html"});
  EXPECT_EQ(sink.paragraphs, 2u);
  EXPECT_EQ(sink.backgrounds, std::vector<std::uint8_t>{converted.background});
  EXPECT_NE(converted.background, kWhiteIndex);
}

}  // namespace
}  // namespace vellora
