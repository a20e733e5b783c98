// The folder handheld through the SyncManager calls the conduit makes:
// lookups by header name, file naming, crash-safe replacement, the session
// lock and free memory.
#include "hosts/linux/pdb_folder_handheld.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "hosts/linux/pdb_file.h"
#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::file_names;
using ::vellora::testing::read_file;
using ::vellora::testing::TempDir;
using ::vellora::testing::write_file;

struct Rec {
  std::string data;
  std::uint8_t attributes = kRecordAttrDirty;
  std::uint16_t category = 0;
  std::uint32_t id = 0;
  bool operator==(const Rec&) const = default;
};

CreateDbRecord create_record(std::string_view name, std::uint16_t version = 1) {
  CreateDbRecord record{.handle = 0,
                        .creator = make_four_cc("VLRA"),
                        .flags = 0x0008,
                        .card = 0,
                        .name = {},
                        .type = make_four_cc("VLTx"),
                        .version = version};
  std::copy(name.begin(), name.end(), record.name.begin());
  return record;
}

// Appends records and returns the IDs they were given.
std::vector<std::uint32_t> write_records(SyncManager& handheld, DbHandle handle, const std::vector<Rec>& records) {
  std::vector<std::uint32_t> ids;
  for (const auto& r : records) {
    std::vector<std::uint8_t> bytes(r.data.begin(), r.data.end());
    RecordDescriptor d{.handle = handle,
                       .record_id = r.id,
                       .index = 0,
                       .attributes = r.attributes,
                       .category = r.category,
                       .size = static_cast<std::uint32_t>(bytes.size()),
                       .buffer_size = 0,
                       .data = bytes.data()};
    EXPECT_EQ(handheld.SyncWriteRec(d), kSyncOk);
    ids.push_back(d.record_id);
  }
  return ids;
}

void create_database(SyncManager& handheld, std::string_view name, const std::vector<Rec>& records = {{"hello"}}) {
  auto record = create_record(name);
  ASSERT_EQ(handheld.SyncCreateDB(record), kSyncOk);
  write_records(handheld, record.handle, records);
  ASSERT_EQ(handheld.SyncCloseDB(record.handle), kSyncOk);
}

std::vector<Rec> read_database(SyncManager& handheld, std::string_view name) {
  DbHandle handle = 0;
  EXPECT_EQ(handheld.SyncOpenDB(name, 0, handle, kOpenRead), kSyncOk);
  std::uint16_t count = 0;
  EXPECT_EQ(handheld.SyncGetDBRecordCount(handle, count), kSyncOk);
  std::vector<Rec> records;
  std::vector<std::uint8_t> buffer(0xFFFF);
  for (std::uint16_t i = 0; i < count; ++i) {
    RecordDescriptor d{.handle = handle,
                       .record_id = 0,
                       .index = i,
                       .attributes = 0,
                       .category = 0,
                       .size = 0,
                       .buffer_size = 0xFFFF,
                       .data = buffer.data()};
    EXPECT_EQ(handheld.SyncReadRecordByIndex(d), kSyncOk);
    records.push_back(Rec{.data = std::string(buffer.begin(), buffer.begin() + d.size),
                          .attributes = d.attributes,
                          .category = d.category,
                          .id = d.record_id});
  }
  EXPECT_EQ(handheld.SyncCloseDB(handle), kSyncOk);
  return records;
}

bool is_found(SyncManager& handheld, const std::string& name) {
  DbInfo info;
  return handheld.SyncFindDbByName(FindDbRequest{.options = 0x80, .reserved = 0, .name = name}, info) == kSyncOk;
}

