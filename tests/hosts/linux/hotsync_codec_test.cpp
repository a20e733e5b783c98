// The HotSync wire codecs against bytes recorded from handhelds: NetSync
// frames in any pieces, with tickles, a headerless first message and
// lengths no handheld sends; DLP requests as handhelds read them and
// responses read only within their bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hosts/linux/hotsync/dlp_codec.h"
#include "hosts/linux/hotsync/netsync_frames.h"
#include "tests/support/bytes.h"

namespace vellora::linux_host {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const std::string& text) { return testing::hex_bytes(text); }

const Bytes kFirstPayload = hex("90 01 00 00 00 00 00 00 00 20 00 00 00 08 01 00 00 00 00 00 00 00");

TEST(NetSyncReader, MessagesArriveWholeWhateverThePieces) {
  Bytes stream = hex("01 ff 00 00 00 16");
  stream.insert(stream.end(), kFirstPayload.begin(), kFirstPayload.end());
  const Bytes tickle = hex("02 ff 00 00 00 00");
  stream.insert(stream.end(), tickle.begin(), tickle.end());
  const Bytes second = hex("01 02 00 00 00 04 af 00 00 00");
  stream.insert(stream.end(), second.begin(), second.end());
  for (std::size_t piece : {std::size_t{1}, std::size_t{5}, stream.size()}) {
    SCOPED_TRACE(piece);
    NetSyncReader reader;
    std::vector<NetSyncMessage> got;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      reader.feed(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
      while (auto message = reader.next()) got.push_back(*message);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].xid, 0xFF);
    EXPECT_EQ(got[0].payload, kFirstPayload);
    EXPECT_EQ(got[1].xid, 2);
    EXPECT_EQ(got[1].payload, hex("af 00 00 00"));
    EXPECT_EQ(reader.pending_bytes(), 0u);
  }
}

TEST(NetSyncReader, AFirstMessageWithoutItsHeaderIsRead) {
  NetSyncReader reader;
  reader.feed(std::span(kFirstPayload).first(10));
  EXPECT_FALSE(reader.next());
  reader.feed(std::span(kFirstPayload).subspan(10));
  const auto message = reader.next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->payload, kFirstPayload);
  // Only the stream's start may lack a header: later, 0x90 is no type.
  reader.feed(kFirstPayload);
  EXPECT_FALSE(reader.next());
  EXPECT_EQ(reader.error(), NetSyncError::bad_type);
}

TEST(NetSyncReader, AStreamNoHandheldSendsStopsTheReader) {
  const std::pair<std::string, NetSyncError> cases[] = {
      {"01 01 ff ff ff ff", NetSyncError::too_long},
      {"01 01 00 10 00 01", NetSyncError::too_long},
      {"02 ff 00 00 00 01 00", NetSyncError::tickle_with_payload},
      {"07 01 00 00 00 00", NetSyncError::bad_type},
  };
  for (const auto& [bytes, error] : cases) {
    NetSyncReader reader;
    reader.feed(hex(bytes));
    EXPECT_FALSE(reader.next()) << bytes;
    EXPECT_EQ(reader.error(), error) << bytes;
    EXPECT_FALSE(reader.error_text().empty());
    reader.feed(hex("01 01 00 00 00 00"));  // nothing more is read
    EXPECT_FALSE(reader.next());
  }
}

TEST(NetSyncFrames, FramesAndTransactionIds) {
  EXPECT_EQ(netsync_frame(1, hex("2e 00")), hex("01 01 00 00 00 02 2e 00"));
  EXPECT_EQ(next_netsync_xid(1), 2);
  EXPECT_EQ(next_netsync_xid(0xFE), 1);
  EXPECT_EQ(next_netsync_xid(0xFF), 1);
}

TEST(Dlp, RequestsAreWrittenAsHandheldsReadThem) {
  const Bytes open = hex("00 80 4d 65 6d 6f 44 42 00");  // card 0, read, "MemoDB"
  EXPECT_EQ(dlp_request(DlpFunction::open_db, std::vector<DlpArgument>{{0x20, open}}),
            hex("17 01 20 09 00 80 4d 65 6d 6f 44 42 00"));
  EXPECT_EQ(dlp_request(DlpFunction::open_conduit, {}), hex("2e 00"));
  const Bytes record(300, 0xAB);
  const Bytes written = dlp_request(DlpFunction::write_record, std::vector<DlpArgument>{{0x20, record}});
  ASSERT_EQ(written.size(), 2u + 4u + 300u);
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 6), hex("21 01 a0 00 01 2c"));
  const Bytes too_long(0x10000, 0);
  EXPECT_TRUE(dlp_request(DlpFunction::write_record, std::vector<DlpArgument>{{0x20, too_long}}).empty());
}

TEST(Dlp, ResponsesAreReadWithinTheirBytes) {
  DlpResponse response;
  const Bytes opened = hex("97 01 00 00 20 01 01");
  ASSERT_EQ(decode_dlp_response(opened, DlpFunction::open_db, response), DlpDecodeStatus::ok);
  EXPECT_EQ(response.error, kDlpErrNone);
  EXPECT_EQ(Bytes(response.argument(0x20).begin(), response.argument(0x20).end()), hex("01"));
  EXPECT_TRUE(response.argument(0x21).empty());

  const Bytes not_found = hex("9a 00 00 05");
  ASSERT_EQ(decode_dlp_response(not_found, DlpFunction::delete_db, response), DlpDecodeStatus::ok);
  EXPECT_EQ(response.error, kDlpErrNotFound);
  EXPECT_EQ(dlp_error_text(response.error), "not found");
  EXPECT_EQ(dlp_error_text(0x70), "handheld error 112");

  Bytes read = hex("a0 01 00 00 a0 00 01 00");
  read.resize(read.size() + 256, 0x41);
  ASSERT_EQ(decode_dlp_response(read, DlpFunction::read_record, response), DlpDecodeStatus::ok);
  EXPECT_EQ(response.argument(0x20).size(), 256u);
  const Bytes long_form = hex("a0 01 00 00 60 00 00 00 00 02 41 42");
  ASSERT_EQ(decode_dlp_response(long_form, DlpFunction::read_record, response), DlpDecodeStatus::ok);
  EXPECT_EQ(response.argument(0x20).size(), 2u);

  const std::pair<std::string, DlpDecodeStatus> bad[] = {
      {"97 01 00", DlpDecodeStatus::too_short},
      {"98 01 00 00 20 01 01", DlpDecodeStatus::wrong_function},
      {"97 01 00 00 20 05 01", DlpDecodeStatus::past_the_end},
      {"97 02 00 00 20 01 01", DlpDecodeStatus::past_the_end},
      {"97 01 00 00 a0 00 ff", DlpDecodeStatus::past_the_end},
      {"97 01 00 00 60 00 ff ff ff ff 00", DlpDecodeStatus::past_the_end},
      {"97 01 00 00 e0 01 01", DlpDecodeStatus::bad_wrapper},
      {"97 01 00 05 20 01 01", DlpDecodeStatus::arguments_on_error},
  };
  for (const auto& [bytes, status] : bad) {
    EXPECT_EQ(decode_dlp_response(hex(bytes), DlpFunction::open_db, response), status) << bytes;
    EXPECT_FALSE(dlp_decode_text(status).empty());
  }
}

}  // namespace
}  // namespace vellora::linux_host
