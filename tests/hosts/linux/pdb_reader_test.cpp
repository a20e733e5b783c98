// Reading a PDB file record by record: the reader accepts and rejects
// exactly the files the whole-file read does, returns the same records,
// and never reads past a record, even when the file shrinks under it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <span>
#include <string>
#include <vector>

#include "hosts/linux/pdb_file.h"
#include "tests/support/pdb_samples.h"
#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::TempDir;

using ::vellora::testing::bytes_of;

// 127 bytes: record list ends at 110, pad, app-info "ap" at 112, records
// at 114 ("abcd"), 118 (empty), 118 ("012345") and 124 ("xyz").
PdbDatabase sample_database() {
  PdbDatabase db;
  db.header = PdbHeader{.name = "reader",
                        .attributes = 0x0008,
                        .version = 2,
                        .created = 100,
                        .modified = 200,
                        .backed_up = 0,
                        .modification_number = 3,
                        .type = make_four_cc("DATA"),
                        .creator = make_four_cc("test"),
                        .unique_id_seed = 0x40};
  db.app_info = bytes_of("ap");
  std::uint32_t id = 0x10;
  for (const auto* text : {"abcd", "", "012345", "xyz"}) {
    const auto data = bytes_of(text);
    EXPECT_TRUE(db.append_record({.data = data, .attributes = 0xC0, .category = 5, .unique_id = id++}));
  }
  return db;
}

TEST(PdbReader, AcceptsRejectsAndReadsExactlyAsTheWholeFileRead) {
  TempDir folder;
  const auto path = folder / "db.pdb";
  const auto good = serialize_pdb(sample_database());
  ASSERT_EQ(good.size(), 127u);
  std::vector<std::vector<std::uint8_t>> inputs;
  for (std::size_t n = 0; n <= good.size(); ++n) inputs.emplace_back(good.begin(), good.begin() + n);
  for (std::size_t at = 0; at < 110; ++at)  // every byte of the header and record list
    for (const std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      inputs.push_back(good);
      inputs.back()[at] = value;
    }
  inputs.push_back(good);
  inputs.back().resize(good.size() + 70000);  // the last record past 64 KB

  std::size_t valid = 0;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    ::vellora::testing::write_file(path, inputs[i]);
    PdbDatabase whole;
    const auto want = read_pdb_file(path, whole);
    PdbReader reader;
    const auto got = reader.open(path);
    ASSERT_EQ(got.status, want.status) << "input " << i;
    ASSERT_EQ(got.offset, want.offset) << "input " << i;
    ASSERT_EQ(got.reason, want.reason) << "input " << i;
    ASSERT_EQ(reader.is_open(), static_cast<bool>(want));
    if (!want) continue;
    ++valid;
    ASSERT_EQ(reader.header(), whole.header);
    ASSERT_EQ(reader.record_count(), whole.record_count());
    std::vector<std::uint8_t> bytes;
    for (std::size_t r = 0; r < reader.record_count(); ++r) {
      const auto record = whole.record(r);
      EXPECT_EQ(reader.entry(r).attributes, record.attributes);
      EXPECT_EQ(reader.entry(r).category, record.category);
      EXPECT_EQ(reader.entry(r).unique_id, record.unique_id);
      ASSERT_TRUE(reader.read_record(r, bytes));
      ASSERT_EQ(bytes, std::vector<std::uint8_t>(record.data.begin(), record.data.end()))
          << "input " << i << ", record " << r;
    }
  }
  // Both verdicts were reached many times, not just one of them.
  EXPECT_GT(valid, 100u);
  EXPECT_GT(inputs.size() - valid, 100u);
}

TEST(PdbReader, ReadsStayInsideTheRecordEvenWhenTheFileShrinks) {
  TempDir folder;
  const auto path = folder / "db.pdb";
  ASSERT_TRUE(write_pdb_file(path, sample_database()));
  PdbReader reader;
  ASSERT_TRUE(reader.open(path));
  std::vector<std::uint8_t> buffer(5, '.');
  // Record 0 holds 4 bytes; a fifth would be the start of record 2.
  const auto too_many = reader.read_record(0, std::span(buffer));
  EXPECT_EQ(too_many.status, PdbStatus::no_record);
  EXPECT_EQ(too_many.reason, path.string() + ": 5 bytes asked of record 0, which holds 4");
  EXPECT_EQ(buffer, bytes_of("....."));
  ASSERT_TRUE(reader.read_record(2, std::span(buffer).first(3)));
  EXPECT_EQ(buffer, bytes_of("012.."));
  EXPECT_EQ(reader.read_record(4, buffer).reason, path.string() + ": no record 4 (the database holds 4)");

  // Record 2 keeps 2 of its 6 bytes, record 3 is gone; the record list
  // read at opening stays as it was.
  ASSERT_EQ(::truncate(path.c_str(), 120), 0);
  ASSERT_TRUE(reader.read_record(0, buffer));
  EXPECT_EQ(buffer, bytes_of("abcd"));
  const auto cut = reader.read_record(2, buffer);
  EXPECT_EQ(cut.status, PdbStatus::cannot_read);
  EXPECT_EQ(cut.offset, 120u);
  EXPECT_EQ(cut.reason, path.string() + ": record 2 cut short at byte 120: the file shrank after it was opened");
  EXPECT_EQ(reader.read_record(3, buffer).status, PdbStatus::cannot_read);
  EXPECT_EQ(reader.entry(3).size_bytes, 3u);
}

}  // namespace
}  // namespace vellora::linux_host
