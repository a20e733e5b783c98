// A send-folder file leaves only as the version the handheld holds: a file
// written, cut, grown or replaced while a sync reads or sends it stays, in
// the walk and in the recovery of an interrupted sync alike. What the sync
// names in the folder (its journal, the source it opens) is never reached
// through a link or a FIFO placed there meanwhile.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <utility>

#include "conduit/entry_points.h"
#include "conduit/send_journal.h"
#include "tests/support/documents.h"
#include "tests/support/fake_platform.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using testing::write_file;

enum class Edit { none, append, truncate, rewrite, replace };

std::string edit_name(Edit edit) {
  switch (edit) {
    case Edit::none: return "none";
    case Edit::append: return "append";
    case Edit::truncate: return "truncate";
    case Edit::rewrite: return "rewrite in place";
    case Edit::replace: return "replace by rename";
  }
  return {};
}

constexpr Edit kEdits[] = {Edit::append, Edit::truncate, Edit::rewrite, Edit::replace};
constexpr std::string_view kOriginal = "original text\n";

std::string text_of(const fs::path& path) {
  const auto bytes = testing::read_file(path);
  return {bytes.begin(), bytes.end()};
}

// A source as a user leaves it: written a while ago, so an edit now gives
// it another modification time even when its size stays.
void put_source(const fs::path& path) {
  write_file(path, std::string(kOriginal));
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
}

void apply(Edit edit, const fs::path& path) {
  switch (edit) {
    case Edit::none: break;
    case Edit::append: std::ofstream(path, std::ios::binary | std::ios::app) << "appended\n"; break;
    case Edit::truncate: fs::resize_file(path, 4); break;
    case Edit::rewrite: {
      std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
      file << "ORIGINAL TEXT\n";  // the same size
      break;
    }
    case Edit::replace: {
      const fs::path next = path.parent_path() / ".next";
      write_file(next, "replaced\n");
      fs::rename(next, path);
      break;
    }
  }
}

std::string journal_naming(const std::vector<std::string>& files) {
  std::string text = "vellora send journal 1\n";
  for (const auto& file : files) text += file + "\t" + file + "\n";
  return text;
}

class ChangedSource : public testing::ConduitFixture, public ::testing::Test {
 protected:
  void sync() {
    const int manager = 0;
    ASSERT_EQ(OpenConduit(&manager, conduit), 0);
  }
  const SessionEvent* event(SessionEventKind kind, const std::string& subject) const {
    for (const auto& e : events)
      if (e.kind == kind && e.subject == subject) return &e;
    return nullptr;
  }
  std::size_t count_calls(std::string_view prefix) const {
    std::size_t count = 0;
    for (const auto& call : handheld.calls) count += call.starts_with(prefix);
    return count;
  }
  // Sends a.txt, and puts the same file back with a journal that names it,
  // as a sync killed before it deleted its sources leaves them.
  void leave_interrupted_send(const std::vector<std::string>& journal_lines = {"a.txt"}) {
    put_source(sent("a.txt"));
    sync();
    ASSERT_TRUE(handheld.databases.count("a.txt"));
    put_source(sent("a.txt"));
    write_file(sent(std::string(kSendJournalName)), journal_naming(journal_lines));
    events.clear();
    handheld.calls.clear();
  }
};

TEST_F(ChangedSource, AnEditAfterTheReadKeepsTheFileForTheNextSync) {
  for (const Edit edit : kEdits) {
    SCOPED_TRACE(edit_name(edit));
    put_source(sent("a.txt"));
    write_file(sent("b.txt"), "untouched\n");
    handheld.before_flush = [&] { apply(edit, sent("a.txt")); };
    events.clear();
    sync();
    ASSERT_TRUE(fs::exists(sent("a.txt")));
    EXPECT_NE(text_of(sent("a.txt")), kOriginal);
    const SessionEvent* kept = event(SessionEventKind::kept, "a.txt");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->detail, "changed while it was being sent; it stays and is sent again at the next sync");
    // The rest of the batch goes as ever.
    EXPECT_FALSE(fs::exists(sent("b.txt")));
    EXPECT_TRUE(handheld.databases.count("a.txt") && handheld.databases.count("b.txt"));
    handheld.databases.clear();
    fs::remove(sent("a.txt"));
  }
}

