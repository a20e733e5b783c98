// Reads a file written by the folder handheld with an independent PDB reader
// (pdb_dump.pl, using the generic Palm::PDB module) and compares what it
// sees with what was written.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

std::string run_and_capture(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  ::pclose(pipe);
  return output;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char cell[3];
  for (const char c : bytes) {
    std::snprintf(cell, sizeof cell, "%02x", static_cast<unsigned char>(c));
    out += cell;
  }
  return out;
}

TEST(PdbCrossCheck, IndependentReaderSeesWhatWasWritten) {
  if (std::system("perl -MPalm::PDB -MPalm::Raw -e1 >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Palm::PDB perl module not installed (Debian package libpalm-pdb-perl)";
  ::vellora::testing::TempDir folder;
  PdbFolderHandheld handheld(folder.path());
  CreateDbRecord create{.handle = 0,
                        .creator = make_four_cc("VLRA"),
                        .flags = 0x0008,
                        .card = 0,
                        .name = {},
                        .type = make_four_cc("VLTx"),
                        .version = 3};
  const std::string name = "Cross check";
  std::copy(name.begin(), name.end(), create.name.begin());
  ASSERT_EQ(handheld.SyncCreateDB(create), kSyncOk);

  struct Written {
    std::string data;
    std::uint16_t category;
    std::uint32_t id;
  };
  const std::vector<Written> records = {{"\x01\x02\x03", 0, 0},
                                        {"", 7, 0},
                                        {std::string(300, '\xA5'), 15, 0xABCDEF},
                                        {std::string("tail\n\0end", 9), 2, 0}};
  std::string want = "name=Cross check\ntype=VLTx\ncreator=VLRA\nversion=3\nmodnum=0\n";
  std::vector<std::string> record_lines;
  for (const auto& r : records) {
    std::vector<std::uint8_t> bytes(r.data.begin(), r.data.end());
    RecordDescriptor d{.handle = create.handle,
                       .record_id = r.id,
                       .index = 0,
                       .attributes = kRecordAttrDirty,
                       .category = r.category,
                       .size = static_cast<std::uint32_t>(bytes.size()),
                       .buffer_size = 0,
                       .data = bytes.data()};
    ASSERT_EQ(handheld.SyncWriteRec(d), kSyncOk);
    record_lines.push_back("record id=" + std::to_string(d.record_id) + " category=" + std::to_string(r.category) +
                           " attributes=Dirty,dirty data=" + hex(r.data) + "\n");
  }
  DbInfo info;
  ASSERT_EQ(handheld.SyncReadOpenDbInfo(create.handle, info), kSyncOk);
  ASSERT_EQ(handheld.SyncCloseDB(create.handle), kSyncOk);
  PdbHeader header;
  std::uint16_t count = 0;
  ASSERT_TRUE(read_pdb_header_file(folder / "Cross check.pdb", header, count));

  want += "times=" + std::to_string(unix_time_from_pdb(header.created)) + " " +
          std::to_string(unix_time_from_pdb(header.modified)) + " " + std::to_string(unix_time_from_pdb(0)) + "\n";
  want += "seed=" + std::to_string(0xABCDEF + 2) + "\n";  // after the ID given to the last record
  want += "attributes=Backup,backup\nrecords=4\n";
  for (const auto& line : record_lines) want += line;

  const std::string command = "perl '" VELLORA_SOURCE_DIR "/tests/hosts/linux/pdb_dump.pl' '" +
                              (folder / "Cross check.pdb").string() + "' 2>/dev/null";
  EXPECT_EQ(run_and_capture(command), want);
}

}  // namespace
}  // namespace vellora::linux_host
