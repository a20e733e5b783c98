// The stand-in handheld of the Windows tests must leave the same files as
// the Linux host for the same calls, or a byte comparison of sessions
// through the two would test the stand-in instead of the conduit. Each
// case runs one call script on both and compares the folders, dates
// masked (each side takes its own clock).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "hosts/linux/pdb_folder_handheld.h"
#include "tests/hosts/windows/wine/pdb_folder_store.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;

std::uint32_t fixed_time() { return 0xC0000000; }

struct Write {
  std::string bytes;
  std::uint8_t attributes;
  std::uint16_t category;
  std::uint32_t record_id;
};

// One database created with `first`, then reopened for writing and given
// `second` (nothing when empty), then `deleted` removed.
struct Script {
  const char* what;
  std::string name;
  std::vector<Write> first;
  std::vector<Write> second;
  std::string deleted;
};

void run(SyncManager& sync, const Script& script) {
  ConduitHandle session = 0;
  ASSERT_EQ(sync.SyncRegisterConduit(session), kSyncOk);
  CreateDbRecord create;
  create.creator = make_four_cc("VLTx");
  create.type = make_four_cc("TEXt");
  create.flags = 0x0008;
  create.version = 3;
  script.name.copy(create.name.data(), create.name.size() - 1);
  ASSERT_EQ(sync.SyncCreateDB(create), kSyncOk);
  const auto write_all = [&](DbHandle handle, const std::vector<Write>& writes) {
    for (const auto& w : writes) {
      std::vector<std::uint8_t> data(w.bytes.begin(), w.bytes.end());
      RecordDescriptor record{.handle = handle,
                              .record_id = w.record_id,
                              .index = 0,
                              .attributes = w.attributes,
                              .category = w.category,
                              .size = static_cast<std::uint32_t>(data.size()),
                              .buffer_size = 0,
                              .data = data.data()};
      ASSERT_EQ(sync.SyncWriteRec(record), kSyncOk);
    }
  };
  write_all(create.handle, script.first);
  ASSERT_EQ(sync.SyncCloseDB(create.handle), kSyncOk);
  if (!script.second.empty()) {
    DbHandle handle = 0;
    ASSERT_EQ(sync.SyncOpenDB(script.name, 0, handle, kOpenRead | kOpenWrite), kSyncOk);
    write_all(handle, script.second);
    ASSERT_EQ(sync.SyncCloseDB(handle), kSyncOk);
  }
  if (!script.deleted.empty()) {
    ASSERT_EQ(sync.SyncDeleteDB(script.deleted, 0), kSyncOk);
  }
  ASSERT_EQ(sync.SyncUnRegisterConduit(session), kSyncOk);
}

// File name -> contents with the three header dates zeroed.
std::map<std::string, std::string> databases(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".pdb") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() >= 48) bytes.replace(36, 12, 12, '\0');
    out[entry.path().filename().string()] = bytes;
  }
  return out;
}

const Script kScripts[] = {
    {"empty database", "notes.txt", {}, {}, ""},
    {"records get IDs from 1", "report.htm", {{"abc", 0x40, 0, 0}, {"", 0x40, 0, 0}, {"xyz", 0x40, 3, 0}}, {}, ""},
    {"given IDs move the seed", "a", {{"one", 0x40, 0, 7}, {"two", 0x40, 1, 0}}, {}, ""},
    {"reopened database appends and counts a modification",
     "letter.rtf",
     {{"first", 0x40, 0, 0}},
     {{"second", 0x40, 15, 0}},
     ""},
    {"names escaped in file names", ".hidden/50%\x01", {{"x", 0x40, 0, 0}}, {}, ""},
    {"deleted database leaves no file", "gone.txt", {{"x", 0x40, 0, 0}}, {}, "gone.txt"},
};

class PdbFolderStoreMatchesLinux : public ::testing::TestWithParam<Script> {};

TEST_P(PdbFolderStoreMatchesLinux, SameFilesButDates) {
  // The process ID keeps two builds' test runs out of each other's folders.
  const auto root = fs::temp_directory_path() / ("vellora-store-test-" + std::to_string(::getpid()) + "-" +
                                                 std::to_string(reinterpret_cast<std::uintptr_t>(&GetParam())));
  fs::remove_all(root);
  fs::create_directories(root / "linux");
  fs::create_directories(root / "stand-in");
  {
    linux_host::PdbFolderHandheld linux_handheld(root / "linux");
    run(linux_handheld, GetParam());
  }
  stand_in::PdbFolderStore store(root / "stand-in", fixed_time);
  run(store, GetParam());
  EXPECT_EQ(databases(root / "linux"), databases(root / "stand-in")) << GetParam().what;
  fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Scripts, PdbFolderStoreMatchesLinux, ::testing::ValuesIn(kScripts));

TEST(PdbFolderStore, StandInReadsBackWhatLinuxWrote) {
  const auto root = fs::temp_directory_path() / "vellora-store-readback";
  fs::remove_all(root);
  fs::create_directories(root);
  {
    linux_host::PdbFolderHandheld linux_handheld(root);
    run(linux_handheld, kScripts[3]);
  }
  stand_in::PdbFolderStore store(root, fixed_time);
  FindDbRequest request;
  request.name = "letter.rtf";
  DbInfo info;
  ASSERT_EQ(store.SyncFindDbByName(request, info), kSyncOk);
  EXPECT_EQ(info.record_count, 2);
  EXPECT_EQ(info.modification_number, 1u);
  EXPECT_EQ(info.version, 3);
  DbHandle handle = 0;
  ASSERT_EQ(store.SyncOpenDB("letter.rtf", 0, handle, kOpenRead), kSyncOk);
  std::uint8_t buffer[16] = {};
  RecordDescriptor record{.handle = handle,
                          .record_id = 0,
                          .index = 1,
                          .attributes = 0,
                          .category = 0,
                          .size = 0,
                          .buffer_size = 3,
                          .data = buffer};
  ASSERT_EQ(store.SyncReadRecordByIndex(record), kSyncOk);
  EXPECT_EQ(record.size, 6u);  // the whole size, though only 3 bytes fit
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "sec");
  EXPECT_EQ(record.category, 15);
  EXPECT_EQ(record.record_id, 2u);
  record.index = 2;
  EXPECT_NE(store.SyncReadRecordByIndex(record), kSyncOk);
  EXPECT_EQ(store.SyncOpenDB("absent", 0, handle, kOpenRead), kSyncErrNotFound);
  fs::remove_all(root);
}

}  // namespace
}  // namespace vellora
