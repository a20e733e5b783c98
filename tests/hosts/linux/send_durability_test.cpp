// A sync killed after it wrote a batch of documents to the PDB-folder
// handheld, before or after it made them durable but before it deleted
// their files: every sent file is still in the send folder, and the next
// sync finishes the batch from its journal, whatever its overwrite policy,
// so each document is on the handheld exactly once and no file stays.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "conduit/entry_points.h"
#include "conduit/send_journal.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "tests/support/fake_platform.h"

namespace vellora::linux_host {
namespace {

namespace fs = std::filesystem;

class KilledBeforeTheFlush : public PdbFolderHandheld {
 public:
  using PdbFolderHandheld::PdbFolderHandheld;
  SyncStatus flush_pending_writes() override {
    ::raise(SIGKILL);
    return kSyncOk;
  }
};

class KilledAfterTheFlush : public PdbFolderHandheld {
 public:
  using PdbFolderHandheld::PdbFolderHandheld;
  SyncStatus flush_pending_writes() override {
    PdbFolderHandheld::flush_pending_writes();
    ::raise(SIGKILL);
    return kSyncOk;
  }
};

struct Outcome {
  std::size_t questions = 0;
  std::vector<SessionEvent> events;
};

template <typename Handheld>
Outcome sync(const fs::path& root, std::uint32_t policy) {
  testing::FakeRegistry registry;
  registry.strings["FolderForSFiles"] = (root / "send").string();
  registry.numbers["FromPCToPalm"] = policy;
  testing::ScriptedMessageBox boxes;  // answers No, as a sync without a terminal does
  testing::RecordingLog log;
  testing::RecordingLanguage language;
  testing::FakeConverters converters;
  Handheld handheld(root / "handheld");
  Conduit conduit(Platform{handheld, registry, boxes, log, language, converters});
  Outcome outcome;
  conduit.on_event = [&](const SessionEvent& event) { outcome.events.push_back(event); };
  const int manager = 0;
  OpenConduit(&manager, conduit);
  outcome.questions = boxes.shown.size();
  return outcome;
}

template <typename Killed>
void kill_a_sync_then_sync_again(std::uint32_t policy) {
  testing::TempDir root;
  fs::create_directories(root.path() / "send");
  fs::create_directories(root.path() / "handheld");
  constexpr std::size_t kFiles = 20;
  for (std::size_t i = 0; i < kFiles; ++i)
    testing::write_file(root.path() / "send" / ("note-" + std::to_string(i) + ".txt"),
                        "note " + std::to_string(i) + "\n");
  // A file that changed after the killed sync sent it is not what its
  // database holds: it stays for the walk, which asks before replacing.
  const fs::path changed = root.path() / "send" / "note-3.txt";

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sync<Killed>(root.path(), policy);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  auto left = testing::file_names(root.path() / "send");
  EXPECT_EQ(left.size(), kFiles + 1);  // and the journal
  EXPECT_TRUE(fs::exists(root.path() / "send" / kSendJournalName));
  testing::write_file(changed, "note 3, rewritten\n");

  const Outcome second = sync<PdbFolderHandheld>(root.path(), policy);
  std::size_t finished = 0;
  for (const auto& event : second.events) finished += event.kind == SessionEventKind::removed;
  EXPECT_EQ(finished, kFiles - 1);
  if (policy == kAskBeforeOverwrite) {
    EXPECT_EQ(second.questions, 1u);  // about note-3.txt alone
    EXPECT_EQ(testing::file_names(root.path() / "send"), std::vector<std::string>{"note-3.txt"});
  } else {
    EXPECT_TRUE(testing::file_names(root.path() / "send").empty());
  }
  std::size_t databases = 0;
  for (const auto& entry : fs::directory_iterator(root.path() / "handheld")) {
    if (entry.path().extension() != ".pdb") continue;
    ++databases;
    EXPECT_EQ(entry.path().filename().string().find('~'), std::string::npos) << entry.path();
    PdbDatabase db;
    EXPECT_TRUE(read_pdb_file(entry.path(), db)) << entry.path();
  }
  EXPECT_EQ(databases, kFiles);
}

TEST(SendDurability, AKillBeforeTheFlushIsFinishedByTheNextSyncWithoutAQuestion) {
  kill_a_sync_then_sync_again<KilledBeforeTheFlush>(kAskBeforeOverwrite);
}

TEST(SendDurability, AKillAfterTheFlushIsFinishedByTheNextSyncWithoutAQuestion) {
  kill_a_sync_then_sync_again<KilledAfterTheFlush>(kAskBeforeOverwrite);
}

TEST(SendDurability, AKillIsFinishedAlsoWhenThePolicyOverwrites) {
  kill_a_sync_then_sync_again<KilledBeforeTheFlush>(0);
}

// A replacement that cannot be written, here for a limit on file sizes as a
// full disk would, leaves the old database in place, and says why in the
// system's words.
TEST(SendDurability, AFailedReplacementKeepsTheOldDatabase) {
  testing::TempDir root;
  fs::create_directories(root.path() / "send");
  fs::create_directories(root.path() / "handheld");
  const fs::path old_database = root.path() / "handheld" / "big.txt.pdb";
  {
    testing::write_file(root.path() / "send" / "big.txt", "the old text\n");
    sync<PdbFolderHandheld>(root.path(), 0);
    ASSERT_TRUE(fs::exists(old_database));
  }
  const auto old_bytes = testing::read_file(old_database);
  std::string big;
  for (int i = 0; big.size() < 200'000; ++i) big += "line " + std::to_string(i) + " of the new text\n";
  testing::write_file(root.path() / "send" / "big.txt", big);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 << 10, 64 << 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const Outcome outcome = sync<PdbFolderHandheld>(root.path(), 0);
    for (const auto& event : outcome.events)
      if (event.kind == SessionEventKind::kept && event.subject == "big.txt")
        ::_exit(event.detail.starts_with("closing the database failed on the handheld: ") &&
                        event.detail.ends_with("File too large")
                    ? 0
                    : 2);
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the file was not kept; 2: the reason is not the system's";
  EXPECT_TRUE(fs::exists(root.path() / "send" / "big.txt"));
  EXPECT_EQ(testing::read_file(old_database), old_bytes);
  EXPECT_EQ(testing::file_names(root.path() / "handheld"), (std::vector<std::string>{".vellora.lock", "big.txt.pdb"}));
}

}  // namespace
}  // namespace vellora::linux_host
