// A UTF-8 desktop and the handheld's character set: what a source, a name
// and an export become, and a note that travels to the handheld and back.
#include "hosts/linux/utf8_codec.h"

#include <gtest/gtest.h>

#include "conduit/entry_points.h"
#include "docmodel/staging.h"
#include "importers/text/text_importer.h"
#include "tests/support/documents.h"
#include "tests/support/fake_platform.h"
#include "tests/support/transcode.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using linux_host::Utf8Codec;

const std::string kAccented = "é ü ß “ ” ‘ ’ € — …";
const std::string kAccentedHandheld = "\xE9 \xFC \xDF \x93 \x94 \x91 \x92 \x80 \x97 \x85";

using testing::transcode;
using testing::Transcoded;

std::string to_pc(const std::string& handheld) {
  std::string out;
  Utf8Codec().append_pc_text({reinterpret_cast<const std::uint8_t*>(handheld.data()), handheld.size()}, out);
  return out;
}

TEST(Utf8Codec, TextBecomesTheHandheldsBytesAndComesBackIdentical) {
  const Transcoded sent = transcode("\xEF\xBB\xBF" + kAccented + "\n");
  ASSERT_TRUE(sent.will_transcode);
  EXPECT_EQ(sent.bytes, kAccentedHandheld + "\n");  // the byte-order mark is dropped
  EXPECT_EQ(sent.replaced, 0u);
  EXPECT_EQ(to_pc(sent.bytes), kAccented + "\n");
  EXPECT_EQ(transcode("♦♣♥♠").bytes, "\x8D\x8E\x8F\x90");

  // Every handheld byte survives the trip to the PC and back.
  std::string every_byte;
  for (int b = 1; b < 256; ++b) every_byte += static_cast<char>(b);
  const Transcoded back = transcode(to_pc(every_byte));
  EXPECT_EQ(back.bytes, every_byte);
  EXPECT_EQ(back.replaced, 0u);
}

TEST(Utf8Codec, CharactersOutsideTheSetBecomeCountedQuestionMarks) {
  const Transcoded sent = transcode("漢字 and 😀, Ž, €");
  EXPECT_EQ(sent.bytes, "?? and ?, ?, \x80");
  EXPECT_EQ(sent.replaced, 4u);
}

TEST(Utf8Codec, SourcesThatAreNotUtf8PassUnchanged) {
  EXPECT_FALSE(transcode("caf\xE9 cr\xE8me").will_transcode);       // Latin-1
  EXPECT_FALSE(transcode("caf\xC3\xA9 then \xC3").will_transcode);  // cut at the end
  EXPECT_FALSE(transcode("\xC0\xAF overlong, \xED\xA0\x80 surrogate").will_transcode);
  EXPECT_FALSE(transcode("plain ASCII").will_transcode);                            // nothing to change
  EXPECT_FALSE(transcode("{\\rtf1 caf\xC3\xA9}", SourceKind::rtf).will_transcode);  // RTF has its escapes
  EXPECT_FALSE(Utf8Codec().source_transcoder(SourceKind::rtf));
}

TEST(Utf8Codec, AnHtmlPageDeclaringALatinSetIsTakenAtItsWord) {
  for (const char* head :
       {"<meta charset=\"ISO-8859-1\">", "<META http-equiv=Content-Type content='text/html; charset=windows-1252'>"})
    EXPECT_FALSE(
        transcode(std::string("<html><head>") + head + "</head><p>caf\xC3\xA9", SourceKind::html).will_transcode)
        << head;
  EXPECT_EQ(transcode("<meta charset=utf-8><p>caf\xC3\xA9", SourceKind::html).bytes, "<meta charset=utf-8><p>caf\xE9");
  // A declaration in the body is text, not the page's own.
  EXPECT_TRUE(transcode("<body><p>&lt;meta charset=latin1&gt; <meta charset=latin1> caf\xC3\xA9", SourceKind::html)
                  .will_transcode);
}

TEST(Utf8Codec, AnHtmlReferenceAbove255BecomesItsCharacter) {
  // The HTML reader takes reference numbers modulo 256, so "&#8364;" would
  // arrive as ','; the transcoder hands it the character instead.
  const Transcoded page =
      transcode("<p>&#8364; &#x2019; &#8220;&#233;&#65; &#9731; &amp; &#8364</p>", SourceKind::html);
  ASSERT_TRUE(page.will_transcode);
  EXPECT_EQ(page.bytes, "<p>\x80 \x92 \x93&#233;&#65; ? &amp; &#8364</p>");
  EXPECT_EQ(page.replaced, 1u);
  EXPECT_EQ(transcode("&#8364;", SourceKind::text).will_transcode, false);
}

