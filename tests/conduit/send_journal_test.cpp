// The send journal's file: any name survives the round trip, and a journal
// cut short or not ours yields only the entries that are whole.
#include "conduit/send_journal.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

TEST(SendJournal, NamesOfAnyBytesSurviveAndAClearedJournalIsGone) {
  testing::TempDir dir;
  const std::vector<JournalEntry> written = {
      {"plain.txt", "plain.txt"},
      {"tab\tnew\nline%41.txt", "tab\tnew\nline%41.txt"},
      {"caf\xE9 \x7F.rtf", "caf\xE9 \x7F.rtf"},
  };
  SendJournal journal(dir.path());
  for (const auto& entry : written) journal.add(entry.file, entry.database);
  bool found = false;
  EXPECT_EQ(SendJournal::read(dir.path(), found), written);
  EXPECT_TRUE(found);
  journal.clear();
  EXPECT_TRUE(SendJournal::read(dir.path(), found).empty());
  EXPECT_FALSE(found);
}

TEST(SendJournal, OnlyWholeLinesOfAJournalOfOursCount) {
  testing::TempDir dir;
  const auto path = dir / std::string(kSendJournalName);
  bool found = false;
  testing::write_file(path, "vellora send journal 1\na.txt\ta.txt\nno tab\nbad%G1\tx\nb.txt\tb.t");
  EXPECT_EQ(SendJournal::read(dir.path(), found), (std::vector<JournalEntry>{{"a.txt", "a.txt"}}));
  testing::write_file(path, "something else\na.txt\ta.txt\n");
  EXPECT_TRUE(SendJournal::read(dir.path(), found).empty());
  EXPECT_TRUE(found);  // found, so the session removes it
  std::filesystem::remove(path);
  std::filesystem::create_symlink("/etc/hostname", path);
  EXPECT_TRUE(SendJournal::read(dir.path(), found).empty());
}

}  // namespace
}  // namespace vellora
