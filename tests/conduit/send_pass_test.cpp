// The send pass through whole sessions against the fake handheld: which
// files travel, the memory and overwrite checks, a failure at every
// handheld call, the one flush before any source goes, and the finishing
// of a sync that was interrupted.
#include "conduit/send_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "conduit/entry_points.h"
#include "conduit/send_journal.h"
#include "docmodel/records.h"
#include "tests/support/documents.h"
#include "tests/support/fake_platform.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using testing::write_file;

class SendPass : public testing::ConduitFixture, public ::testing::Test {
 protected:
  void sync() {
    const int manager = 0;
    ASSERT_EQ(OpenConduit(&manager, conduit), 0);
  }
  bool on_handheld(const std::string& name) const { return handheld.databases.count(name) != 0; }
  std::size_t warnings() const {
    std::size_t count = 0;
    for (const auto& box : boxes.shown) count += box.text == kNotAllSentText;
    return count;
  }
};

TEST_F(SendPass, SendsATextFileAndDeletesItOnlyOnceWritten) {
  write_file(sent("Notes.TXT"), "hello\n");
  sync();
  EXPECT_EQ(handheld.calls[2], "SyncReadSingleCardInfo(card=0)");
  EXPECT_EQ(handheld.calls[3], "SyncFindDbByName(name=notes.txt)");
  EXPECT_EQ(handheld.calls[4], "SyncCreateDB(name=notes.txt, creator=bhV1, flags=0, card=0, type=VLTx, version=2)");
  EXPECT_EQ(handheld.databases.at("notes.txt").records.size(), 2u);
  EXPECT_FALSE(fs::exists(sent("Notes.TXT")));
  EXPECT_TRUE(has_event(SessionEventKind::sent, "Notes.TXT"));
  EXPECT_EQ(warnings(), 0u);
  // The staging files are gone too.
  EXPECT_TRUE(testing::file_names(send_dir()).empty());
}

TEST_F(SendPass, WhichFilesTravel) {
  write_file(sent("empty.txt"), "");
  write_file(sent("SerialSync.TXT"), "x");
  write_file(sent("picture.gif"), "GIF");
  write_file(sent("readme"), "text");
  fs::create_directory(sent("folder.txt"));
  write_file(sent("abcdefghijklmnopqrstuvwxyz0123456789.txt"), "x");
  sync();
  EXPECT_EQ(testing::file_names(send_dir()),
            (std::vector<std::string>{"empty.txt", "folder.txt", "picture.gif", "readme"}));
  EXPECT_TRUE(on_handheld("abcdefghijklmnopqrstuvwxyz0.txt"));
  EXPECT_FALSE(on_handheld("serialsync.txt"));
}

TEST_F(SendPass, HtmlFilesAreRenamedUnlessTheNameIsTaken) {
  write_file(sent("Page.HTML"), "<html><p>x</p></html>");
  write_file(sent("Other.html"), "<html><p>y</p></html>");
  write_file(sent("other.htm"), "<html><p>z</p></html>");
  sync();
  // Page.HTML went as page.htm; Other.html stays, as other.htm, which went
  // under its own name, held the name it would take.
  EXPECT_TRUE(on_handheld("page.htm"));
  EXPECT_TRUE(on_handheld("other.htm"));
  EXPECT_EQ(testing::file_names(send_dir()), (std::vector<std::string>{"Other.html"}));
  EXPECT_EQ(warnings(), 0u);
}

TEST_F(SendPass, MemoryCheckBoundary) {
  write_file(sent("a.txt"), std::string(10000, 'a'));
  handheld.free_bytes = 16077;
  sync();
  EXPECT_FALSE(on_handheld("a.txt"));
  EXPECT_EQ(warnings(), 0u);
  handheld.free_bytes = 16078;
  sync();
  EXPECT_TRUE(on_handheld("a.txt"));
}

TEST_F(SendPass, ForeignDatabasesAreNeverReplacedAndWarnOnce) {
  handheld.add_database("a.txt", kDocumentType, make_four_cc("abcd"));
  handheld.add_database("b.txt", make_four_cc("DATA"), kDocumentCreator);
  write_file(sent("a.txt"), "x");
  write_file(sent("b.txt"), "y");
  registry.numbers["FromPCToPalm"] = 0;
  sync();
  EXPECT_TRUE(fs::exists(sent("a.txt")) && fs::exists(sent("b.txt")));
  EXPECT_EQ(warnings(), 1u);
  EXPECT_EQ(boxes.shown.back().caption, "Warning");
  EXPECT_EQ(boxes.shown.back().style, kStyleOkWarning);
}

