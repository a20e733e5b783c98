// The serial HotSync stack against bytes recorded from handhelds and a
// handheld scripted on the other end of a socket pair: SLP packets found
// in noise and in any pieces, PADP fragments put together or refused, the
// CMP handshake with the speed switched only after the handheld's ack, and
// exchanges that survive lost acks, resent fragments and bad packets, with
// silence and hang-ups ending them in time.
#include "hosts/linux/hotsync/serial_link.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/byte_order.h"
#include "hosts/linux/hotsync/cmp.h"
#include "hosts/linux/hotsync/tty_detect.h"
#include "tests/support/bytes.h"

namespace vellora::linux_host {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes hex(const std::string& text) { return testing::hex_bytes(text); }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Recorded: the handheld's wakeup (CMP 1.3, 115,200 bps, long packets),
// the desktop's ack of it, the desktop's init (sent there under the
// wakeup's xid), a ReadSysInfo request and the handheld's long-form ack.
const Bytes kWakeup = hex("be ef ed 03 03 02 00 0e ff af 01 c0 00 0a 01 10 01 03 00 00 00 01 c2 00 6d 2e");
const Bytes kWakeupAck = hex("be ef ed 03 03 02 00 04 ff a5 02 c0 00 0a 1a 85");
const Bytes kInit = hex("be ef ed 03 03 02 00 0e ff af 01 c0 00 0a 02 90 01 01 00 00 00 01 c2 00 03 b0");
const Bytes kReadSysInfo = hex("be ef ed 03 03 02 00 0c 01 af 01 c0 00 08 12 01 20 04 00 01 00 04 1d 8b");
const Bytes kLongAck = hex("be ef ed 03 03 02 00 06 01 a9 02 d0 00 00 00 08 28 96");
const Bytes kLoopBack = slp_packet(3, 3, kSlpTypeLoopBack, 0x11, {});

Bytes padp(std::uint8_t xid, PadpHeader header, const Bytes& data = {}) {
  return slp_packet(3, 3, kSlpTypePadp, xid, padp_packet(header, data));
}

// A handheld that keeps 9,600 bps and short packets.
const Bytes kPlainWakeup = padp(0xFF, {kPadpData, 0xC0, 10}, hex("01 00 01 01 00 00 00 00 25 80"));

Bytes counting_bytes(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  return bytes;
}

TEST(SerialWire, ChecksumsAndHeadersAreTheRecordedBytes) {
  const std::string check = "123456789";
  EXPECT_EQ(crc16_xmodem(Bytes(check.begin(), check.end())), 0x31C3);
  EXPECT_EQ(padp(0xFF, {kPadpData, 0xC0, 10}, hex("01 10 01 03 00 00 00 01 c2 00")), kWakeup);
  EXPECT_EQ(padp(0xFF, {kPadpAck, 0xC0, 10}), kWakeupAck);
  const CmpBytes init = cmp_init(115200, kCmpInitChangeSpeed | kCmpInitLongPackets);
  EXPECT_EQ(padp(0xFF, {kPadpData, 0xC0, 10}, Bytes(init.begin(), init.end())), kInit);
  EXPECT_EQ(padp(1, {kPadpData, 0xC0, 8}, hex("12 01 20 04 00 01 00 04")), kReadSysInfo);
  EXPECT_EQ(padp(1, {kPadpAck, 0xD0, 8}), kLongAck);

  const auto wakeup = decode_cmp(std::span(kWakeup).subspan(14, 10));
  ASSERT_TRUE(wakeup);
  EXPECT_EQ(wakeup->type, kCmpWakeup);
  EXPECT_EQ(wakeup->major, 1);
  EXPECT_EQ(wakeup->speed_bps, 115200u);
  EXPECT_FALSE(decode_cmp(hex("01 10 01 03 00 00 00 01 c2")));

  EXPECT_EQ(cmp_agreed_speed(115200, 230400), 115200u);
  EXPECT_EQ(cmp_agreed_speed(230400, 100000), 57600u);  // not a standard rate: the one below
  EXPECT_EQ(cmp_agreed_speed(1'000'000, 1'000'000), 230400u);
  EXPECT_EQ(cmp_agreed_speed(0, 115200), 9600u);
}

TEST(SerialWire, MessagesSplitIntoFragmentsAndBackTogether) {
  const Bytes message = counting_bytes(2500);
  const auto fragments = padp_fragments(message, true);
  ASSERT_EQ(fragments.size(), 3u);
  EXPECT_EQ(fragments[0].header.flags, 0x90);
  EXPECT_EQ(fragments[0].header.size_or_offset, 2500u);
  EXPECT_EQ(fragments[1].header.flags, 0x10);
  EXPECT_EQ(fragments[1].header.size_or_offset, 1024u);
  EXPECT_EQ(fragments[2].header.flags, 0x50);
  EXPECT_EQ(fragments[2].data.size(), 452u);
  PadpReassembler reassembler;
  EXPECT_EQ(reassembler.add(fragments[0]), PadpAssembly::more);
  EXPECT_EQ(reassembler.add(fragments[2]), PadpAssembly::bad_offset);
  EXPECT_EQ(reassembler.refused_value(), 2048u);
  EXPECT_EQ(reassembler.expected_value(), 1024u);
  EXPECT_EQ(reassembler.add(fragments[1]), PadpAssembly::no_first);  // the refusal dropped the message
  for (const PadpPacket& fragment : fragments) reassembler.add(fragment);
  EXPECT_EQ(reassembler.take(), message);

  EXPECT_EQ(padp_fragments({}, false).at(0).header.flags, kPadpFirst | kPadpLast);
  EXPECT_TRUE(padp_fragments(Bytes(0x10000), false).empty());
  EXPECT_EQ(padp_fragments(Bytes(0x10000), true).size(), 64u);
  const Bytes five(5);
  EXPECT_EQ(reassembler.add({{kPadpData, 0xD0, kPadpMostMessageBytes + 1}, five}), PadpAssembly::too_long);
  EXPECT_EQ(reassembler.add({{kPadpData, 0xC0, 4}, five}), PadpAssembly::past_total);
  EXPECT_EQ(reassembler.add({{kPadpData, 0xC0, 6}, five}), PadpAssembly::short_of_total);
}

TEST(SlpReader, FindsPacketsInNoiseWhateverThePieces) {
  Bytes bad_crc = kReadSysInfo;
  bad_crc[15] ^= 1;
  const Bytes bad_header = hex("be ef ed 03 03 02 00 00 05 00 aa bb");
  const Bytes console = slp_packet(1, 1, kSlpTypePadp, 4, hex("01 c0 00 00"));
  // "be ef ed" before the wakeup is a false signature whose header fails.
  const Bytes stream =
      hex("00 be ef 13 be ef ed") + kWakeup + kLoopBack + bad_crc + bad_header + console + kReadSysInfo;
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, stream.size()}) {
    SCOPED_TRACE(piece);
    SlpReader reader;
    std::vector<SlpPacket> got;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      reader.feed(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
      while (auto packet = reader.next()) got.push_back(*packet);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].xid, 0xFF);
    EXPECT_EQ(got[0].body, Bytes(kWakeup.begin() + 10, kWakeup.end() - 2));
    EXPECT_EQ(got[1].xid, 1);
    EXPECT_EQ(reader.dropped_packets(), 3u);
    EXPECT_EQ(reader.pending_bytes(), 0u);
  }
}

