// The DLP commands of a sync session: requests byte for byte as recorded
// from handhelds, and answers decoded into named values, refused whole
// when a length or offset points outside what the handheld sent.
#include "hosts/linux/hotsync/dlp_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace vellora::linux_host {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const std::string& text) { return testing::hex_bytes(text); }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A DBInfo entry of `size` bytes for `name`.
Bytes db_info(const std::string& name, std::size_t size, const std::string& type = "VLTx") {
  Bytes entry(size, 0);
  entry[0] = static_cast<std::uint8_t>(size);
  std::copy(type.begin(), type.end(), entry.begin() + 4);
  const std::string creator = "bhV1";
  std::copy(creator.begin(), creator.end(), entry.begin() + 8);
  entry[13] = 2;  // version
  std::copy(name.begin(), name.end(), entry.begin() + 44);
  return entry;
}

// Decodes `bytes` as the answer to `function`, or fails the test.
DlpResponse answer(const Bytes& bytes, DlpFunction function) {
  DlpResponse response;
  EXPECT_EQ(decode_dlp_response(bytes, function, response), DlpDecodeStatus::ok);
  return response;
}

TEST(DlpCommands, RequestsAreTheRecordedBytes) {
  EXPECT_EQ(read_sys_info_request(), hex("12 01 20 04 00 01 00 04"));
  EXPECT_EQ(open_conduit_request(), hex("2e 00"));
  EXPECT_EQ(end_of_sync_request(0), hex("2f 01 20 02 00 00"));
  EXPECT_EQ(open_db_request(0, 0x80, "MemoDB"), hex("17 01 20 09 00 80 4d 65 6d 6f 44 42 00"));
  EXPECT_EQ(create_db_request(0x41414141, 0x44415441, 0, 0x0008, 0, "foobar"),
            hex("18 01 20 15 41 41 41 41 44 41 54 41 00 00 00 08 00 00 66 6f 6f 62 61 72 00"));
  EXPECT_EQ(delete_db_request(0, "foobar"), hex("1a 01 20 09 00 00 66 6f 6f 62 61 72 00"));
  EXPECT_EQ(read_record_by_index_request(1, 0), hex("20 01 21 08 01 00 00 00 00 00 ff ff"));
  EXPECT_EQ(read_open_db_info_request(1), hex("2b 01 20 01 01"));
  EXPECT_EQ(close_db_request(3), hex("19 01 20 01 03"));
  EXPECT_EQ(find_db_by_handle_request(1), hex("39 01 21 02 80 01"));
  EXPECT_EQ(find_db_by_name_request(0, "a.txt"), hex("39 01 20 08 80 00 61 2e 74 78 74 00"));
  EXPECT_EQ(write_record_request(0x1a, 0x40, 3, hex("41 42")), hex("21 01 20 0a 1a 80 00 00 00 00 40 03 41 42"));
  EXPECT_EQ(add_sync_log_entry_request("Hi"), hex("2a 01 20 03 48 69 00"));
  // A name no handheld holds is not sent at all.
  EXPECT_TRUE(open_db_request(0, 0x80, std::string(32, 'a')).empty());
  EXPECT_TRUE(delete_db_request(0, "").empty());
}

TEST(DlpCommands, SmallAnswersAreRead) {
  std::uint8_t handle = 0;
  EXPECT_TRUE(db_handle_result(answer(hex("97 01 00 00 20 01 01"), DlpFunction::open_db), handle));
  EXPECT_EQ(handle, 1);
  std::uint32_t id = 0;
  EXPECT_TRUE(record_id_result(answer(hex("a1 01 00 00 20 04 00 4a 70 02"), DlpFunction::write_record), id));
  EXPECT_EQ(id, 0x004a7002u);
  std::uint16_t count = 0;
  EXPECT_TRUE(record_count_result(answer(hex("ab 01 00 00 20 02 00 01"), DlpFunction::read_open_db_info), count));
  EXPECT_EQ(count, 1);
  // An answer without its argument gives nothing.
  EXPECT_FALSE(db_handle_result(answer(hex("97 00 00 00"), DlpFunction::open_db), handle));
  EXPECT_FALSE(record_id_result(answer(hex("a1 01 00 00 20 02 00 4a"), DlpFunction::write_record), id));
}