ino_t inode_of(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(PdbFolderHandheld, WrittenDatabaseReadsBackIdentically) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  auto a = create_record("Vellora file DB", 2);
  auto b = create_record("report.htm");
  ASSERT_EQ(handheld.SyncCreateDB(a), kSyncOk);
  ASSERT_EQ(handheld.SyncCreateDB(b), kSyncOk);
  EXPECT_NE(a.handle, 0);
  EXPECT_NE(a.handle, b.handle);
  const std::vector<Rec> records = {
      {.data = "first", .attributes = 0x40, .category = 3, .id = 0},
      {.data = "", .attributes = 0x40, .category = 0, .id = 0},
      {.data = std::string(40000, 'x'), .attributes = 0x40, .category = 15, .id = 0x123456},
      {.data = "last", .attributes = 0x4F, .category = 1, .id = 0}};
  const auto ids = write_records(handheld, a.handle, records);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 0x123456, 0x123457}));
  DbInfo info;
  ASSERT_EQ(handheld.SyncReadOpenDbInfo(a.handle, info), kSyncOk);
  EXPECT_EQ(info.record_count, 4);
  ASSERT_EQ(handheld.SyncCloseDB(a.handle), kSyncOk);
  ASSERT_EQ(handheld.SyncCloseDB(b.handle), kSyncOk);
  EXPECT_EQ(file_names(folder.path()), (std::vector<std::string>{"Vellora file DB.pdb", "report.htm.pdb"}));

  PdbFolderHandheld reader(folder.path());
  auto want = records;
  for (std::size_t i = 0; i < want.size(); ++i) {
    want[i].id = ids[i];
    want[i].attributes &= 0xF0;  // the low nibble of the byte is the category
  }
  EXPECT_EQ(read_database(reader, "Vellora file DB"), want);
  ASSERT_EQ(reader.SyncFindDbByName({.options = 0x80, .reserved = 0, .name = "Vellora file DB"}, info), kSyncOk);
  EXPECT_EQ(info.name, "Vellora file DB");
  EXPECT_EQ(info.type, make_four_cc("VLTx"));
  EXPECT_EQ(info.creator, make_four_cc("VLRA"));
  EXPECT_EQ(info.version, 2);
  EXPECT_EQ(info.flags, 0x0008);
  EXPECT_EQ(info.record_count, 4);
  EXPECT_NEAR(static_cast<double>(unix_time_from_pdb(info.created)), static_cast<double>(std::time(nullptr)), 60.0);
}

TEST(PdbFolderHandheld, ReadCopiesAtMostTheBufferAndReportsTheFullSize) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  create_database(handheld, "db", {{.data = "0123456789", .attributes = 0x40, .category = 5, .id = 0}});
  DbHandle handle = 0;
  ASSERT_EQ(handheld.SyncOpenDB("db", 0, handle, kOpenRead), kSyncOk);
  std::uint8_t buffer[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  RecordDescriptor d{.handle = handle,
                     .record_id = 0,
                     .index = 0,
                     .attributes = 0,
                     .category = 0,
                     .size = 0,
                     .buffer_size = 4,
                     .data = buffer};
  ASSERT_EQ(handheld.SyncReadRecordByIndex(d), kSyncOk);
  EXPECT_EQ(d.size, 10u);
  EXPECT_EQ(d.category, 5);
  EXPECT_EQ(d.attributes, 0x40);
  EXPECT_EQ(std::string(buffer, buffer + 5), std::string("0123\0", 5));
  d.index = 1;
  EXPECT_EQ(handheld.SyncReadRecordByIndex(d), kHandheldNoRecord);
}

TEST(PdbFolderHandheld, IdsStayUniqueAcrossWritesAndReopens) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  auto create = create_record("ids");
  ASSERT_EQ(handheld.SyncCreateDB(create), kSyncOk);
  EXPECT_EQ(write_records(handheld, create.handle, {{.data = "a", .id = 5}, {.data = "b"}}),
            (std::vector<std::uint32_t>{5, 6}));
  std::uint8_t byte = 0;
  RecordDescriptor duplicate{.handle = create.handle,
                             .record_id = 5,
                             .index = 0,
                             .attributes = 0x40,
                             .category = 0,
                             .size = 1,
                             .buffer_size = 0,
                             .data = &byte};
  EXPECT_EQ(handheld.SyncWriteRec(duplicate), kHandheldBadRecord);
  duplicate.record_id = 0x1000000;
  EXPECT_EQ(handheld.SyncWriteRec(duplicate), kHandheldBadRecord);
  duplicate.record_id = 0;
  duplicate.category = 16;
  EXPECT_EQ(handheld.SyncWriteRec(duplicate), kHandheldBadRecord);
  ASSERT_EQ(handheld.SyncCloseDB(create.handle), kSyncOk);

  // Reopened for writing: appends, gets fresh IDs, and the file is rewritten.
  DbHandle handle = 0;
  ASSERT_EQ(handheld.SyncOpenDB("ids", 0, handle, kOpenRead | kOpenWrite), kSyncOk);
  EXPECT_EQ(write_records(handheld, handle, {{.data = "c"}}), std::vector<std::uint32_t>{7});
  ASSERT_EQ(handheld.SyncCloseDB(handle), kSyncOk);
  const auto records = read_database(handheld, "ids");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].data, "c");
  DbInfo info;
  ASSERT_EQ(handheld.SyncFindDbByName({.options = 0x80, .reserved = 0, .name = "ids"}, info), kSyncOk);
  EXPECT_EQ(info.modification_number, 1u);

  ASSERT_EQ(handheld.SyncOpenDB("ids", 0, handle, kOpenRead), kSyncOk);
  duplicate.handle = handle;
  EXPECT_EQ(handheld.SyncWriteRec(duplicate), kHandheldBadMode);
  EXPECT_EQ(handheld.SyncCloseDB(handle), kSyncOk);
}

