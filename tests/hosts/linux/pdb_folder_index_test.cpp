// The folder index behind the handheld's lookups: changes made by other
// writers between calls are seen, in both ways of watching the folder, and
// an unchanged folder costs no file reads.
#include "hosts/linux/pdb_folder_index.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::TempDir;
using ::vellora::testing::write_file;

PdbDatabase database(const std::string& name, std::size_t records) {
  PdbDatabase db;
  db.header.name = name;
  const std::uint8_t byte = 'x';
  for (std::size_t i = 0; i < records; ++i)
    db.append_record(PdbRecordView{
        .data = {&byte, 1}, .attributes = 0x40, .category = 0, .unique_id = static_cast<std::uint32_t>(i + 1)});
  return db;
}

// Record count of the live database `name`, or -1 when it is not found.
int found_records(PdbFolderHandheld& handheld, const std::string& name) {
  DbInfo info;
  if (handheld.SyncFindDbByName({.options = 0x80, .reserved = 0, .name = name}, info) != kSyncOk) return -1;
  return info.record_count;
}

std::uint32_t free_bytes(PdbFolderHandheld& handheld) {
  CardInfo card;
  EXPECT_EQ(handheld.SyncReadSingleCardInfo(card), kSyncOk);
  return card.free_bytes;
}

class FolderChanges : public ::testing::TestWithParam<FolderWatch> {};

INSTANTIATE_TEST_SUITE_P(Watch, FolderChanges, ::testing::Values(FolderWatch::automatic, FolderWatch::stat_only),
                         [](const auto& info) {
                           return info.param == FolderWatch::automatic ? "automatic" : "stat_only";
                         });

TEST_P(FolderChanges, FilesAddedAndRemovedByOthersAreSeen) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path(), GetParam());
  const std::uint32_t empty_free = free_bytes(handheld);
  EXPECT_EQ(found_records(handheld, "late"), -1);
  // Straight after the lookup, so within the same file system clock tick.
  ASSERT_TRUE(write_pdb_file(folder / "late.pdb", database("late", 2)));
  EXPECT_EQ(found_records(handheld, "late"), 2);
  EXPECT_LT(free_bytes(handheld), empty_free);

  std::filesystem::remove(folder / "late.pdb");
  EXPECT_EQ(found_records(handheld, "late"), -1);
  DbHandle handle = 0;
  EXPECT_EQ(handheld.SyncOpenDB("late", 0, handle, kOpenRead), kHandheldNotFound);
  EXPECT_EQ(free_bytes(handheld), empty_free);
}

TEST_P(FolderChanges, ReplacedRewrittenAndRenamedFilesAreReread) {
  TempDir folder;
  ASSERT_TRUE(write_pdb_file(folder / "doc.pdb", database("doc", 1)));
  PdbFolderHandheld handheld(folder.path(), GetParam());
  EXPECT_EQ(found_records(handheld, "doc"), 1);

  ASSERT_TRUE(write_pdb_file(folder / "doc.pdb", database("doc", 3)));  // by rename
  EXPECT_EQ(found_records(handheld, "doc"), 3);

  write_file(folder / "doc.pdb", serialize_pdb(database("doc", 2)));  // in place
  EXPECT_EQ(found_records(handheld, "doc"), 2);

  std::filesystem::rename(folder / "doc.pdb", folder / "moved.pdb");
  EXPECT_EQ(handheld.database_path("doc"), folder / "moved.pdb");

  write_file(folder / "moved.pdb", std::string("no longer a database"));
  EXPECT_EQ(found_records(handheld, "doc"), -1);
}

TEST_P(FolderChanges, AnotherFolderAtThePathIsReadAfresh) {
  TempDir parent;
  const auto folder = parent / "handheld";
  std::filesystem::create_directory(folder);
  ASSERT_TRUE(write_pdb_file(folder / "a.pdb", database("old", 1)));
  PdbFolderHandheld handheld(folder, GetParam());
  EXPECT_EQ(found_records(handheld, "old"), 1);

  std::filesystem::rename(folder, parent / "previous");
  std::filesystem::create_directory(folder);
  ASSERT_TRUE(write_pdb_file(folder / "a.pdb", database("new", 1)));
  EXPECT_EQ(found_records(handheld, "new"), 1);
  EXPECT_EQ(found_records(handheld, "old"), -1);
}

TEST_P(FolderChanges, UnchangedFolderCostsNoFileReads) {
  TempDir folder;
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(write_pdb_file(folder / ("db" + std::to_string(i) + ".pdb"), database("db" + std::to_string(i), 1)));
  // Past the window in which fresh timestamps cannot be trusted.
  std::this_thread::sleep_for(std::chrono::milliseconds(kRacyWindowNs / 1'000'000 + 20));
  PdbFolderIndex index(folder.path(), GetParam());
  index.refresh();
  EXPECT_EQ(index.file_count(), 20u);
  EXPECT_EQ(index.header_reads(), 20u);
  const auto listings = index.listings();
  for (int i = 0; i < 100; ++i) {
    index.refresh();
    EXPECT_EQ(index.databases_named("db7").size(), 1u);
    EXPECT_TRUE(index.databases_named("absent").empty());
  }
  EXPECT_EQ(index.header_reads(), 20u);
  EXPECT_EQ(index.listings(), listings);

  // A new file costs one header read, not twenty-one.
  ASSERT_TRUE(write_pdb_file(folder / "new.pdb", database("new", 1)));
  index.refresh();
  EXPECT_EQ(index.header_reads(), 21u);
  EXPECT_EQ(index.databases_named("new").size(), 1u);
}

}  // namespace
}  // namespace vellora::linux_host
