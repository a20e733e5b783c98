#include "conduit/receive_pass.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

#include "conduit/entry_points.h"
#include "tests/support/documents.h"
#include "tests/support/fake_platform.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;

class ReceivePass : public testing::ConduitFixture, public ::testing::Test {
 protected:
  void sync() {
    const int manager = 0;
    ASSERT_EQ(OpenConduit(&manager, conduit), 0);
  }
  std::string text_of(const std::string& file) const {
    const auto bytes = testing::read_file(received(file));
    return {bytes.begin(), bytes.end()};
  }
  std::vector<bool> marks() const {
    std::vector<bool> out;
    for (const auto& record : handheld.databases.at(std::string(kCatalogName)).records)
      out.push_back(record.data[38] != 0 || record.data[39] != 0);
    return out;
  }
};

TEST(ReceiveFileName, ReplacesTheLastExtensionAndRefusesEscapes) {
  EXPECT_EQ(receive_file_name("report.txt", ".htm"), "report.htm");
  EXPECT_EQ(receive_file_name("a.b.txt", ".htm"), "a.b.htm");
  EXPECT_EQ(receive_file_name("noext", ".txt"), "noext.txt");
  for (const char* bad : {"../x.txt", "a/b.txt", "a\\b.txt", "c:x.txt", "tab\t.txt", ".txt", "..txt", "...txt", ""})
    EXPECT_FALSE(receive_file_name(bad, ".txt")) << bad;
}

TEST_F(ReceivePass, RebuildsTheCatalogEvenWithoutMarks) {
  auto& catalog = testing::put_catalog(handheld, {{"a.txt", 1, false}, {"b.htm", 2, false}, {"c.rtf", 4, false}});
  catalog.version = 3;
  const auto before = catalog.records;
  sync();
  const auto& after = handheld.databases.at(std::string(kCatalogName));
  EXPECT_EQ(after.version, kCatalogVersion);
  ASSERT_EQ(after.records.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(after.records[i].data, before[i].data);
    EXPECT_EQ(after.records[i].category, before[i].category);
    EXPECT_EQ(after.records[i].attributes, kRecordAttrDirty);
  }
  EXPECT_EQ(handheld.calls[2], "SyncReadOpenDbInfo(1)");  // a catalog of another application is left alone
  EXPECT_EQ(handheld.calls[8], "SyncDeleteDB(name=Vellora file DB, card=0)");
  EXPECT_EQ(handheld.calls[9],
            "SyncCreateDB(name=Vellora file DB, creator=bhVL, flags=0, card=0, type=VLdb, version=10)");
  EXPECT_EQ(handheld.calls[10], "SyncWriteRec(handle=2, id=0, attributes=64, category=1, size=40)");
  EXPECT_TRUE(testing::file_names(receive_dir()).empty());
}

TEST_F(ReceivePass, ExportsMarkedDocumentsAndClearsEveryMark) {
  testing::put_document(handheld, "notes.txt", {"hello", "world"});
  // Marked: one document to export, two whose databases are gone (x.txt,
  // a.b.txt), one of no known type, one whose name is a path; keep.txt is
  // not marked. Only notes.txt arrives, and every mark is cleared.
  testing::put_catalog(handheld, {{"notes.txt", 1, true},
                                  {"x.txt", 1, true},
                                  {"a.b.txt", 2, true},
                                  {"odd.txt", 9, true},
                                  {"../evil.txt", 1, true},
                                  {"keep.txt", 1, false}});
  sync();
  EXPECT_EQ(text_of("notes.txt"), "hello\nworld\n");
  EXPECT_EQ(testing::file_names(receive_dir()), (std::vector<std::string>{"notes.txt"}));
  EXPECT_EQ(marks(), (std::vector<bool>(6, false)));
  EXPECT_TRUE(has_event(SessionEventKind::skipped, "x.txt"));
  for (const auto& e : events)
    if (e.subject == "x.txt") {
      EXPECT_EQ(e.detail, "x.txt: no such database on the handheld");
    }
  EXPECT_TRUE(has_event(SessionEventKind::skipped, "odd.txt"));
  EXPECT_FALSE(fs::exists(root / "evil.txt"));
}

TEST_F(ReceivePass, ExistingFilesFollowThePolicyAndSurviveFailedExports) {
  testing::put_document(handheld, "notes.txt", {"new"});
  testing::put_document(handheld, "old.txt", {"v1"}, 1);
  const auto run = [&](std::uint32_t policy, std::deque<int> answers) {
    testing::write_file(received("notes.txt"), "mine");
    testing::put_catalog(handheld, {{"notes.txt", 1, true}});
    registry.numbers["FromPalmToPC"] = policy;
    boxes.answers = answers;
    boxes.shown.clear();
    sync();
    return text_of("notes.txt");
  };
  EXPECT_EQ(run(2, {kAnswerNo}), "mine");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "File notes.txt already exists on your PC! Overwrite?");
  EXPECT_EQ(marks(), (std::vector<bool>{false}));
  EXPECT_EQ(run(2, {kAnswerYes}), "new\n");
  EXPECT_EQ(run(1, {}), "mine");
  EXPECT_EQ(run(0, {}), "new\n");
  EXPECT_TRUE(boxes.shown.empty());

  // A version 1 database exports nothing, and the old file stays as it was.
  testing::write_file(received("old.txt"), "mine");
  testing::put_catalog(handheld, {{"old.txt", 1, true}});
  sync();
  EXPECT_EQ(text_of("old.txt"), "mine");
  EXPECT_EQ(testing::file_names(receive_dir()), (std::vector<std::string>{"notes.txt", "old.txt"}));
}