TEST_F(SendPass, OverwritePolicies) {
  const auto run = [&](std::uint32_t policy, std::deque<int> answers) {
    testing::put_document(handheld, "a.txt", {"old"});
    handheld.calls.clear();
    boxes.shown.clear();
    boxes.answers = answers;
    registry.numbers["FromPCToPalm"] = policy;
    write_file(sent("a.txt"), "new");
    sync();
    return !fs::exists(sent("a.txt"));
  };
  EXPECT_TRUE(run(0, {}));
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(handheld.databases.at("a.txt").records.size(), 2u);
  EXPECT_TRUE(run(3, {}));
  EXPECT_FALSE(run(1, {}));
  EXPECT_FALSE(run(2, {kAnswerNo}));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "File a.txt already exists on your Palm Device! Overwrite?");
  EXPECT_EQ(boxes.shown[0].caption, "Vellora Conduit");
  EXPECT_EQ(boxes.shown[0].style, kStyleYesNoWarning);
  EXPECT_TRUE(run(2, {kAnswerYes}));
}

TEST_F(SendPass, KeepsFilesThatCannotBecomeACompleteDocument) {
  testing::put_document(handheld, "blank.txt", {"old"});
  registry.numbers["FromPCToPalm"] = 0;
  write_file(sent("blank.txt"), "\r\r\r");  // not empty, but no paragraph
  write_file(sent("huge.txt"), std::string(kMaxParagraphs + 1, '\n'));
  write_file(sent("Twin.txt"), "one");
  write_file(sent("twin.txt"), "two");  // the same handheld name
  sync();
  EXPECT_TRUE(fs::exists(sent("blank.txt")));
  EXPECT_EQ(handheld.databases.at("blank.txt").records.size(), 2u);  // the old one is untouched
  EXPECT_TRUE(fs::exists(sent("huge.txt")));
  EXPECT_FALSE(on_handheld("huge.txt"));
  EXPECT_FALSE(fs::exists(sent("Twin.txt")));
  EXPECT_TRUE(fs::exists(sent("twin.txt")));
  EXPECT_EQ(warnings(), 1u);
}

// A .doc file goes through the registered converter, which the pass
// announces first; one that cannot be converted stays and warns.
TEST_F(SendPass, DocFilesTravelThroughTheirConverterOrStay) {
  const std::string library = (root / "converter.so").string();
  write_file(library, "library");
  registry.machine_strings[{"Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord8", "Path"}] = library;
  converters.install(library, {1, "{\\rtf1 Converted\\par}", {8192}, -1, true, 0});
  write_file(sent("Report.DOC"), "a word-processor document");
  sync();
  EXPECT_FALSE(fs::exists(sent("Report.DOC")));
  ASSERT_TRUE(on_handheld("report.doc"));
  EXPECT_EQ(events.front().kind, SessionEventKind::converting);
  EXPECT_EQ(events.front().detail, "with the text converter " + library);
  EXPECT_TRUE(has_event(SessionEventKind::sent, "Report.DOC"));
  EXPECT_EQ(warnings(), 0u);

  converters.install(library, {1, "{\\rtf1 Half", {4}, 1, true, 0});  // fails after one piece
  write_file(sent("broken.doc"), "a word-processor document");
  sync();
  EXPECT_EQ(testing::file_names(send_dir()), std::vector<std::string>{"broken.doc"});
  EXPECT_EQ(warnings(), 1u);

  registry.machine_strings.clear();  // no converter, and the file is not RTF
  sync();
  EXPECT_EQ(testing::file_names(send_dir()), std::vector<std::string>{"broken.doc"});
  EXPECT_EQ(warnings(), 2u);
}

TEST_F(SendPass, AFailureAtAnyHandheldCallLosesNoFile) {
  testing::put_document(handheld, "b.txt", {"old"});
  registry.numbers["FromPCToPalm"] = 0;
  for (int call = 2, injected = 1; injected; ++call) {
    SCOPED_TRACE(call);
    write_file(sent("a.txt"), "alpha\nbeta\n");
    write_file(sent("b.txt"), "gamma\n");
    handheld.fail_call_number = call;
    handheld.calls.clear();
    sync();
    injected = handheld.failure_was_injected();
    for (const std::string name : {"a.txt", "b.txt"}) {
      // Each file is either still in the folder or complete on the handheld.
      const bool kept = fs::exists(sent(name));
      const bool complete = on_handheld(name) && !handheld.databases.at(name).is_open &&
                            handheld.databases.at(name).records.size() == (name == "a.txt" ? 3u : 2u);
      EXPECT_TRUE(kept || complete) << name;
      if (!kept) {
        std::vector<std::vector<std::uint8_t>> records;
        for (const auto& r : handheld.databases.at(name).records) records.push_back(r.data);
        EXPECT_TRUE(check_document(records).empty());
      }
    }
    fs::remove(sent("a.txt"));
    handheld.databases.erase("a.txt");
    testing::put_document(handheld, "b.txt", {"old"});
  }
}

