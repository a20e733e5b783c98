// The folder handheld reading a database opened read-only: records come
// from the file when they are asked for, and a file changed under an open
// database gives an I/O error naming it, never bytes from past a record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::TempDir;

// "db.pdb": records "first" at 96 and "second" at 101, 107 bytes in all.
class ReadOnlyDatabase : public ::testing::Test {
 protected:
  ReadOnlyDatabase() {
    PdbDatabase db;
    db.header.name = "db";
    std::uint32_t id = 7;
    for (const std::string text : {"first", "second"}) {
      const std::vector<std::uint8_t> bytes(text.begin(), text.end());
      EXPECT_TRUE(db.append_record({.data = bytes, .attributes = 0x40, .category = 2, .unique_id = id++}));
    }
    EXPECT_TRUE(write_pdb_file(path, db));
    EXPECT_EQ(handheld.SyncOpenDB("db", 0, handle, kOpenRead | kOpenExclusive), kSyncOk);
  }

  // Reads record `index` into a buffer of `buffer_size` bytes; `text` gets
  // the bytes copied.
  SyncStatus read(std::uint16_t index, std::string& text, std::uint16_t buffer_size = 64) {
    std::vector<std::uint8_t> buffer(buffer_size, '.');
    last = RecordDescriptor{.handle = handle,
                            .record_id = 0,
                            .index = index,
                            .attributes = 0,
                            .category = 0,
                            .size = 0,
                            .buffer_size = buffer_size,
                            .data = buffer.data()};
    const SyncStatus status = handheld.SyncReadRecordByIndex(last);
    text.assign(buffer.begin(), buffer.begin() + std::min<std::size_t>(last.size, buffer_size));
    return status;
  }

  TempDir folder;
  std::filesystem::path path = folder / "db.pdb";
  PdbFolderHandheld handheld{folder.path()};
  DbHandle handle = 0;
  RecordDescriptor last;
};

TEST_F(ReadOnlyDatabase, RecordsAreReadFromTheFileWhenAskedFor) {
  std::string text;
  ASSERT_EQ(read(1, text, 3), kSyncOk);
  EXPECT_EQ(text, "sec");
  EXPECT_EQ(last.size, 6u);
  EXPECT_EQ(last.record_id, 8u);
  EXPECT_EQ(last.category, 2);
  EXPECT_EQ(last.attributes, 0x40);
  // Bytes rewritten in place are what the next read returns.
  ASSERT_EQ(::truncate(path.c_str(), 101), 0);
  ASSERT_EQ(::truncate(path.c_str(), 107), 0);
  ASSERT_EQ(read(1, text), kSyncOk);
  EXPECT_EQ(text, std::string(6, '\0'));

  // Cut short, the record is an I/O error naming the file, while the count
  // and the sizes read at opening still answer.
  ASSERT_EQ(::truncate(path.c_str(), 103), 0);
  EXPECT_EQ(read(1, text), kHandheldIoError);
  EXPECT_EQ(handheld.last_error(),
            path.string() + ": record 1 cut short at byte 103: the file shrank after it was opened");
  ASSERT_EQ(read(0, text), kSyncOk);
  EXPECT_EQ(text, "first");
  std::uint16_t count = 0;
  ASSERT_EQ(handheld.SyncGetDBRecordCount(handle, count), kSyncOk);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(read(2, text), kHandheldNoRecord);
  EXPECT_EQ(handheld.SyncCloseDB(handle), kSyncOk);
}

TEST_F(ReadOnlyDatabase, FileReplacedUnderItKeepsServingTheOpenedOne) {
  PdbDatabase other;
  other.header.name = "db";
  ASSERT_TRUE(write_pdb_file(path, other));  // renamed over it, no records
  std::string text;
  ASSERT_EQ(read(1, text), kSyncOk);
  EXPECT_EQ(text, "second");
  DbInfo info;
  ASSERT_EQ(handheld.SyncReadOpenDbInfo(handle, info), kSyncOk);
  EXPECT_EQ(info.record_count, 2);
  ASSERT_EQ(handheld.SyncCloseDB(handle), kSyncOk);
  ASSERT_EQ(handheld.SyncOpenDB("db", 0, handle, kOpenRead), kSyncOk);
  EXPECT_EQ(read(0, text), kHandheldNoRecord);
  EXPECT_EQ(handheld.SyncCloseDB(handle), kSyncOk);
}

}  // namespace
}  // namespace vellora::linux_host