TEST(PdbFolderHandheld, RecordCountAndSizeLimits) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  auto create = create_record("full");
  ASSERT_EQ(handheld.SyncCreateDB(create), kSyncOk);
  std::vector<std::uint8_t> bytes(kPdbMaxRecordBytes + 1, 'r');
  RecordDescriptor d{.handle = create.handle,
                     .record_id = 0,
                     .index = 0,
                     .attributes = 0x40,
                     .category = 0,
                     .size = static_cast<std::uint32_t>(bytes.size()),
                     .buffer_size = 0,
                     .data = bytes.data()};
  EXPECT_EQ(handheld.SyncWriteRec(d), kHandheldBadRecord);
  d.size = 1;
  for (std::size_t i = 0; i < kPdbMaxRecords; ++i) {
    d.record_id = 0;
    ASSERT_EQ(handheld.SyncWriteRec(d), kSyncOk);
  }
  d.record_id = 0;
  EXPECT_EQ(handheld.SyncWriteRec(d), kHandheldFull);
  ASSERT_EQ(handheld.SyncCloseDB(create.handle), kSyncOk);
  DbInfo info;
  ASSERT_EQ(handheld.SyncFindDbByName({.options = 0x80, .reserved = 0, .name = "full"}, info), kSyncOk);
  EXPECT_EQ(info.record_count, kPdbMaxRecords);
}

TEST(PdbFolderHandheld, FindsDatabasesByHeaderNameWhateverTheFileName) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  create_database(handheld, "Memo");
  std::filesystem::rename(folder / "Memo.pdb", folder / "zz renamed.pdb");
  EXPECT_EQ(handheld.database_path("Memo"), folder / "zz renamed.pdb");
  EXPECT_EQ(read_database(handheld, "Memo").size(), 1u);
  EXPECT_FALSE(handheld.database_path("zz renamed"));
  EXPECT_FALSE(is_found(handheld, "zz renamed"));
}

TEST(PdbFolderHandheld, EscapesFileNames) {
  EXPECT_EQ(database_file_name("Vellora file DB"), "Vellora file DB.pdb");
  EXPECT_EQ(database_file_name("report.htm"), "report.htm.pdb");
  EXPECT_EQ(database_file_name("a/b%c\\d"), "a%2Fb%25c%5Cd.pdb");
  EXPECT_EQ(database_file_name(".hidden.x"), "%2Ehidden.x.pdb");
  EXPECT_EQ(database_file_name("caf\xC3\xA9\t\x7F"), "caf%C3%A9%09%7F.pdb");

  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  create_database(handheld, "a/b%c");
  create_database(handheld, ".profile");
  EXPECT_EQ(file_names(folder.path()), (std::vector<std::string>{"%2Eprofile.pdb", "a%2Fb%25c.pdb"}));
  EXPECT_TRUE(is_found(handheld, "a/b%c"));
}

TEST(PdbFolderHandheld, InvalidFilesAndOtherDatabasesAreNeverOverwritten) {
  TempDir folder;
  const std::vector<std::uint8_t> junk = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'd', 'b'};
  write_file(folder / "Notes.pdb", junk);
  PdbFolderHandheld handheld(folder.path());
  EXPECT_FALSE(is_found(handheld, "Notes"));
  EXPECT_EQ(handheld.SyncDeleteDB("Notes", 0), kHandheldNotFound);
  create_database(handheld, "Notes");
  EXPECT_EQ(read_file(folder / "Notes.pdb"), junk);
  EXPECT_EQ(handheld.database_path("Notes"), folder / "Notes~1.pdb");

  create_database(handheld, "Other");
  std::filesystem::rename(folder / "Other.pdb", folder / "Memo.pdb");
  create_database(handheld, "Memo");
  EXPECT_EQ(handheld.database_path("Other"), folder / "Memo.pdb");
  EXPECT_EQ(handheld.database_path("Memo"), folder / "Memo~1.pdb");
}

