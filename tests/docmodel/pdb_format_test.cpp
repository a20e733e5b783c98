// The PDB format as bytes: exact layout, round trips, hostile files and
// the format's limits.
#include "docmodel/pdb_format.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/pdb_samples.h"

namespace vellora {
namespace {

using ::vellora::testing::BytesEqual;
using ::vellora::testing::hex_bytes;

using ::vellora::testing::bytes_of;
using ::vellora::testing::sample_database;

void put_be32_at(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

TEST(PdbFormat, SerializesTheStandardLayoutByteForByte) {
  PdbDatabase db;
  db.header = PdbHeader{.name = "ab",
                        .attributes = 0x0008,
                        .version = 1,
                        .created = 0x01020304,
                        .modified = 0x05060708,
                        .backed_up = 0,
                        .modification_number = 9,
                        .type = make_four_cc("DATA"),
                        .creator = make_four_cc("test"),
                        .unique_id_seed = 0x20};
  const std::vector<std::uint8_t> data = {0xAA, 0xBB};
  ASSERT_TRUE(db.append_record({.data = data, .attributes = 0x40, .category = 3, .unique_id = 0x010203}));
  const auto want = hex_bytes(
      "61 62 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // name, zero-padded to 32 bytes
      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
      "00 08 00 01 01 02 03 04 05 06 07 08 00 00 00 00 00 00 00 09"  // attributes .. modification
      "00 00 00 00 00 00 00 00 44 41 54 41 74 65 73 74"              // app, sort, type, creator
      "00 00 00 20 00 00 00 00 00 01"                                // seed, next list, count
      "00 00 00 58 43 01 02 03"                                      // record 0 entry
      "00 00 AA BB");
  EXPECT_TRUE(BytesEqual(serialize_pdb(db), want));
}

TEST(PdbFormat, RoundTripKeepsEveryField) {
  PdbDatabase db = sample_database();
  db.app_info = bytes_of("APP");
  db.sort_info = bytes_of("SORTED");
  PdbDatabase back;
  ASSERT_TRUE(parse_pdb(serialize_pdb(db), back));
  EXPECT_EQ(back, db);
  EXPECT_EQ(back.record(2).unique_id, 0xFFFFFFu);
  EXPECT_EQ(back.record(2).attributes, 0xF0);
  EXPECT_EQ(back.record(2).category, 15);
  EXPECT_TRUE(back.record(1).data.empty());

  PdbDatabase empty;
  empty.header.name = "x";
  ASSERT_TRUE(parse_pdb(serialize_pdb(empty), back));
  EXPECT_EQ(back, empty);
}

TEST(PdbFormat, InfoBlocksEndTheRecordBeforeThemAndMissingPadIsTolerated) {
  PdbDatabase db;
  db.header.name = "blocks";
  const auto abc = bytes_of("abc");
  const auto de = bytes_of("de");
  ASSERT_TRUE(db.append_record({.data = abc, .attributes = 0, .category = 0, .unique_id = 1}));
  ASSERT_TRUE(db.append_record({.data = de, .attributes = 0, .category = 0, .unique_id = 2}));
  auto bytes = serialize_pdb(db);  // records at 96 and 99
  // An app-info block between the records: record 0 must stop where it starts.
  bytes.insert(bytes.begin() + 99, {'Z', 'Z'});
  put_be32_at(bytes, 52, 99);
  put_be32_at(bytes, 78 + 8, 101);
  PdbDatabase back;
  ASSERT_TRUE(parse_pdb(bytes, back)) << parse_pdb(bytes, back).reason;
  EXPECT_EQ(std::string(back.record(0).data.begin(), back.record(0).data.end()), "abc");
  EXPECT_EQ(std::string(back.record(1).data.begin(), back.record(1).data.end()), "de");
  EXPECT_EQ(back.app_info, bytes_of("ZZ"));

  // No pad bytes: the first record starts right after the record list.
  bytes = serialize_pdb(db);
  bytes.erase(bytes.begin() + 94, bytes.begin() + 96);
  put_be32_at(bytes, 78, 94);
  put_be32_at(bytes, 86, 97);
  ASSERT_TRUE(parse_pdb(bytes, back));
  EXPECT_EQ(back.record(1).data.size(), 2u);
}

struct HostileCase {
  const char* what;
  std::function<void(std::vector<std::uint8_t>&)> damage;
  PdbStatus status;
  std::size_t offset;
  const char* reason;
};

// sample_database() serializes to 114 bytes: record list ends at 102, pad,
// records at 104 (4 bytes), 108 (empty) and 108 (6 bytes).
TEST(PdbFormat, HostileFilesGiveStatusOffsetAndReason) {
  const HostileCase cases[] = {
      {"short header", [](auto& b) { b.resize(40); }, PdbStatus::truncated, 40, "header is 40 bytes, needs 78"},
      {"count too big", [](auto& b) { b[76] = b[77] = 0xFF; }, PdbStatus::truncated, 76,
       "record list of 65535 entries needs 524358 bytes, file has 114"},
      {"offset past end", [](auto& b) { put_be32_at(b, 94, 9000); }, PdbStatus::bad_offset, 94,
       "record 2 offset 9000 beyond end of file (114 bytes)"},
      {"offset in header", [](auto& b) { put_be32_at(b, 78, 10); }, PdbStatus::bad_offset, 78,
       "record 0 offset 10 inside the header or record list (ends at 102)"},
      {"decreasing", [](auto& b) { put_be32_at(b, 94, 105); }, PdbStatus::offsets_decrease, 94,
       "record offsets decrease at record 2"},
      {"unterminated name", [](auto& b) { std::fill(b.begin(), b.begin() + 32, 'x'); }, PdbStatus::bad_name, 0,
       "name field has no terminating zero"},
      {"empty name", [](auto& b) { b[0] = 0; }, PdbStatus::bad_name, 0, "name is empty"},
      {"resource", [](auto& b) { b[33] |= 1; }, PdbStatus::resource_database, 32,
       "is a resource database, not a record database"},
      {"app-info past end", [](auto& b) { put_be32_at(b, 52, 500); }, PdbStatus::bad_offset, 52,
       "app-info offset 500 beyond end of file (114 bytes)"},
      {"sort-info in list", [](auto& b) { put_be32_at(b, 56, 90); }, PdbStatus::bad_offset, 56,
       "sort-info offset 90 inside the header or record list (ends at 102)"},
      {"record over 64 KB", [](auto& b) { b.resize(b.size() + 70000); }, PdbStatus::record_too_large, 108,
       "record 2 is 70006 bytes, more than 65535"},
  };
  for (const auto& c : cases) {
    auto bytes = serialize_pdb(sample_database());
    c.damage(bytes);
    PdbDatabase db;
    const auto result = parse_pdb(bytes, db);
    EXPECT_EQ(result.status, c.status) << c.what;
    EXPECT_EQ(result.offset, c.offset) << c.what;
    EXPECT_EQ(result.reason, c.reason) << c.what;
    PdbHeader header;
    std::uint16_t count = 0;
    EXPECT_EQ(parse_pdb_header(bytes, bytes.size(), header, count).status, c.status) << c.what;
  }
}

// Every truncation and many single-byte corruptions: no crash (the sanitizer
// build checks bounds), header-only and full parses agree, and whatever
// parses survives a round trip.
TEST(PdbFormat, DamagedFilesNeverCrashAndValidOnesRoundTrip) {
  auto db = sample_database();
  db.app_info = bytes_of("ap");
  const auto good = serialize_pdb(db);
  std::vector<std::vector<std::uint8_t>> inputs;
  for (std::size_t n = 0; n < good.size(); ++n) inputs.emplace_back(good.begin(), good.begin() + n);
  for (std::size_t at = 0; at < good.size(); ++at)
    for (const std::uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
      inputs.push_back(good);
      inputs.back()[at] = value;
    }
  for (const auto& input : inputs) {
    PdbDatabase parsed;
    const bool is_valid = static_cast<bool>(parse_pdb(input, parsed));
    PdbHeader header;
    std::uint16_t count = 0;
    ASSERT_EQ(static_cast<bool>(parse_pdb_header(input, input.size(), header, count)), is_valid);
    if (!is_valid) continue;
    PdbDatabase again;
    ASSERT_TRUE(parse_pdb(serialize_pdb(parsed), again));
    ASSERT_EQ(again, parsed);
  }
}

TEST(PdbFormat, RecordLimits) {
  PdbDatabase db;
  const std::vector<std::uint8_t> biggest(kPdbMaxRecordBytes, 1);
  const std::vector<std::uint8_t> too_big(kPdbMaxRecordBytes + 1, 1);
  EXPECT_TRUE(db.append_record({.data = biggest, .attributes = 0, .category = 0, .unique_id = 1}));
  EXPECT_FALSE(db.append_record({.data = too_big, .attributes = 0, .category = 0, .unique_id = 2}));
  for (std::size_t i = db.record_count(); i < kPdbMaxRecords; ++i)
    ASSERT_TRUE(db.append_record({.data = {}, .attributes = 0, .category = 0, .unique_id = 3}));
  EXPECT_FALSE(db.append_record({.data = {}, .attributes = 0, .category = 0, .unique_id = 4}));
  EXPECT_EQ(db.record_count(), kPdbMaxRecords);
  // A record appended from the database's own buffer is copied first.
  PdbDatabase own;
  const auto text = bytes_of("self");
  ASSERT_TRUE(own.append_record({.data = text, .attributes = 0, .category = 0, .unique_id = 1}));
  ASSERT_TRUE(own.append_record(own.record(0)));
  EXPECT_EQ(std::string(own.record(1).data.begin(), own.record(1).data.end()), "self");
}

// A resource database is no record database, but its header still reads:
// a handheld lists such databases by name.
TEST(PdbFormat, HeaderOfAResourceDatabaseDecodesAlone) {
  auto bytes = serialize_pdb(sample_database());
  bytes[33] |= kPdbAttrResource;
  PdbDatabase db;
  EXPECT_EQ(parse_pdb(bytes, db).status, PdbStatus::resource_database);
  PdbHeader header;
  std::uint16_t count = 0;
  ASSERT_TRUE(decode_pdb_header(bytes, header, count));
  EXPECT_EQ(header.name, "sample");
  EXPECT_EQ(header.attributes, 0x0009);
  EXPECT_EQ(header.creator, make_four_cc("test"));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(decode_pdb_header(std::span(bytes).first(77), header, count).status, PdbStatus::truncated);
  EXPECT_EQ(database_file_name(".a/b%c\\d\x7f"), "%2Ea%2Fb%25c%5Cd%7F.pdb");
}

TEST(PdbFormat, ConvertsBetweenUnixAndHandheldTime) {
  EXPECT_EQ(pdb_time_from_unix(0), 2082844800u);
  EXPECT_EQ(unix_time_from_pdb(0), -2082844800);
  EXPECT_EQ(unix_time_from_pdb(pdb_time_from_unix(1700000000)), 1700000000);
  EXPECT_EQ(pdb_time_from_unix(-3000000000LL), 0u);
  EXPECT_EQ(pdb_time_from_unix(5000000000LL), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace vellora