// A codec that lets a test change the source between the sync's look at
// the whole file and its conversion.
class MeddlingCodec : public TextCodec {
 public:
  std::function<void()> while_reading;
  std::unique_ptr<SourceTranscoder> source_transcoder(SourceKind) const override {
    return std::make_unique<Transcoder>(while_reading);
  }
  std::string name_to_handheld(std::string_view name) const override { return std::string(name); }
  std::optional<std::string> name_to_pc(std::string_view name) const override { return std::string(name); }
  void append_pc_text(std::span<const std::uint8_t> text, std::string& out) const override {
    out.append(text.begin(), text.end());
  }
  char32_t html_reference(std::uint8_t) const override { return 0; }
  bool is_identity() const override { return true; }

 private:
  struct Transcoder : SourceTranscoder {
    explicit Transcoder(std::function<void()> hook) : hook(std::move(hook)) {}
    void examine(std::span<const std::uint8_t>) override {
      if (hook) std::exchange(hook, nullptr)();
    }
    bool will_transcode() override { return false; }
    std::size_t transcode(std::uint8_t*, std::size_t size, bool, std::size_t& unfinished) override {
      unfinished = 0;
      return size;
    }
    std::size_t replaced() const override { return 0; }
    std::function<void()> hook;
  };
};

// Written, cut, grown or renamed over while it is read, a file matches no
// database that could be made of it.
TEST_F(ChangedSource, AnEditDuringTheReadKeepsTheFile) {
  MeddlingCodec codec;
  Conduit meddled{Platform{handheld, registry, boxes, log, language, converters, codec}};
  meddled.on_event = [this](const SessionEvent& e) { events.push_back(e); };
  for (const std::string name : {"a.txt", "a.htm"}) {
    for (const Edit edit : kEdits) {
      SCOPED_TRACE(name + ", " + edit_name(edit));
      put_source(sent(name));
      codec.while_reading = [&] { apply(edit, sent(name)); };
      events.clear();
      const int manager = 0;
      ASSERT_EQ(OpenConduit(&manager, meddled), 0);
      EXPECT_TRUE(fs::exists(sent(name)));
      EXPECT_FALSE(handheld.databases.count(name));
      const SessionEvent* kept = event(SessionEventKind::kept, name);
      ASSERT_NE(kept, nullptr);
      EXPECT_TRUE(kept->detail.ends_with("changed while it was being read")) << kept->detail;
      fs::remove(sent(name));
      handheld.databases.clear();
    }
  }
}

// A converter reads a .doc file by its name: the file must be the same
// before and after it ran.
TEST_F(ChangedSource, ADocChangedWhileItsConverterRunsStays) {
  const std::string library = (root / "converter.so").string();
  write_file(library, "library");
  registry.machine_strings[{"Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord8", "Path"}] = library;
  converters.install(library, {1, "{\\rtf1 Converted\\par}", {8192}, -1, true, 0});
  for (const Edit edit : kEdits) {
    SCOPED_TRACE(edit_name(edit));
    put_source(sent("r.doc"));
    conduit.on_event = [&](const SessionEvent& e) {
      events.push_back(e);
      if (e.kind == SessionEventKind::converting) apply(edit, sent("r.doc"));
    };
    events.clear();
    sync();
    EXPECT_TRUE(fs::exists(sent("r.doc")));
    EXPECT_FALSE(handheld.databases.count("r.doc"));
    const SessionEvent* kept = event(SessionEventKind::kept, "r.doc");
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->detail.ends_with("changed while it was being read")) << kept->detail;
    fs::remove(sent("r.doc"));
  }
}

TEST_F(ChangedSource, RecoveryOfAnInterruptedSyncDeletesOnlyTheVersionItChecked) {
  for (const Edit edit : {Edit::none, Edit::append, Edit::truncate, Edit::rewrite, Edit::replace}) {
    SCOPED_TRACE(edit_name(edit));
    leave_interrupted_send();
    handheld.before_flush = [&] { apply(edit, sent("a.txt")); };
    sync();
    handheld.before_flush = nullptr;
    // Recovery made no second database, and the walk left the file alone.
    EXPECT_EQ(count_calls("SyncCreateDB(name=a.txt"), 0u);
    if (edit == Edit::none) {
      EXPECT_FALSE(fs::exists(sent("a.txt")));
      EXPECT_NE(event(SessionEventKind::removed, "a.txt"), nullptr);
    } else {
      ASSERT_TRUE(fs::exists(sent("a.txt")));
      const SessionEvent* kept = event(SessionEventKind::kept, "a.txt");
      ASSERT_NE(kept, nullptr);
      EXPECT_EQ(kept->detail, "changed while it was being sent; it stays and is sent again at the next sync");
      fs::remove(sent("a.txt"));
    }
    handheld.databases.clear();
  }
}