TEST(PdbFolderHandheld, DeleteHidesUntilTheSessionEnds) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  create_database(handheld, "doc");
  ConduitHandle session = 0;
  ASSERT_EQ(handheld.SyncRegisterConduit(session), kSyncOk);
  ASSERT_EQ(handheld.SyncDeleteDB("doc", 0), kSyncOk);
  EXPECT_FALSE(is_found(handheld, "doc"));
  DbHandle handle = 0;
  EXPECT_EQ(handheld.SyncOpenDB("doc", 0, handle, kOpenRead), kHandheldNotFound);
  EXPECT_EQ(handheld.SyncDeleteDB("doc", 0), kHandheldNotFound);
  EXPECT_TRUE(std::filesystem::exists(folder / "doc.pdb"));
  ASSERT_EQ(handheld.SyncUnRegisterConduit(session), kSyncOk);
  EXPECT_FALSE(std::filesystem::exists(folder / "doc.pdb"));
}

TEST(PdbFolderHandheld, DeleteThenCreateReplacesTheFileInOneRename) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  create_database(handheld, "doc", {{.data = "old"}});
  std::filesystem::rename(folder / "doc.pdb", folder / "renamed.pdb");
  const auto old_bytes = read_file(folder / "renamed.pdb");
  const auto old_inode = inode_of(folder / "renamed.pdb");
  ConduitHandle session = 0;
  ASSERT_EQ(handheld.SyncRegisterConduit(session), kSyncOk);
  ASSERT_EQ(handheld.SyncDeleteDB("doc", 0), kSyncOk);

  auto create = create_record("doc");
  ASSERT_EQ(handheld.SyncCreateDB(create), kSyncOk);
  write_records(handheld, create.handle, {{.data = "new"}, {.data = "more"}});
  // Until the new database is complete the old one is untouched on disk.
  EXPECT_EQ(read_file(folder / "renamed.pdb"), old_bytes);
  EXPECT_EQ(file_names(folder.path()), (std::vector<std::string>{".vellora.lock", "renamed.pdb"}));
  ASSERT_EQ(handheld.SyncCloseDB(create.handle), kSyncOk);

  EXPECT_EQ(file_names(folder.path()), (std::vector<std::string>{".vellora.lock", "renamed.pdb"}));
  EXPECT_NE(inode_of(folder / "renamed.pdb"), old_inode);
  ASSERT_EQ(handheld.SyncUnRegisterConduit(session), kSyncOk);
  const auto records = read_database(handheld, "doc");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].data, "new");
}

TEST(PdbFolderHandheld, KilledSessionLeavesTheOldDatabaseAndReleasesTheLock) {
  TempDir folder;
  {
    PdbFolderHandheld handheld(folder.path());
    create_database(handheld, "doc", {{.data = "old"}});
  }
  const auto old_bytes = read_file(folder / "doc.pdb");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PdbFolderHandheld handheld(folder.path());
    ConduitHandle session = 0;
    handheld.SyncRegisterConduit(session);
    handheld.SyncDeleteDB("doc", 0);
    auto create = create_record("doc");
    handheld.SyncCreateDB(create);
    write_records(handheld, create.handle, {{.data = "new"}});
    ::_exit(0);  // killed before the close: no destructor runs
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(read_file(folder / "doc.pdb"), old_bytes);
  PdbFolderHandheld handheld(folder.path());
  ConduitHandle session = 0;
  EXPECT_EQ(handheld.SyncRegisterConduit(session), kSyncOk);
  EXPECT_TRUE(is_found(handheld, "doc"));
}

TEST(PdbFolderHandheld, OneSessionAtATime) {
  TempDir folder;
  PdbFolderHandheld first(folder.path());
  PdbFolderHandheld second(folder.path());
  ConduitHandle a = 0;
  ConduitHandle b = 0;
  ASSERT_EQ(first.SyncRegisterConduit(a), kSyncOk);
  EXPECT_NE(a, 0u);
  EXPECT_EQ(second.SyncRegisterConduit(b), kHandheldLocked);
  EXPECT_EQ(second.last_error(), (folder / ".vellora.lock").string() + ": another session holds the folder");
  EXPECT_EQ(second.SyncUnRegisterConduit(a), kHandheldNotRegistered);
  ASSERT_EQ(first.SyncUnRegisterConduit(a), kSyncOk);
  EXPECT_EQ(second.SyncRegisterConduit(b), kSyncOk);
}