TEST(TtyDetect, TellsTheStackFromTheFirstBytes) {
  struct Case {
    Bytes bytes;
    TtyProtocol protocol;
    std::size_t skip;
    bool need_more;
  };
  const Case cases[] = {
      {kLoopBack + kLoopBack + kWakeup, TtyProtocol::serial, 2 * kLoopBack.size(), false},
      {hex("00 be ef 7f") + kWakeup, TtyProtocol::serial, 4, false},
      {hex("42") + Bytes(kWakeup.begin(), kWakeup.begin() + 9), TtyProtocol::unknown, 1, true},
      {Bytes(kLoopBack.begin(), kLoopBack.end() - 1), TtyProtocol::unknown, 0, true},
      {kReadSysInfo, TtyProtocol::unknown, kReadSysInfo.size(), false},  // not a wakeup
      {hex("ff 01 ff 00 00 00 16 90 01"), TtyProtocol::netsync, 1, false},
      {hex("01 ff 00 00 00 00 90 02"), TtyProtocol::unknown, 8, false},  // empty: no first message
      {hex("00 90 01 00 00 00 00 00 00 00 20 00"), TtyProtocol::netsync, 1, false},
      {hex("00 90 01 00 00"), TtyProtocol::unknown, 1, true},
  };
  for (const Case& c : cases) {
    std::size_t skip = 99;
    bool need_more = !c.need_more;
    EXPECT_EQ(detect_tty_protocol(c.bytes, skip, need_more), c.protocol) << ::testing::PrintToString(c.bytes);
    EXPECT_EQ(skip, c.skip) << ::testing::PrintToString(c.bytes);
    EXPECT_EQ(need_more, c.need_more) << ::testing::PrintToString(c.bytes);
  }
}

