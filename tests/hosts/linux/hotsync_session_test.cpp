// Whole conduit sessions against the fake handheld over NetSync, in
// process: the requests a document costs, a handheld too old to rename,
// a cancelled sync, the handheld's HotSync log, and the link dropped at
// every request of a session without a file or a mark being lost.
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "conduit/catalog.h"
#include "conduit/session.h"
#include "conduit/settings.h"
#include "docmodel/records.h"
#include "hosts/linux/hotsync/dlp_handheld.h"
#include "hosts/linux/hotsync/netsync_link.h"
#include "tests/support/fake_converters.h"
#include "tests/support/fake_handheld/fake_handheld.h"
#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FakeHandheld;
using testing::FakeHandheldOptions;

constexpr std::uint32_t kOverwrite = 3;  // neither never nor ask

// The settings of a session, and a platform that asks and logs nothing.
class Settings : public Registry {
 public:
  std::map<std::string, std::string> strings;
  std::map<std::string, std::uint32_t> numbers;
  std::optional<std::string> read_string(RegistryHive hive, std::string_view key,
                                         std::string_view value) const override {
    const auto found = strings.find(std::string(value));
    if (hive != RegistryHive::current_user || key != kSettingsKey || found == strings.end()) return std::nullopt;
    return found->second;
  }
  std::optional<std::uint32_t> read_dword(RegistryHive hive, std::string_view key,
                                          std::string_view value) const override {
    const auto found = numbers.find(std::string(value));
    if (hive != RegistryHive::current_user || key != kSettingsKey || found == numbers.end()) return std::nullopt;
    return found->second;
  }
};
struct NoBoxes : MessageBoxes {
  int show(std::string_view, std::string_view, std::uint32_t) override { return kAnswerNo; }
};
struct NoLog : HotSyncLog {
  void add_entry(std::string_view, std::int32_t) override {}
};
struct NoLanguage : LanguageLibrary {
  ModuleHandle load(std::string_view, ModuleHandle, int*) override { return 0; }
  void release(ModuleHandle, ModuleHandle) override {}
};

struct SessionRun {
  std::vector<SessionEvent> events;
  bool reached_end = false;
  bool lost = false;
  std::string lost_text;
  std::vector<std::string> notes;
};

// One session of the conduit with `fake` on the other end of a socket pair.
SessionRun run_with(FakeHandheld& fake, const fs::path& send, const fs::path& receive,
                    std::uint32_t policy = kOverwrite) {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  auto served = testing::serve_in_background(fake, testing::FakeLink::netsync, UniqueFd(fds[1]));
  SessionRun run;
  {
    LinkStream stream{UniqueFd(fds[0])};
    LinkTimeouts timeouts;
    timeouts.reply = 2s;
    NetSyncLink link(stream, timeouts);
    if (link.open(LinkClock::now() + timeouts.reply)) {
      DlpHandheld::Options options;
      options.own_creators = {kDocumentCreator, kCatalogCreator};
      options.on_note = [&](const std::string& note) { run.notes.push_back(note); };
      options.keep_alive = 0ms;
      DlpHandheld handheld(link, options);
      if (handheld.start()) {
        Settings registry;
        registry.strings["FolderForSFiles"] = send.string();
        registry.strings["FolderForRFiles"] = receive.string();
        registry.numbers["FromPCToPalm"] = policy;
        registry.numbers["FromPalmToPC"] = policy;
        NoBoxes boxes;
        NoLog log;
        NoLanguage language;
        testing::FakeConverters converters;
        Conduit conduit{Platform{handheld, registry, boxes, log, language, converters}};
        conduit.on_event = [&](const SessionEvent& event) { run.events.push_back(event); };
        run_session(conduit);
        if (!handheld.is_lost()) run.reached_end = handheld.finish("Vellora: test");
      }
      run.lost = handheld.is_lost();
      run.lost_text = handheld.lost_text();
    }
  }  // the desktop hangs up here, so the fake's session ends
  served.get();
  return run;
}

using Records = std::vector<std::vector<std::uint8_t>>;

// The records of every database on the fake's card, by name.
std::map<std::string, Records> card_of(const FakeHandheld& fake) {
  std::map<std::string, Records> out;
  for (std::size_t i = 0; i < fake.store().size(); ++i) {
    const auto& db = fake.store().at(i);
    Records& records = out[db.name];
    for (const auto& record : db.records) records.push_back(record.data);
  }
  return out;
}