// Sent files leave the send folder only once the handheld says their
// documents are durable, all in one flush; if it cannot say so, every file
// of the batch stays and the session warns.
TEST_F(SendPass, FilesLeaveOnlyOnceTheirDocumentsAreDurable) {
  for (const std::string name : {"a.txt", "b.txt", "c.txt"}) write_file(sent(name), name + "\n");
  int flushes = 0;
  handheld.before_flush = [&] {
    ++flushes;
    // The journal names them, for a session killed before they are deleted.
    EXPECT_EQ(testing::file_names(send_dir()),
              (std::vector<std::string>{std::string(kSendJournalName), "a.txt", "b.txt", "c.txt"}));
    EXPECT_TRUE(on_handheld("a.txt") && on_handheld("b.txt") && on_handheld("c.txt"));
  };
  sync();
  EXPECT_EQ(flushes, 1);
  EXPECT_TRUE(testing::file_names(send_dir()).empty());
  EXPECT_EQ(warnings(), 0u);

  for (const std::string name : {"d.txt", "e.txt"}) write_file(sent(name), name + "\n");
  handheld.before_flush = nullptr;
  handheld.calls.clear();
  sync();
  const auto names = handheld.call_names();
  handheld.fail_call_number =
      static_cast<int>(std::find(names.begin(), names.end(), "flush_pending_writes") - names.begin()) + 1;
  handheld.databases.erase("d.txt");
  handheld.databases.erase("e.txt");
  for (const std::string name : {"d.txt", "e.txt"}) write_file(sent(name), name + "\n");
  handheld.calls.clear();
  sync();
  EXPECT_EQ(testing::file_names(send_dir()), (std::vector<std::string>{"d.txt", "e.txt"}));
  EXPECT_TRUE(has_event(SessionEventKind::problem, "send pass"));
  EXPECT_EQ(warnings(), 1u);
}

// A sync killed before it deleted its sources, whose databases the next
// sync cannot make durable either: the files stay for that sync's walk,
// and the journal for the sync after, which finishes them.
TEST_F(SendPass, AnInterruptedSyncWhoseFlushFailsIsFinishedByTheSyncAfter) {
  write_file(sent("a.txt"), "alpha\n");
  sync();
  ASSERT_TRUE(on_handheld("a.txt"));
  write_file(sent("a.txt"), "alpha\n");
  const fs::path journal = sent(std::string(kSendJournalName));
  write_file(journal, "vellora send journal 1\na.txt\ta.txt\n");
  registry.numbers["FromPCToPalm"] = kNeverOverwrite;
  bool has_failed = false;
  handheld.before_flush = [&] {
    if (!std::exchange(has_failed, true)) handheld.fail_call_number = static_cast<int>(handheld.calls.size()) + 1;
  };
  events.clear();
  sync();
  ASSERT_TRUE(has_failed);
  EXPECT_TRUE(fs::exists(sent("a.txt")) && fs::exists(journal));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, SessionEventKind::problem);
  EXPECT_EQ(events[0].detail,
            "the documents of an interrupted sync could not be made durable on the handheld (error -2); their files "
            "stay in the send folder");
  EXPECT_EQ(events[1].kind, SessionEventKind::kept);  // by the walk, which may not overwrite

  handheld.fail_call_number = 0;
  handheld.calls.clear();
  events.clear();
  sync();
  EXPECT_TRUE(testing::file_names(send_dir()).empty());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, SessionEventKind::removed);
  EXPECT_EQ(events[0].detail, "sent by an interrupted sync; \"a.txt\" on the handheld holds it whole");
  EXPECT_EQ(std::count(handheld.calls.begin(), handheld.calls.end(), "flush_pending_writes()"), 1);
}

TEST_F(SendPass, AFailedCardInfoCallKeepsTheFileWithTheHandheldsReason) {
  write_file(sent("a.txt"), "alpha\n");
  handheld.fail_call_number = 3;  // register, catalog open, card info
  sync();
  ASSERT_EQ(handheld.call_names()[2], "SyncReadSingleCardInfo");
  EXPECT_TRUE(fs::exists(sent("a.txt")));
  EXPECT_FALSE(on_handheld("a.txt"));
  ASSERT_TRUE(has_event(SessionEventKind::kept, "a.txt"));
  for (const auto& e : events) {
    if (e.kind != SessionEventKind::kept) continue;
    EXPECT_EQ(e.detail, "cannot read the handheld's free memory: error " + std::to_string(handheld.failure_code));
  }
}

TEST_F(SendPass, FilesReceivedThisSessionAreNotSentBack) {
  registry.strings["FolderForRFiles"] = send_dir().string();
  testing::put_document(handheld, "notes.txt", {"from the handheld"});
  testing::put_catalog(handheld, {{"notes.txt", 1, true}});
  sync();
  EXPECT_EQ(testing::read_file(sent("notes.txt")).size(), 18u);
  EXPECT_EQ(handheld.databases.at("notes.txt").records.size(), 2u);
  EXPECT_FALSE(has_event(SessionEventKind::sent, "notes.txt"));
}

}  // namespace
}  // namespace vellora