TEST_F(ReceivePass, AFolderOfTheTargetNameIsLeftAlone) {
  testing::put_document(handheld, "notes.txt", {"new"});
  testing::put_catalog(handheld, {{"notes.txt", 1, true}});
  fs::create_directory(received("notes.txt"));
  sync();
  EXPECT_TRUE(fs::is_directory(received("notes.txt")));
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(testing::file_names(receive_dir()), (std::vector<std::string>{"notes.txt"}));
  // The reason is the rename's own error, not what a clean-up left behind.
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, SessionEventKind::skipped);
  EXPECT_NE(events[0].detail.find(std::error_code(EISDIR, std::generic_category()).message()), std::string::npos)
      << events[0].detail;
}

TEST_F(ReceivePass, AForeignOrUnreadableCatalogIsReportedAndLeftAlone) {
  testing::put_document(handheld, "notes.txt", {"new"});
  auto& foreign = testing::put_catalog(handheld, {{"notes.txt", 1, true}});
  foreign.creator = make_four_cc("othr");
  const auto records = foreign.records;
  sync();
  EXPECT_TRUE(testing::file_names(receive_dir()).empty());
  const auto& after = handheld.databases.at(std::string(kCatalogName));
  EXPECT_EQ(after.creator, make_four_cc("othr"));
  ASSERT_EQ(after.records.size(), records.size());
  EXPECT_EQ(after.records[0].data, records[0].data);
  ASSERT_TRUE(has_event(SessionEventKind::problem, std::string(kCatalogName)));
  EXPECT_NE(events.back().detail.find("another application"), std::string::npos) << events.back().detail;

  events.clear();
  handheld.databases.at(std::string(kCatalogName)).creator = kCatalogCreator;
  handheld.calls.clear();
  handheld.fail_call_number = 2;  // register, open
  sync();
  EXPECT_TRUE(has_event(SessionEventKind::problem, std::string(kCatalogName)));
  EXPECT_TRUE(testing::file_names(receive_dir()).empty());
}

TEST_F(ReceivePass, AnIdlePassSaysWhy) {
  registry.strings.erase("FolderForRFiles");
  sync();
  EXPECT_TRUE(has_event(SessionEventKind::idle, "receive pass"));
  EXPECT_EQ(events[0].detail, "FolderForRFiles is not set");
  events.clear();
  registry.numbers["FolderForRFiles"] = 3;
  sync();
  EXPECT_EQ(events[0].detail, "FolderForRFiles is a number, not a folder");
  events.clear();
  registry.numbers.erase("FolderForRFiles");
  registry.strings["FolderForRFiles"] = (root / "missing").string();
  sync();
  EXPECT_EQ(events[0].detail, (root / "missing").string() + ": no such folder");
}

TEST_F(ReceivePass, NothingHappensWhenTheCatalogCannotBeReadOrTheFolderIsMissing) {
  testing::put_document(handheld, "notes.txt", {"new"});
  testing::put_catalog(handheld, {{"notes.txt", 1, true}, {"b.txt", 1, false}});
  handheld.fail_call_number = 6;  // register, open, info, count, read 0, read 1
  sync();
  EXPECT_TRUE(testing::file_names(receive_dir()).empty());
  EXPECT_EQ(marks(), (std::vector<bool>{true, false}));

  handheld.fail_call_number = 0;
  handheld.calls.clear();
  registry.strings["FolderForRFiles"] = (root / "missing").string();
  sync();
  EXPECT_EQ(handheld.call_names(), (std::vector<std::string>{"SyncRegisterConduit", "SyncUnRegisterConduit"}));
}

TEST_F(ReceivePass, AFailureAtAnyHandheldCallKeepsTheOldFileWhole) {
  registry.numbers["FromPalmToPC"] = 0;
  for (int call = 2, injected = 1; injected; ++call) {
    SCOPED_TRACE(call);
    handheld = testing::FakeSyncManager{};
    testing::put_document(handheld, "notes.txt", {"new", "text"});
    testing::put_catalog(handheld, {{"notes.txt", 1, true}});
    testing::write_file(received("notes.txt"), "mine");
    handheld.fail_call_number = call;
    sync();
    injected = handheld.failure_was_injected();
    const std::string text = text_of("notes.txt");
    EXPECT_TRUE(text == "mine" || text == "new\ntext\n") << text;
    EXPECT_EQ(testing::file_names(receive_dir()), (std::vector<std::string>{"notes.txt"}));
  }
}

TEST_F(ReceivePass, ACatalogCreateThatFailsOnceIsRetried) {
  testing::put_catalog(handheld, {{"a.txt", 1, false}});
  handheld.fail_call_number = 8;  // register, open, info, count, read, close, delete, create
  sync();
  EXPECT_EQ(handheld.databases.at(std::string(kCatalogName)).records.size(), 1u);
}

}  // namespace
}  // namespace vellora