TEST(PdbFolderHandheld, LeftoverTemporaryFilesAreIgnoredAndCleanedAtRegister) {
  TempDir folder;
  PdbDatabase db;
  db.header.name = "ghost";
  const auto bytes = serialize_pdb(db);
  write_file(folder / ".vellora-tmp-a1b2c3", bytes);
  PdbFolderHandheld handheld(folder.path());
  EXPECT_FALSE(is_found(handheld, "ghost"));
  ConduitHandle session = 0;
  ASSERT_EQ(handheld.SyncRegisterConduit(session), kSyncOk);
  EXPECT_EQ(file_names(folder.path()), std::vector<std::string>{".vellora.lock"});
}

TEST(PdbFolderHandheld, FreeMemoryComesFromHandheldConf) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  CardInfo info;
  ASSERT_EQ(handheld.SyncReadSingleCardInfo(info), kSyncOk);
  EXPECT_EQ(info.free_bytes, 8388608u);

  write_file(folder / "junk.PDB", std::vector<std::uint8_t>(1000, 0));  // counts, though invalid
  create_database(handheld, "db");
  const auto used = 1000 + std::filesystem::file_size(folder / "db.pdb");
  std::ofstream(folder / "handheld.conf") << "# test handheld\n\n  memory = 5000  # bytes\n"
                                          << "colour = yes\n";
  ASSERT_EQ(handheld.SyncReadSingleCardInfo(info), kSyncOk);
  EXPECT_EQ(info.ram_bytes, 5000u);
  EXPECT_EQ(info.free_bytes, 5000u - used);

  std::ofstream(folder / "handheld.conf") << "memory=500\n";
  ASSERT_EQ(handheld.SyncReadSingleCardInfo(info), kSyncOk);
  EXPECT_EQ(info.free_bytes, 0u);

  std::ofstream(folder / "handheld.conf") << "# fine\nmemory = 8 MB\n";
  EXPECT_EQ(handheld.SyncReadSingleCardInfo(info), kHandheldBadConf);
  EXPECT_EQ(handheld.last_error(),
            (folder / "handheld.conf").string() + ": line 2: memory value \"8 MB\" is not a number of bytes");
  info.card = 1;
  EXPECT_EQ(handheld.SyncReadSingleCardInfo(info), kHandheldNoCard);
}

TEST(PdbFolderHandheld, ConflictingCallsFailWithTheirCodes) {
  TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  create_database(handheld, "db");
  DbHandle handle = 0;
  DbHandle again = 0;
  ASSERT_EQ(handheld.SyncOpenDB("db", 0, handle, kOpenRead), kSyncOk);
  EXPECT_EQ(handheld.SyncOpenDB("db", 0, again, kOpenRead), kHandheldAlreadyOpen);
  EXPECT_EQ(handheld.SyncDeleteDB("db", 0), kHandheldAlreadyOpen);
  auto create = create_record("db");
  EXPECT_EQ(handheld.SyncCreateDB(create), kHandheldExists);
  ASSERT_EQ(handheld.SyncCloseDB(handle), kSyncOk);
  EXPECT_EQ(handheld.SyncCloseDB(handle), kHandheldBadHandle);
  EXPECT_EQ(handheld.SyncCreateDB(create), kHandheldExists);

  auto unterminated = create_record("");
  unterminated.name.fill('x');
  EXPECT_EQ(handheld.SyncCreateDB(unterminated), kHandheldBadName);
  auto resource = create_record("res");
  resource.flags = kPdbAttrResource;
  EXPECT_EQ(handheld.SyncCreateDB(resource), kHandheldUnsupported);
  EXPECT_EQ(handheld.SyncOpenDB("db", 0, handle, 0), kHandheldBadMode);
  EXPECT_EQ(handheld.SyncOpenDB("db", 1, handle, kOpenRead), kHandheldNoCard);

  // A created database is visible to lookups and busy until it is closed.
  auto pending = create_record("pending");
  ASSERT_EQ(handheld.SyncCreateDB(pending), kSyncOk);
  EXPECT_TRUE(is_found(handheld, "pending"));
  EXPECT_EQ(handheld.SyncCreateDB(pending), kHandheldExists);
  EXPECT_FALSE(std::filesystem::exists(folder / "pending.pdb"));

  PdbFolderHandheld missing(folder / "absent");
  EXPECT_EQ(missing.SyncOpenDB("db", 0, handle, kOpenRead), kHandheldNoFolder);
  EXPECT_EQ(missing.last_error(), (folder / "absent").string() + ": No such file or directory");
  ConduitHandle session = 0;
  EXPECT_EQ(missing.SyncRegisterConduit(session), kHandheldNoFolder);
}

}  // namespace
}  // namespace vellora::linux_host