// The handheld's end of a socket pair, played by a script on its own
// thread; every wait in it ends within two seconds.
class Handheld {
 public:
  explicit Handheld(UniqueFd fd) : stream_(std::move(fd)) {}

  void send(const Bytes& bytes) { EXPECT_TRUE(stream_.write_all(bytes, LinkClock::now() + 2s)); }
  void send_padp(std::uint8_t xid, PadpHeader header, const Bytes& data = {}) { send(padp(xid, header, data)); }
  // The desktop's next packet, as bytes.
  Bytes receive() {
    for (;;) {
      if (auto packet = reader_.next())
        return slp_packet(packet->dest, packet->src, packet->type, packet->xid, packet->body);
      std::uint8_t buffer[512];
      const std::size_t got = stream_.read_some(buffer, LinkClock::now() + 2s);
      if (got == 0) return {};
      reader_.feed(std::span(buffer).first(got));
    }
  }
  // Reads a data packet, expects it to carry `data` in one fragment, and acks it unless told not to.
  std::uint8_t take_request(const Bytes& data, bool acks = true) {
    const Bytes packet = receive();
    EXPECT_GE(packet.size(), 16u);
    if (packet.size() < 16) return 0;
    EXPECT_EQ(Bytes(packet.begin() + 14, packet.end() - 2), data);
    if (acks) send_padp(packet[8], {kPadpAck, packet[11], get_be16(packet.data() + 12)});
    return packet[8];
  }
  void expect(const Bytes& bytes) { EXPECT_EQ(receive(), bytes); }
  void hang_up() { ::shutdown(stream_.fd(), SHUT_RDWR); }

  // The handshake: wakeup, the desktop's ack and init, our ack of the init.
  void wake(const Bytes& wakeup = kWakeup) {
    send(wakeup);
    expect(kWakeupAck);
    const Bytes init = receive();
    ASSERT_EQ(init.size(), kInit.size());
    send_padp(init[8], {kPadpAck, 0xC0, 10});
  }

 private:
  LinkStream stream_;
  SlpReader reader_;
};

// A desktop stream and the handheld at the other end of a socket pair.
struct Pair {
  Pair() {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    desktop = std::make_unique<LinkStream>(UniqueFd(fds[0]));
    handheld = std::make_unique<Handheld>(UniqueFd(fds[1]));
  }
  ~Pair() {
    if (script.joinable()) script.join();
  }
  void play(std::function<void(Handheld&)> steps) {
    script = std::thread([this, steps] { steps(*handheld); });
  }

  std::unique_ptr<LinkStream> desktop;
  std::unique_ptr<Handheld> handheld;
  std::thread script;
};

constexpr LinkTimeouts kTimeouts{500ms, 100ms, 3};

TEST(SerialLink, OpensAndSwitchesSpeedOnlyOnceTheInitIsAcknowledged) {
  Pair pair;
  std::atomic<bool> is_init_acked = false;
  pair.play([&](Handheld& handheld) {
    handheld.send(hex("00 be ef") + kLoopBack + kWakeup + kWakeup);  // repeated until answered
    handheld.expect(kWakeupAck);
    const Bytes init = handheld.receive();
    ASSERT_EQ(init.size(), kInit.size());
    EXPECT_EQ(init[8], 1);  // never the wakeup's xid
    EXPECT_EQ(Bytes(init.begin() + 10, init.end() - 2), hex("01 c0 00 0a 02 90 01 01 00 00 00 00 e1 00"));
    is_init_acked = true;
    handheld.send_padp(init[8], {kPadpAck, 0xC0, 10}, hex("b2 60"));  // bytes after an ack are ignored
  });
  std::vector<std::uint32_t> speeds;
  Bytes already_read;
  ASSERT_EQ(read_tty_protocol(*pair.desktop, LinkClock::now() + 2s, already_read), TtyProtocol::serial);
  SerialLink link(
      *pair.desktop, kTimeouts, 57600,
      [&](std::uint32_t bps) {
        EXPECT_TRUE(is_init_acked);
        speeds.push_back(bps);
        return true;
      },
      already_read);
  ASSERT_TRUE(link.open(LinkClock::now() + 2s)) << link.error_text();
  EXPECT_EQ(link.speed(), 57600u);
  EXPECT_EQ(speeds, std::vector<std::uint32_t>{57600});
}