TEST_F(ChangedSource, RecoveryPassesOverWhatTheWalkWouldNotSend) {
  // A database of another application under the name is never taken for
  // the file's own.
  leave_interrupted_send();
  handheld.databases.at("a.txt").creator = make_four_cc("abcd");
  sync();
  EXPECT_TRUE(fs::exists(sent("a.txt")));
  const SessionEvent* kept = event(SessionEventKind::kept, "a.txt");
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->detail, "\"a.txt\" on the handheld belongs to another application");

  // A file named many times over is checked once.
  fs::remove(sent("a.txt"));
  handheld.databases.clear();
  leave_interrupted_send(std::vector<std::string>(50, "a.txt"));
  write_file(sent("a.txt"), "another version\n");  // so the check fails
  registry.numbers["FromPCToPalm"] = 1;
  sync();
  EXPECT_TRUE(fs::exists(sent("a.txt")));
  EXPECT_EQ(count_calls("SyncFindDbByName(name=a.txt)"), 2u);  // recovery, walk
}

TEST_F(ChangedSource, RecoveryLeavesFilesReceivedThisSession) {
  registry.strings["FolderForRFiles"] = send_dir().string();
  write_file(sent("notes.txt"), "from the handheld\n");
  sync();
  ASSERT_TRUE(handheld.databases.count("notes.txt"));
  testing::put_catalog(handheld, {{"notes.txt", 1, true}});
  registry.numbers["FromPalmToPC"] = 0;
  write_file(sent(std::string(kSendJournalName)), journal_naming({"notes.txt"}));
  events.clear();
  sync();
  ASSERT_NE(event(SessionEventKind::received, "notes.txt"), nullptr);
  EXPECT_TRUE(fs::exists(sent("notes.txt")));
  EXPECT_EQ(event(SessionEventKind::removed, "notes.txt"), nullptr);
}

TEST_F(ChangedSource, ASourceSwappedForALinkOrAFifoIsNeverRead) {
  const fs::path outside = root / "outside.txt";
  write_file(outside, "private\n");
  for (const bool is_link : {true, false}) {
    SCOPED_TRACE(is_link ? "link" : "FIFO");
    put_source(sent("a.txt"));
    handheld.on_call = [&](const std::string& call) {
      if (call != "SyncFindDbByName(name=a.txt)") return;
      fs::remove(sent("a.txt"));
      if (is_link)
        fs::create_symlink(outside, sent("a.txt"));
      else
        ASSERT_EQ(::mkfifo(sent("a.txt").c_str(), 0600), 0);
    };
    events.clear();
    sync();
    handheld.on_call = nullptr;
    EXPECT_FALSE(handheld.databases.count("a.txt"));
    EXPECT_TRUE(fs::exists(fs::symlink_status(sent("a.txt"))));
    const SessionEvent* kept = event(SessionEventKind::kept, "a.txt");
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->detail.ends_with("was replaced by something that is not a regular file while the sync ran"))
        << kept->detail;
    fs::remove(sent("a.txt"));
  }
  EXPECT_EQ(text_of(outside), "private\n");
}

TEST_F(ChangedSource, TheJournalIsNeverWrittenThroughALinkOrAFifo) {
  const fs::path outside = root / "outside.txt";
  write_file(outside, "private\n");
  const fs::path journal = sent(std::string(kSendJournalName));
  for (const bool is_link : {true, false}) {
    SCOPED_TRACE(is_link ? "link" : "FIFO");
    write_file(sent("a.txt"), "alpha\n");
    // Placed once the session has begun, after any old journal was read.
    handheld.on_call = [&](const std::string& call) {
      if (call != "SyncReadSingleCardInfo(card=0)" || fs::exists(fs::symlink_status(journal))) return;
      if (is_link)
        fs::create_symlink(outside, journal);
      else
        ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
    };
    sync();
    handheld.on_call = nullptr;
    EXPECT_TRUE(handheld.databases.count("a.txt"));
    EXPECT_FALSE(fs::exists(sent("a.txt")));
    fs::remove(journal);
    handheld.databases.clear();
  }
  EXPECT_EQ(text_of(outside), "private\n");
}

}  // namespace
}  // namespace vellora