TEST(Utf8Codec, APieceBoundaryInsideACharacterChangesNothing) {
  const std::string source =
      "\xEF\xBB\xBF"
      "a" +
      kAccented + " 漢😀 &#8364; &#x2666;";
  const Transcoded whole = transcode(source, SourceKind::html);
  for (std::size_t piece = 1; piece < 24; ++piece) {
    const Transcoded pieces = transcode(source, SourceKind::html, piece);
    EXPECT_EQ(pieces.bytes, whole.bytes) << piece;
    EXPECT_EQ(pieces.replaced, whole.replaced) << piece;
  }
}

TEST(Utf8Codec, NamesCrossInBothDirections) {
  const Utf8Codec codec;
  EXPECT_EQ(codec.name_to_handheld("café “menu”.txt"), "caf\xE9 \x93menu\x94.txt");
  EXPECT_EQ(codec.name_to_handheld("caf\xE9.txt"), "caf\xE9.txt");  // not UTF-8: as it is
  // Transcoded before the name rule cuts it, a name is cut between characters.
  const std::string long_name = std::string(26, 'a') + "éé€€.txt";
  EXPECT_EQ(handheld_name(codec.name_to_handheld(long_name)), std::string(26, 'a') + "\xE9.txt");
  EXPECT_EQ(codec.name_to_pc("caf\xE9 \x80.txt"), "café €.txt");
  EXPECT_FALSE(codec.name_to_pc("x\x81.txt"));  // a control character is no file name
  EXPECT_EQ(codec.html_reference('a'), 0u);
  EXPECT_EQ(codec.html_reference(0x80), 0x20ACu);
}

TEST(Utf8Codec, AFileStagesAsItsTranscodedBytesWhereverTheReadsCutIt) {
  constexpr std::size_t kReadChunkBytes = 1 << 16;  // as the byte source reads files
  testing::TempDir dir;
  const Utf8Codec codec;
  ImportOptions options;
  options.codec = &codec;
  // Short fillers keep the file within one read, which is not read twice.
  for (const std::size_t filler_bytes : {std::size_t{0}, std::size_t{100}, kReadChunkBytes - 2, kReadChunkBytes - 3,
                                         kReadChunkBytes - 4, kReadChunkBytes - 5}) {
    SCOPED_TRACE(filler_bytes);
    const std::string filler(filler_bytes, 'x');
    testing::write_file(dir / "utf8.txt", filler + "😀€\n" + kAccented);
    testing::write_file(dir / "handheld.txt", filler + "?\x80\n" + kAccentedHandheld);
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    const ImportResult transcoded = ImportText(dir / "utf8.txt", dir / "a", "n.txt", options);
    ASSERT_TRUE(transcoded.was_transcoded);
    EXPECT_EQ(transcoded.replaced, 1u);
    ASSERT_TRUE(ImportText(dir / "handheld.txt", dir / "b", "n.txt", options));
    EXPECT_EQ(testing::read_file(dir / "a" / kStagingDataFile), testing::read_file(dir / "b" / kStagingDataFile));
    EXPECT_EQ(testing::read_file(dir / "a" / kStagingSizesFile), testing::read_file(dir / "b" / kStagingSizesFile));
  }
}

class Utf8Session : public testing::ConduitFixture, public ::testing::Test {
 protected:
  void sync() {
    const int manager = 0;
    ASSERT_EQ(OpenConduit(&manager, utf8_conduit), 0);
  }
  Utf8Codec codec;
  Conduit utf8_conduit{Platform{handheld, registry, boxes, log, language, converters, codec}};
};

TEST_F(Utf8Session, ANoteTravelsToTheHandheldAndBackUnchanged) {
  utf8_conduit.on_event = [this](const SessionEvent& e) { events.push_back(e); };
  const std::string text = kAccented + "\nnot in the set: 漢\n";
  testing::write_file(sent("Café “menu”.txt"), text);
  sync();
  const std::string name = "caf\xE9 \x93menu\x94.txt";
  ASSERT_EQ(handheld.databases.count(name), 1u);
  const auto& records = handheld.databases.at(name).records;
  ASSERT_EQ(records.size(), 3u);
  const std::string first(records[1].data.begin(), records[1].data.end());
  EXPECT_NE(first.find(kAccentedHandheld), std::string::npos);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().detail, "handheld \"café “menu”.txt\" (transcoded from UTF-8, 1 character replaced by '?')");

  testing::put_catalog(handheld, {{name, 1, true}});
  events.clear();
  sync();
  const fs::path back = received("café “menu”.txt");
  ASSERT_TRUE(fs::exists(back)) << (events.empty() ? "" : events.back().detail);
  const auto bytes = testing::read_file(back);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kAccented + "\nnot in the set: ?\n");
}

}  // namespace
}  // namespace vellora