TEST(SerialLink, RefusesAnotherCmpVersionAndKeeps9600WithoutSwitching) {
  {
    Pair pair;
    pair.play([](Handheld& handheld) {
      handheld.send(padp(0xFF, {kPadpData, 0xC0, 10}, hex("01 00 02 00 00 00 00 00 25 80")));
      handheld.receive();  // the ack
      const Bytes abort = handheld.receive();
      ASSERT_EQ(abort.size(), kInit.size());
      EXPECT_EQ(Bytes(abort.begin() + 14, abort.end() - 2), hex("03 80 01 01 00 00 00 00 00 00"));
    });
    SerialLink link(*pair.desktop, kTimeouts, 115200, nullptr);
    EXPECT_FALSE(link.open(LinkClock::now() + 2s));
    EXPECT_EQ(link.failure(), LinkFailure::broken);
    EXPECT_EQ(link.error_text(), "the handheld's wakeup speaks CMP version 2.0");
  }
  Pair pair;
  pair.play([](Handheld& handheld) {
    handheld.send(kPlainWakeup);
    handheld.receive();
    const Bytes init = handheld.receive();
    ASSERT_EQ(init.size(), kInit.size());
    EXPECT_EQ(init[15], 0x00);  // no speed change, no long packets
    handheld.send_padp(init[8], {kPadpAck, 0xC0, 10});
  });
  SerialLink link(*pair.desktop, kTimeouts, 115200, [](std::uint32_t) {
    ADD_FAILURE() << "the speed stays";
    return false;
  });
  EXPECT_TRUE(link.open(LinkClock::now() + 2s)) << link.error_text();
  EXPECT_EQ(link.speed(), 9600u);
}

TEST(SerialLink, CarriesMessagesInLongFragmentsBothWays) {
  const Bytes request = counting_bytes(1100);
  const Bytes response = counting_bytes(2500);
  Pair pair;
  pair.play([&](Handheld& handheld) {
    handheld.wake();
    for (const PadpPacket& fragment : padp_fragments(request, true)) {
      const Bytes sent = padp(2, fragment.header, Bytes(fragment.data.begin(), fragment.data.end()));
      handheld.expect(sent);
      handheld.send_padp(2, {kPadpAck, fragment.header.flags, fragment.header.size_or_offset});
    }
    for (const PadpPacket& fragment : padp_fragments(response, true)) {
      handheld.send_padp(2, fragment.header, Bytes(fragment.data.begin(), fragment.data.end()));
      handheld.send_padp(3, {kPadpTickle, 0xD0, 0});  // passed over
      handheld.expect(padp(2, {kPadpAck, fragment.header.flags, fragment.header.size_or_offset}));
    }
    EXPECT_EQ(handheld.receive().at(10), kPadpTickle);
  });
  SerialLink link(*pair.desktop, kTimeouts, 115200, nullptr);
  ASSERT_TRUE(link.open(LinkClock::now() + 2s)) << link.error_text();
  Bytes got;
  ASSERT_TRUE(link.exchange(request, got)) << link.error_text();
  EXPECT_EQ(got, response);
  EXPECT_TRUE(link.tickle());
}

