// The send pass's batch on its own: how many files one flush covers, that
// no source goes before the flush of its database, that a failed flush
// keeps the whole batch, and that a sent source is deleted only as the
// version that was read.
#include "conduit/send_batch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "tests/support/fake_platform.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using testing::file_names;

class SentBatchTest : public testing::ConduitFixture, public ::testing::Test {
 protected:
  // A file in the send folder as the walk read it.
  SentFile put_sent(const std::string& name, const std::string& text = "text\n") {
    testing::write_file(sent(name), text);
    SentFile file{name, {}};
    EXPECT_TRUE(stamp_entry(sent(name), file.stamp));
    return file;
  }

  SendFolder folder{conduit, send_dir()};
  SentBatch batch{folder};
};

TEST_F(SentBatchTest, AFullBatchIsFlushedAtOnceAndItsFilesGoOnlyAfterTheFlush) {
  // One flush of the file system serves up to 256 files.
  std::vector<SentFile> files;
  for (int i = 0; i < 257; ++i) files.push_back(put_sent(std::to_string(1000 + i)));
  std::vector<std::size_t> files_at_flush;
  handheld.before_flush = [&] { files_at_flush.push_back(file_names(send_dir()).size()); };
  for (const SentFile& file : files) batch.add_sent(file);
  // The 256th file filled the batch: one flush with every file still there.
  EXPECT_EQ(files_at_flush, std::vector<std::size_t>{257});
  EXPECT_EQ(file_names(send_dir()), std::vector<std::string>{files.back().name});
  batch.flush_and_delete_sent();
  EXPECT_EQ(files_at_flush.size(), 2u);
  EXPECT_TRUE(file_names(send_dir()).empty());
  EXPECT_TRUE(events.empty());  // the walk's files go without a line of their own
  EXPECT_FALSE(conduit.not_all_sent);
}

TEST_F(SentBatchTest, AFailedFlushKeepsTheWholeBatchAndNamesItsFiles) {
  for (const std::string name : {"a.txt", "b.txt"}) {
    batch.note_sending(name, name);
    batch.add_sent(put_sent(name));
  }
  handheld.fail_call_number = 1;
  batch.flush_and_delete_sent();
  EXPECT_EQ(file_names(send_dir()), (std::vector<std::string>{"a.txt", "b.txt"}));  // and no journal
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, SessionEventKind::problem);
  EXPECT_EQ(events[0].subject, "send pass");
  EXPECT_EQ(events[0].detail,
            "the new documents could not be made durable on the handheld (error -2); their files stay in the send "
            "folder: a.txt, b.txt");
  EXPECT_TRUE(conduit.not_all_sent);

  // A file noted but never written leaves nothing to flush: its journal
  // goes without a call to the handheld.
  handheld.calls.clear();
  batch.note_sending("c.txt", "c.txt");
  ASSERT_TRUE(fs::exists(sent(std::string(kSendJournalName))));
  batch.flush_and_delete_sent();
  EXPECT_TRUE(handheld.calls.empty());
  EXPECT_FALSE(fs::exists(sent(std::string(kSendJournalName))));
}

TEST_F(SentBatchTest, ASentSourceIsDeletedOnlyAsTheVersionRead) {
  struct Case {
    std::string name;
    bool is_changed;
    bool is_gone;
    std::string note;
    std::optional<SessionEventKind> line;
  };
  const std::vector<Case> cases = {
      {"unchanged.txt", false, false, "gone", SessionEventKind::removed},
      {"silent.txt", false, false, "", std::nullopt},
      {"gone.txt", false, true, "gone", SessionEventKind::removed},
      {"grown.txt", true, false, "gone", SessionEventKind::kept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events.clear();
    conduit.not_all_sent = false;
    const SentFile file = put_sent(c.name);
    if (c.is_changed) std::ofstream(sent(c.name), std::ios::binary | std::ios::app) << "more\n";
    if (c.is_gone) fs::remove(sent(c.name));
    batch.delete_sent_source(file, c.note);
    EXPECT_EQ(fs::exists(sent(c.name)), c.is_changed);
    EXPECT_EQ(conduit.not_all_sent, c.is_changed);
    if (!c.line) {
      EXPECT_TRUE(events.empty());
      continue;
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, *c.line);
    EXPECT_EQ(events[0].detail,
              c.is_changed ? "changed while it was being sent; it stays and is sent again at the next sync" : c.note);
  }
}

}  // namespace
}  // namespace vellora
