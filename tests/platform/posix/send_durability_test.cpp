// A sync killed after it wrote a batch of documents to the PDB-folder
// handheld and before it made them durable: every sent file is still in the
// send folder, and the next sync sends each one exactly once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "conduit/entry_points.h"
#include "platform/posix/pdb_file.h"
#include "platform/posix/pdb_folder_handheld.h"
#include "tests/support/fake_platform.h"

namespace vellora::posix {
namespace {

namespace fs = std::filesystem;

class KilledBeforeTheFlush : public PdbFolderHandheld {
 public:
  using PdbFolderHandheld::PdbFolderHandheld;
  SyncStatus make_writes_durable() override {
    ::raise(SIGKILL);
    return kSyncOk;
  }
};

template <typename Handheld>
void sync(const fs::path& root) {
  testing::FakeRegistry registry;
  registry.strings["FolderForSFiles"] = (root / "send").string();
  registry.numbers["FromPCToPalm"] = 0;  // overwrite without asking
  testing::ScriptedMessageBox boxes;
  testing::RecordingLog log;
  testing::RecordingLanguage language;
  testing::FakeConverters converters;
  Handheld handheld(root / "handheld");
  Conduit conduit(Platform{handheld, registry, boxes, log, language, converters});
  const int manager = 0;
  OpenConduit(&manager, conduit);
}

TEST(SendDurability, AKillBetweenTheBatchAndItsFlushLosesNoFile) {
  testing::TempDir root;
  fs::create_directories(root.path() / "send");
  fs::create_directories(root.path() / "handheld");
  constexpr int kFiles = 20;
  for (int i = 0; i < kFiles; ++i)
    testing::write_file(root.path() / "send" / ("note-" + std::to_string(i) + ".txt"), "note " + std::to_string(i) + "\n");

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sync<KilledBeforeTheFlush>(root.path());
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(testing::file_names(root.path() / "send").size(), static_cast<std::size_t>(kFiles));

  sync<PdbFolderHandheld>(root.path());
  EXPECT_TRUE(testing::file_names(root.path() / "send").empty());
  std::size_t databases = 0;
  for (const auto& entry : fs::directory_iterator(root.path() / "handheld")) {
    if (entry.path().extension() != ".pdb") continue;
    ++databases;
    EXPECT_EQ(entry.path().filename().string().find('~'), std::string::npos) << entry.path();
    PdbDatabase db;
    EXPECT_TRUE(read_pdb_file(entry.path(), db)) << entry.path();
  }
  EXPECT_EQ(databases, static_cast<std::size_t>(kFiles));
}

}  // namespace
}  // namespace vellora::posix