TEST(SerialLink, ExchangesSurviveLostAcksResentFragmentsAndNoise) {
  const Bytes request = hex("12 01 20 04 00 01 00 04");
  const Bytes answer = hex("92 01 00 00 20 04 00 01 00 04");
  Pair pair;
  pair.play([&](Handheld& handheld) {
    handheld.wake(kPlainWakeup);
    // The ack is lost, so the request comes again.
    std::uint8_t xid = handheld.take_request(request, false);
    handheld.take_request(request);
    handheld.send_padp(xid, {kPadpData, 0xC0, 10}, answer);
    handheld.expect(padp(xid, {kPadpAck, 0xC0, 10}));
    // The response stands in for a lost ack.
    xid = handheld.take_request(request, false);
    handheld.send_padp(xid, {kPadpData, 0xC0, 10}, answer);
    handheld.expect(padp(xid, {kPadpAck, 0xC0, 10}));
    // A fragment resent is acknowledged again and read once.
    xid = handheld.take_request(request);
    const Bytes first = padp(xid, {kPadpData, 0x80, 10}, Bytes(answer.begin(), answer.begin() + 6));
    handheld.send(first);
    handheld.expect(padp(xid, {kPadpAck, 0x80, 10}));
    handheld.send(first);
    handheld.expect(padp(xid, {kPadpAck, 0x80, 10}));
    handheld.send_padp(xid, {kPadpData, 0x40, 6}, Bytes(answer.begin() + 6, answer.end()));
    handheld.expect(padp(xid, {kPadpAck, 0x40, 6}));
    // Noise, a packet with a bad CRC, and the answer a byte at a time.
    xid = handheld.take_request(request);
    Bytes damaged = padp(xid, {kPadpData, 0xC0, 10}, answer);
    damaged[damaged.size() - 1] ^= 0x40;
    handheld.send(hex("be ef be 00 ed") + damaged);
    for (const std::uint8_t byte : padp(xid, {kPadpData, 0xC0, 10}, answer)) handheld.send({byte});
    handheld.expect(padp(xid, {kPadpAck, 0xC0, 10}));
  });
  SerialLink link(*pair.desktop, kTimeouts, 9600, nullptr);
  ASSERT_TRUE(link.open(LinkClock::now() + 2s)) << link.error_text();
  for (int exchange = 0; exchange < 4; ++exchange) {
    SCOPED_TRACE(exchange);
    Bytes got;
    ASSERT_TRUE(link.exchange(request, got)) << link.error_text();
    EXPECT_EQ(got, answer);
  }
}

TEST(SerialLink, SilenceAndHangUpsEndWithinTheDeadlines) {
  constexpr LinkTimeouts kShort{200ms, 50ms, 3};
  const Bytes request = hex("2e 00");
  {
    Pair pair;
    SerialLink link(*pair.desktop, kShort, 9600, nullptr);
    const auto began = LinkClock::now();
    EXPECT_FALSE(link.open(began + 200ms));
    EXPECT_LT(LinkClock::now() - began, 1s);
    EXPECT_EQ(link.failure(), LinkFailure::timed_out);
  }
  Pair pair;
  pair.play([&](Handheld& handheld) {
    handheld.wake(kPlainWakeup);
    // Acknowledged but never answered.
    handheld.take_request(request);
    // Never acknowledged: sent three times.
    const Bytes once = handheld.receive();
    for (int send = 1; send < 3; ++send) EXPECT_EQ(handheld.receive(), once);
  });
  SerialLink link(*pair.desktop, kShort, 9600, nullptr);
  ASSERT_TRUE(link.open(LinkClock::now() + 2s)) << link.error_text();
  Bytes got;
  auto began = LinkClock::now();
  EXPECT_FALSE(link.exchange(request, got));
  EXPECT_EQ(link.error_text(), "no answer within 200 ms");
  EXPECT_LT(LinkClock::now() - began, 1s);
  // A timed-out link is done with; a new one over the same stream goes on.
  SerialLink next(*pair.desktop, kShort, 9600, nullptr);
  EXPECT_FALSE(link.exchange(request, got));
  began = LinkClock::now();
  EXPECT_FALSE(next.exchange(request, got));
  EXPECT_LT(LinkClock::now() - began, 1s);
  EXPECT_EQ(next.failure(), LinkFailure::timed_out);
  EXPECT_EQ(next.error_text(), "no acknowledgement within 50 ms, sent 3 times");
  pair.script.join();
  EXPECT_FALSE(next.tickle());
  pair.handheld->hang_up();
  SerialLink last(*pair.desktop, kShort, 9600, nullptr);
  EXPECT_FALSE(last.exchange(request, got));
  EXPECT_EQ(last.failure(), LinkFailure::closed);
  EXPECT_EQ(last.error_text(), "the handheld hung up");
}

}  // namespace
}  // namespace vellora::linux_host