// The marked names in the fake's catalog.
std::vector<std::string> marked_in(const FakeHandheld& fake) {
  std::vector<std::string> out;
  const auto* catalog = fake.store().find(kCatalogName);
  if (catalog == nullptr) return out;
  for (const auto& record : catalog->records) {
    CatalogEntry entry;
    std::copy_n(record.data.begin(), std::min(record.data.size(), entry.bytes.size()), entry.bytes.begin());
    if (entry.is_marked()) out.push_back(entry.name());
  }
  return out;
}

// Gives the fake the catalog its reader application keeps: one text
// document per database of ours, marked when named in `marked`.
void add_catalog(FakeHandheld& fake, const std::vector<std::string>& marked) {
  testing::CardDatabase catalog;
  catalog.name = std::string(kCatalogName);
  catalog.type = kCatalogType;
  catalog.creator = kCatalogCreator;
  catalog.version = kCatalogVersion;
  for (std::size_t i = 0; i < fake.store().size(); ++i) {
    const auto& db = fake.store().at(i);
    if (db.type != kDocumentType) continue;
    CatalogEntry entry;
    std::copy(db.name.begin(), db.name.end(), entry.bytes.begin());
    entry.set_mark(std::count(marked.begin(), marked.end(), db.name) != 0 ? 1 : 0);
    testing::CardRecord record;
    record.unique_id = static_cast<std::uint32_t>(catalog.records.size() + 1);
    record.category = 1;  // text
    record.data.assign(entry.bytes.begin(), entry.bytes.end());
    catalog.records.push_back(record);
  }
  fake.store().add(std::move(catalog));
}

std::string text_of(std::size_t i) {
  std::string text = "File " + std::to_string(i) + "\n";
  // Every fourth file spans several records.
  for (std::size_t line = 0; line < (i % 4 == 0 ? 16 : 2); ++line)
    text += "Line " + std::to_string(line) + " of file " + std::to_string(i) + ", with some words to wrap.\n";
  return text;
}

class HotSyncSession : public ::testing::Test {
 protected:
  fs::path folder(const char* name) {
    const fs::path path = dir.path() / name;
    fs::create_directories(path);
    return path;
  }
  testing::TempDir dir;
};

TEST_F(HotSyncSession, ADocumentCostsItsRecordsAndAFewRequestsAndTheLogSaysWhatHappened) {
  const fs::path send = folder("send"), receive = folder("receive");
  testing::write_file(send / "one.txt", text_of(1));
  testing::write_file(send / "long.txt", text_of(4));
  FakeHandheld fake({});
  const SessionRun first = run_with(fake, send, receive);
  ASSERT_TRUE(first.reached_end) << first.lost_text;
  EXPECT_FALSE(fs::exists(send / "one.txt"));
  EXPECT_EQ(fake.log_entries(), std::vector<std::string>{"Vellora: test"});
  const auto card = card_of(fake);
  ASSERT_EQ(card.count("one.txt"), 1u);
  ASSERT_EQ(card.count("long.txt"), 1u);
  for (const auto& [name, records] : card) EXPECT_FALSE(name.starts_with("~vlr")) << name;

  // Sending one more document, over what the empty session costs.
  FakeHandheld idle({});
  run_with(idle, folder("empty-send"), receive);
  testing::write_file(send / "again.txt", text_of(4));
  FakeHandheld measured({});
  run_with(measured, send, receive);
  const std::size_t records = card_of(measured)["again.txt"].size();
  EXPECT_LE(measured.request_count(), idle.request_count() + records + 16)
      << "records " << records << ", empty session " << idle.request_count();
}

TEST_F(HotSyncSession, AnOldHandheldGetsTheDirectOrderAndIsToldOnce) {
  const fs::path send = folder("send"), receive = folder("receive");
  testing::write_file(send / "a.txt", text_of(1));
  testing::write_file(send / "b.txt", text_of(2));
  FakeHandheldOptions options;
  options.identity.dlp_minor = 1;
  FakeHandheld fake(options);
  const SessionRun run = run_with(fake, send, receive);
  ASSERT_TRUE(run.reached_end) << run.lost_text;
  EXPECT_EQ(run.notes.size(), 1u);
  EXPECT_FALSE(fs::exists(send / "a.txt"));
  EXPECT_EQ(card_of(fake).count("b.txt"), 1u);

  // A replacement, found in the handheld's list of databases.
  const auto before = card_of(fake)["a.txt"];
  testing::write_file(send / "a.txt", text_of(4));
  const SessionRun second = run_with(fake, send, receive);
  ASSERT_TRUE(second.reached_end) << second.lost_text;
  EXPECT_FALSE(fs::exists(send / "a.txt"));
  const auto card = card_of(fake);
  EXPECT_NE(card.at("a.txt"), before);
  EXPECT_EQ(card.size(), 2u);
}

