// The packed parameter records of the handheld library, compared byte for
// byte with their layouts: each field holds a value whose bytes all differ,
// so a field at a wrong offset, of a wrong width or in the wrong byte order
// shows as the first differing byte.
#include "hosts/windows/packed_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace vellora::win32 {
namespace {

using ::vellora::testing::BytesEqual;
using ::vellora::testing::hex_bytes;

struct Layout {
  const char* what;
  std::vector<std::uint8_t> got;
  std::string want;  // hex, one field per group
};

void expect_layouts(const std::vector<Layout>& layouts) {
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.what);
    EXPECT_TRUE(BytesEqual(layout.got, hex_bytes(layout.want)));
  }
}

template <std::size_t N>
std::vector<std::uint8_t> bytes_of(const std::array<std::uint8_t, N>& packed) {
  return {packed.begin(), packed.end()};
}

std::string zeros(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += "00 ";
  return text;
}

// "abc" -> "61 62 63 " padded with zero bytes to `width`.
std::string text_field(const std::string& text, std::size_t width) {
  std::string hex;
  char byte[4];
  for (unsigned char c : text) {
    std::snprintf(byte, sizeof byte, "%02X ", c);
    hex += byte;
  }
  return hex + zeros(width - text.size());
}

RecordDescriptor sample_descriptor() {
  RecordDescriptor record;
  record.handle = 0x07;
  record.record_id = 0x11223344;
  record.index = 0x5566;
  record.attributes = 0x40;
  record.category = 0x0A0B;
  record.size = 0x8899AABB;
  record.buffer_size = 0xCCDD;
  return record;
}

TEST(PackedRecords, RecordDescriptorLayout) {
  RecordDescriptor write;
  write.handle = 3;
  write.attributes = kRecordAttrDirty;
  write.category = 2;
  write.size = 4096;
  RecordDescriptor read;
  read.handle = 0xFE;
  read.index = 513;
  read.buffer_size = 0xFFFF;
  expect_layouts({
      {"every field", bytes_of(encode_record_descriptor(sample_descriptor(), 0xDEADBEEF)),
       "07 44332211 6655 40 0B0A 00000000 BBAA9988 DDCC EFBEADDE 00000000"},
      {"a write: handle, attributes 0x40, category, size, data", bytes_of(encode_record_descriptor(write, 0x00401000)),
       "03 00000000 0000 40 0200 00000000 00100000 0000 00104000 00000000"},
      {"a read: handle, index, buffer size, buffer", bytes_of(encode_record_descriptor(read, 0x12345678)),
       "FE 00000000 0102 00 0000 00000000 00000000 FFFF 78563412 00000000"},
  });
  EXPECT_EQ(kRecordDescriptorBytes, 28u);
}

TEST(PackedRecords, RecordDescriptorAnswerKeepsTheCallersBuffer) {
  auto bytes = hex_bytes("05 01020304 0900 C0 0300 AAAAAAAA 10270000 0010 EEEEEEEE BBBBBBBB");
  RecordDescriptorBytes packed{};
  std::copy(bytes.begin(), bytes.end(), packed.begin());
  std::uint8_t buffer[1];
  RecordDescriptor record;
  record.data = buffer;
  decode_record_descriptor(packed, record);
  EXPECT_EQ(record.handle, 5);
  EXPECT_EQ(record.record_id, 0x04030201u);
  EXPECT_EQ(record.index, 9);
  EXPECT_EQ(record.attributes, 0xC0);
  EXPECT_EQ(record.category, 3);
  EXPECT_EQ(record.size, 10000u);
  EXPECT_EQ(record.buffer_size, 0x1000);
  EXPECT_EQ(record.data, buffer);
}

TEST(PackedRecords, CreateDbRecordLayout) {
  CreateDbRecord record;
  record.handle = 0;
  record.creator = make_four_cc("REAd");
  record.flags = 0x01020304;
  record.card = 0;
  const std::string name = "report.htm";
  std::copy(name.begin(), name.end(), record.name.begin());
  record.type = make_four_cc("TEXt");
  record.version = 0x0102;

  CreateDbRecord full = record;
  full.name.fill('x');  // no terminator: the field still ends in zero
  expect_layouts({
      {"a new document database", bytes_of(encode_create_db_record(record)),
       "00 64414552 04030201 00 " + text_field(name, 32) + "74584554 0201 00000000"},
      {"a 32-character name is cut to 31 and terminated", bytes_of(encode_create_db_record(full)),
       "00 64414552 04030201 00 " + text_field(std::string(31, 'x'), 32) + "74584554 0201 00000000"},
  });
  EXPECT_EQ(kCreateDbRecordBytes, 52u);
}

TEST(PackedRecords, CreateDbRecordAnswerSetsTheHandle) {
  CreateDbRecord record;
  record.creator = make_four_cc("REAd");
  record.type = make_four_cc("TEXt");
  auto packed = encode_create_db_record(record);
  packed[0] = 0x2A;
  CreateDbRecord answer;
  decode_create_db_record(packed, answer);
  EXPECT_EQ(answer.handle, 0x2A);
  EXPECT_EQ(answer.creator, record.creator);
  EXPECT_EQ(answer.type, record.type);
}