TEST(DlpCommands, SessionAnswersAreRead) {
  DlpSysInfo sys;
  ASSERT_TRUE(read_sys_info_result(
      answer(hex("92 02 00 00 20 0c 05 40 00 00 00 00 00 00 00 02 41 42 21 0c 00 01 00 02 00 01 00 00 00 00 ff ff"),
             DlpFunction::read_sys_info),
      sys));
  EXPECT_EQ(sys.rom_version, 0x05400000u);
  EXPECT_TRUE(sys.is_at_least(1, 2));
  EXPECT_FALSE(sys.is_at_least(1, 3));
  EXPECT_EQ(sys.max_record_bytes, 0xFFFFu);
  ASSERT_TRUE(read_sys_info_result(answer(hex("92 01 00 00 20 04 03 00 00 00"), DlpFunction::read_sys_info), sys));
  EXPECT_FALSE(sys.is_at_least(1, 2));  // no DLP version: before 1.2

  DlpUserInfo user;
  const Bytes user_info = hex("90 01 00 00 20 22 00 00 00 07") + Bytes(24, 0) + hex("04 00 41 6e 6e 00");
  ASSERT_TRUE(read_user_info_result(answer(user_info, DlpFunction::read_user_info), user));
  EXPECT_EQ(user.user_id, 7u);
  EXPECT_EQ(user.user_name, "Ann");
  Bytes cut = user_info;
  cut.pop_back();
  cut[5] = static_cast<std::uint8_t>(cut[5] - 1);
  EXPECT_FALSE(read_user_info_result(answer(cut, DlpFunction::read_user_info), user));

  CardInfo card;
  Bytes card_info = hex("1e 00 00 00") + Bytes(8, 0) + hex("00 10 00 00 00 80 00 00 00 40 00 00 02 02 43 30 50 4d");
  const Bytes storage = hex("95 01 00 00 20 22 00 00 00 01") + card_info;
  ASSERT_TRUE(read_storage_info_result(answer(storage, DlpFunction::read_storage_info), card));
  EXPECT_EQ(card.ram_bytes, 0x800000u);
  EXPECT_EQ(card.free_bytes, 0x400000u);
  EXPECT_EQ(card.card_name, "C0");
  EXPECT_EQ(card.manufacturer, "PM");
  Bytes lying = storage;
  lying[10 + 24] = 9;  // a card name longer than the entry
  EXPECT_FALSE(read_storage_info_result(answer(lying, DlpFunction::read_storage_info), card));
}

TEST(DlpCommands, DatabasesAndRecordsAreRead) {
  DbInfo info;
  const Bytes entry = db_info("a.txt", 50);
  const Bytes found =
      hex("b9 01 00 00 20") + Bytes{static_cast<std::uint8_t>(10 + entry.size())} + Bytes(10, 0) + entry;
  ASSERT_TRUE(find_db_result(answer(found, DlpFunction::find_db), info));
  EXPECT_EQ(info.name, "a.txt");
  EXPECT_EQ(info.type, 0x564C5478u);
  EXPECT_EQ(info.creator, 0x62685631u);
  EXPECT_EQ(info.version, 2);
  Bytes unterminated = found;
  std::fill(unterminated.end() - 6, unterminated.end(), 'x');
  EXPECT_FALSE(find_db_result(answer(unterminated, DlpFunction::find_db), info));

  std::vector<DbInfo> list;
  std::uint16_t next = 0;
  bool more = false;
  const Bytes two = db_info("first", 50) + db_info("second.htm", 55);
  const Bytes listed =
      hex("96 01 00 00 20") + Bytes{static_cast<std::uint8_t>(4 + two.size())} + hex("00 09 80 02") + two;
  ASSERT_TRUE(read_db_list_result(answer(listed, DlpFunction::read_db_list), list, next, more));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].name, "second.htm");
  EXPECT_EQ(next, 10);
  EXPECT_TRUE(more);
  Bytes zero_size = listed;
  zero_size[10] = 0;  // an entry of no size would never advance
  EXPECT_FALSE(read_db_list_result(answer(zero_size, DlpFunction::read_db_list), list, next, more));

  DlpRecord record;
  const Bytes read = hex("a0 01 00 00 20 0e 00 da 90 01 00 00 00 04 40 03 41 42 43 44");
  ASSERT_TRUE(read_record_result(answer(read, DlpFunction::read_record), record));
  EXPECT_EQ(record.id, 0x00da9001u);
  EXPECT_EQ(record.attributes, 0x40);
  EXPECT_EQ(record.category, 3);
  EXPECT_EQ(Bytes(record.data.begin(), record.data.end()), hex("41 42 43 44"));
  Bytes longer = read;
  longer[13] = 2;  // more data than the record's own size
  EXPECT_FALSE(read_record_result(answer(longer, DlpFunction::read_record), record));
}

}  // namespace
}  // namespace vellora::linux_host