TEST_F(HotSyncSession, ACancelledSyncTouchesNothing) {
  const fs::path send = folder("send"), receive = folder("receive");
  testing::write_file(send / "a.txt", text_of(1));
  FakeHandheldOptions options;
  options.is_sync_cancelled = true;
  FakeHandheld fake(options);
  run_with(fake, send, receive);
  EXPECT_TRUE(fs::exists(send / "a.txt"));
  EXPECT_EQ(fake.store().size(), 0u);
}

// A 20-file session with the link dropped at request k, for every k, each
// followed by a clean session. After the drop every file is in the send
// folder as it was, or complete on the handheld under its own name; after
// the clean session all have arrived, the catalog is there, no temporary
// database is left, and no mark was cleared unless its file came back.
TEST_F(HotSyncSession, NothingIsLostWhereverTheLinkDrops) {
  const fs::path seed = folder("seed"), send = folder("send"), receive = folder("receive");
  // The handheld before: six of the twenty names, two of them marked.
  for (std::size_t i = 0; i < 6; ++i)
    testing::write_file(send / ("doc" + std::to_string(i) + ".txt"), "old " + text_of(i));
  {
    FakeHandheld first({});
    ASSERT_TRUE(run_with(first, send, receive).reached_end);
    add_catalog(first, {"doc1.txt", "doc4.txt"});
    std::string error;
    ASSERT_TRUE(first.dump(seed, error)) << error;
  }
  std::map<std::string, std::string> sources;
  for (std::size_t i = 0; i < 20; ++i) sources["doc" + std::to_string(i) + ".txt"] = text_of(i + 100);
  const auto reset = [&] {
    for (const fs::path& path : {send, receive}) {
      fs::remove_all(path);
      fs::create_directories(path);
    }
    for (const auto& [name, text] : sources) testing::write_file(send / name, text);
  };

  // The clean session every dropped one is measured against.
  reset();
  FakeHandheldOptions clean;
  clean.seed = seed;
  FakeHandheld reference(clean);
  ASSERT_TRUE(run_with(reference, send, receive).reached_end);
  const auto expected = card_of(reference);
  const int last_request = static_cast<int>(reference.request_count());
  ASSERT_GT(last_request, 200);

  for (int k = 1; k <= last_request; ++k) {
    // Odd requests are carried out before the link drops, even ones not:
    // each kind of request falls both ways over twenty files.
    {
      const auto mode = k % 2 == 1 ? testing::DropMode::after_carrying_out : testing::DropMode::before_carrying_out;
      SCOPED_TRACE("dropped at request " + std::to_string(k) +
                   (mode == testing::DropMode::after_carrying_out ? ", carried out" : ", not carried out"));
      reset();
      FakeHandheldOptions options = clean;
      options.faults.drop_at_request = k;
      options.faults.drop_mode = mode;
      FakeHandheld dropped(options);
      const SessionRun run = run_with(dropped, send, receive);
      // A hang-up at EndOfSync is the end the session asked for.
      if (k < last_request) {
        EXPECT_TRUE(run.lost);
        EXPECT_FALSE(run.lost_text.empty());
      }
      auto card = card_of(dropped);
      for (const auto& [name, text] : sources) {
        if (fs::exists(send / name))
          EXPECT_EQ(testing::read_file(send / name), std::vector<std::uint8_t>(text.begin(), text.end())) << name;
        else
          EXPECT_EQ(card[name], expected.at(name)) << name << " left the send folder";
      }
      const fs::path after = dir.path() / "after";
      fs::remove_all(after);
      std::string error;
      ASSERT_TRUE(dropped.dump(after, error)) << error;

      FakeHandheldOptions next;
      next.seed = after;
      FakeHandheld again(next);
      const SessionRun second = run_with(again, send, receive);
      ASSERT_TRUE(second.reached_end) << second.lost_text;
      card = card_of(again);
      for (const auto& [name, text] : sources) {
        EXPECT_FALSE(fs::exists(send / name)) << name;
        EXPECT_EQ(card[name], expected.at(name)) << name;
      }
      EXPECT_EQ(card.count(std::string(kCatalogName)), 1u);
      for (const auto& [name, records] : card) EXPECT_FALSE(name.starts_with("~vlr")) << name;
      for (const std::string& name : {std::string("doc1.txt"), std::string("doc4.txt")}) {
        const std::vector<std::string> marked = marked_in(again);
        const bool still_marked = std::count(marked.begin(), marked.end(), name) != 0;
        EXPECT_TRUE(still_marked || fs::exists(receive / name)) << name << ": its mark went, its file did not come";
      }
      if (HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace vellora::linux_host