TEST(PackedRecords, CardInfoLayout) {
  CardInfo info;
  info.card = 1;
  info.rom_bytes = 0x00200000;
  info.ram_bytes = 0x00800000;
  info.free_bytes = 0xFEDCBA98;
  info.card_name = "PalmCard";
  info.manufacturer = "Maker";
  expect_layouts({
      {"the request: card 0, all else zero", bytes_of(encode_card_info_request(0)), zeros(93)},
      {"an answer", bytes_of(encode_card_info(info)),
       "01 0000 00000000 00002000 00008000 98BADCFE 08 05 " + text_field("PalmCard", 32) + text_field("Maker", 32) +
           "0000 0000 00000000"},
  });
  EXPECT_EQ(kCardInfoBytes, 93u);
}

TEST(PackedRecords, CardInfoFreeMemoryIsUnsignedAtBytes15To18) {
  auto packed = encode_card_info_request(0);
  packed[15] = 0x00;
  packed[16] = 0x00;
  packed[17] = 0x00;
  packed[18] = 0x80;
  EXPECT_EQ(decode_card_info(packed).free_bytes, 0x80000000u);
}

TEST(PackedRecords, CardInfoNameLengthsNeverReachPastTheirFields) {
  auto packed = encode_card_info_request(0);
  packed[19] = 0xFF;
  packed[20] = 0xFF;
  packed[21] = 'A';
  packed[53] = 'B';
  const CardInfo info = decode_card_info(packed);
  EXPECT_EQ(info.card_name.size(), 32u);
  EXPECT_EQ(info.card_name[0], 'A');
  EXPECT_EQ(info.manufacturer.size(), 32u);
  EXPECT_EQ(info.manufacturer[0], 'B');
}

TEST(PackedRecords, DbInfoLayout) {
  DbInfo info;
  info.card = 0;
  info.flags = 0x0008;
  info.type = make_four_cc("TEXt");
  info.name = "Vellora file DB";
  info.creator = make_four_cc("REAd");
  info.version = 0x0304;
  info.modification_number = 0x0A0B0C0D;
  info.created = 0x11111111;
  info.modified = 0x22222222;
  info.backed_up = 0x33333333;
  info.record_count = 0x0102;
  expect_layouts({
      {"type 6-9, name, creator 42-45, version 46-47, the rest this host's", bytes_of(encode_db_info(info)),
       "0000 0800 0000 74584554 " + text_field("Vellora file DB", 32) +
           "64414552 0403 0D0C0B0A 0000 11111111 22222222 33333333 00000000 0201 " + zeros(42)},
  });
  EXPECT_EQ(kDbInfoBytes, 114u);
}

TEST(PackedRecords, DbInfoReadsTheLibrarysFixedPlaces) {
  DbInfoBytes packed{};
  packed[6] = 't';  // type, little-endian: "TEXt" is 0x54455874
  packed[7] = 'X';
  packed[8] = 'E';
  packed[9] = 'T';
  packed[42] = 'd';
  packed[43] = 'A';
  packed[44] = 'E';
  packed[45] = 'R';
  packed[46] = 0x05;
  packed[47] = 0x01;
  std::fill(packed.begin() + 10, packed.begin() + 42, std::uint8_t{'n'});  // no terminator
  const DbInfo info = decode_db_info(packed);
  EXPECT_EQ(four_cc_text(info.type), "TEXt");
  EXPECT_EQ(four_cc_text(info.creator), "REAd");
  EXPECT_EQ(info.version, 0x0105);
  EXPECT_EQ(info.name, std::string(32, 'n'));
}

TEST(PackedRecords, DbInfoRoundTrip) {
  DbInfo info;
  info.card = 1;
  info.flags = 0x8001;
  info.type = 0x01020304;
  info.creator = 0x05060708;
  info.version = 9;
  info.modification_number = 10;
  info.created = 11;
  info.modified = 12;
  info.backed_up = 13;
  info.record_count = 14;
  info.name = "name";
  const DbInfo back = decode_db_info(encode_db_info(info));
  EXPECT_EQ(back.card, info.card);
  EXPECT_EQ(back.flags, info.flags);
  EXPECT_EQ(back.type, info.type);
  EXPECT_EQ(back.creator, info.creator);
  EXPECT_EQ(back.version, info.version);
  EXPECT_EQ(back.modification_number, info.modification_number);
  EXPECT_EQ(back.created, info.created);
  EXPECT_EQ(back.modified, info.modified);
  EXPECT_EQ(back.backed_up, info.backed_up);
  EXPECT_EQ(back.record_count, info.record_count);
  EXPECT_EQ(back.name, info.name);
}

TEST(PackedRecords, RequestLayouts) {
  FindDbRequest find;
  find.name = "report.htm";
  expect_layouts({
      {"find by name: option 0x80, 32-bit 0, name address", bytes_of(encode_find_db_request(find, 0x0012FF40)),
       "80 00000000 40FF1200"},
      {"open-database info: option 0x80, handle", bytes_of(encode_open_db_info_request(0x11)), "80 11"},
  });
  EXPECT_EQ(kFindDbRequestBytes, 9u);
  EXPECT_EQ(kOpenDbInfoRequestBytes, 2u);
}

}  // namespace
}  // namespace vellora::win32
