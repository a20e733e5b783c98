#include "exporters/text_exporter.h"

#include <gtest/gtest.h>

#include "tests/support/documents.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

class TextExport : public ::testing::Test {
 protected:
  std::string exported(const std::string& name, ExportStatus expect = ExportStatus::ok) {
    const auto out = dir / "out.txt";
    const auto result = ExportText(handheld, name, out);
    EXPECT_EQ(result.status, expect) << result.reason;
    EXPECT_EQ(std::filesystem::exists(out), expect == ExportStatus::ok);
    EXPECT_FALSE(handheld.databases.count(name) && handheld.databases.at(name).is_open);
    const auto bytes = testing::read_file(out);
    return {bytes.begin(), bytes.end()};
  }
  testing::TempDir dir;
  testing::FakeSyncManager handheld;
};

TEST_F(TextExport, OneLinePerParagraphRulesDropped) {
  testing::put_document(handheld, "notes.txt", {"hello", "", "---", "world"});
  EXPECT_EQ(exported("notes.txt"), "hello\n\nworld\n");
  EXPECT_EQ(handheld.calls[0], "SyncOpenDB(name=notes.txt, card=0, mode=144)");
  // Handheld line breaks inside a paragraph do not appear.
  const std::string long_text = "a justified paragraph that certainly spans several handheld lines of text";
  auto& db = testing::put_document(handheld, "long.txt", {});
  ByteVector bytes;
  pack_paragraph(testing::paragraph(long_text, kAlignJustified), bytes);
  db.records.push_back({{bytes.begin(), bytes.end()}, 0, 0, 0});
  EXPECT_EQ(exported("long.txt"), long_text + "\n");
}

// What sits at the output's path is replaced, never written through.
TEST_F(TextExport, ALinkAtTheOutputIsReplacedNotFollowed) {
  const auto outside = dir / "outside.txt";
  testing::write_file(outside, "private\n");
  std::error_code no_links;
  std::filesystem::create_symlink(outside, dir / "out.txt", no_links);
  if (no_links) GTEST_SKIP() << "this system makes no symbolic links: " << no_links.message();
  testing::put_document(handheld, "notes.txt", {"hello"});
  EXPECT_EQ(exported("notes.txt"), "hello\n");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "out.txt"));
  const std::string kept = "private\n";
  EXPECT_EQ(testing::read_file(outside), std::vector<std::uint8_t>(kept.begin(), kept.end()));
}

TEST_F(TextExport, NoFileWithoutParagraphsOrOfAnotherVersion) {
  testing::put_document(handheld, "empty.txt", {});
  exported("empty.txt", ExportStatus::no_paragraphs);
  testing::put_document(handheld, "old.txt", {"text"}, 1);
  exported("old.txt", ExportStatus::wrong_version);
  exported("absent.txt", ExportStatus::not_found);
  testing::put_document(handheld, "theirs.txt", {"text"}).type = make_four_cc("DATA");
  exported("theirs.txt", ExportStatus::wrong_type);
}

TEST_F(TextExport, ReadsWholeRecordsAndNeverPastThem) {
  const std::string big(5000, 'x');  // longer than a 4096-byte buffer
  auto& db = testing::put_document(handheld, "big.txt", {});
  ByteVector bytes;
  pack_paragraph(testing::paragraph(big.substr(0, 1000)), bytes);
  std::vector<std::uint8_t> record(bytes.begin(), bytes.end());
  record.resize(16);
  record.insert(record.end(), big.begin(), big.end());
  record[10] = 0x13, record[11] = 0x88;  // textLength 5000
  db.records.push_back({record, 0, 0, 0});
  auto corrupt = record;
  corrupt.resize(20);  // claims 5000 bytes, holds 4
  db.records.push_back({corrupt, 0, 0, 0});
  db.records.push_back({{0x00}, 0, 0, 0});  // too short to have a kind
  EXPECT_EQ(exported("big.txt"), big + "\n" + "xxxx\n");
}

TEST_F(TextExport, AFailedReadLeavesNoFile) {
  testing::put_document(handheld, "notes.txt", {"one", "two"});
  handheld.fail_call_number = 5;  // open, count, info, read 1, read 2
  exported("notes.txt", ExportStatus::read_failed);
}

}  // namespace
}  // namespace vellora
