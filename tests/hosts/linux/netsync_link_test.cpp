// The NetSync link against a scripted handheld on the other end of a
// socket pair, replaying the bytes of a recorded session: the handshake
// with and without the first header, requests answered in pieces, and
// the ways a handheld fails (wrong transaction, silence, hanging up).
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "hosts/linux/hotsync/dlp_handheld.h"
#include "hosts/linux/hotsync/netsync_link.h"
#include "tests/support/bytes.h"

namespace vellora::linux_host {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes hex(const std::string& text) { return testing::hex_bytes(text); }

const Bytes kGreeting = hex("90 01 00000000 00000020 00000008 02 00 00 00 00 00 00 00");
const Bytes kThird =
    hex("92 01 00000000 00000020 00000024 ffffffff 3c00 3c00 00000040 00000002 c0a80205 e06b"
        "0000000000000000000000000000");
const Bytes kFifth = hex("93 00 00000000 0000");

Bytes frame(std::uint8_t xid, const Bytes& payload) {
  Bytes out(6 + payload.size());
  out[0] = 0x01;
  out[1] = xid;
  out[5] = static_cast<std::uint8_t>(payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) out[6 + i] = payload[i];
  return out;
}

// The handheld's side: writes what it is given, in pieces of `piece`
// bytes, and reads (and keeps) what the desktop sends.
struct Handheld {
  int fd;
  std::size_t piece = 1 << 20;
  void write(const Bytes& bytes) const {
    for (std::size_t at = 0; at < bytes.size(); at += piece)
      ASSERT_GT(::write(fd, bytes.data() + at, std::min(piece, bytes.size() - at)), 0);
  }
  Bytes read_frame() const {
    Bytes header(6);
    if (::recv(fd, header.data(), 6, MSG_WAITALL) != 6) return {};
    Bytes body(header[5]);
    if (!body.empty() && ::recv(fd, body.data(), body.size(), MSG_WAITALL) != static_cast<ssize_t>(body.size()))
      return {};
    header.insert(header.end(), body.begin(), body.end());
    return header;
  }
  void handshake(bool with_header) const {
    write(with_header ? frame(0xFF, kGreeting) : kGreeting);
    const Bytes second = read_frame();
    ASSERT_EQ(second.size(), 56u);
    write(frame(second[1], kThird));
    const Bytes fourth = read_frame();
    ASSERT_EQ(fourth.size(), 52u);
    write(frame(fourth[1], kFifth));
  }
};

class NetSyncLinkTest : public ::testing::Test {
 protected:
  NetSyncLinkTest() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    stream = std::make_unique<LinkStream>(UniqueFd(fds[0]));
    handheld.fd = fds[1];
    timeouts.reply = 300ms;
  }
  ~NetSyncLinkTest() override {
    if (peer.joinable()) peer.join();
    if (handheld.fd >= 0) ::close(handheld.fd);
  }
  bool open(NetSyncLink& link) { return link.open(LinkClock::now() + timeouts.reply); }

  std::unique_ptr<LinkStream> stream;
  Handheld handheld;
  LinkTimeouts timeouts;
  std::thread peer;
};

TEST_F(NetSyncLinkTest, HandshakeThenRequestsWithTransactionsEchoed) {
  for (const bool with_header : {true, false}) {
    SCOPED_TRACE(with_header);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    LinkStream local(UniqueFd{fds[0]});
    Handheld side{fds[1], 3};  // every message split across reads
    std::thread other([&] {
      side.handshake(with_header);
      // ReadSysInfo as the desktop sends it, answered after a tickle.
      const Bytes request = side.read_frame();
      EXPECT_TRUE(testing::BytesEqual(request, hex("01 03 00000008 12 01 20 04 0001 0004")));
      side.write(hex("02 ff 00000000"));
      side.write(frame(request[1], hex("92 00 0000")));
    });
    NetSyncLink link(local, timeouts);
    ASSERT_TRUE(open(link)) << link.error_text();
    Bytes response;
    EXPECT_TRUE(link.exchange(hex("12 01 20 04 0001 0004"), response)) << link.error_text();
    EXPECT_EQ(response, hex("92 00 0000"));
    other.join();
    ::close(fds[1]);
  }
}

TEST_F(NetSyncLinkTest, AFailingHandheldEndsTheLinkWithItsReason) {
  struct Case {
    const char* name;
    std::function<void(const Handheld&, const Bytes&)> answer;  // given the request's frame
    LinkFailure failure;
    const char* words;
  };
  const std::vector<Case> cases = {
      {"wrong transaction", [](const Handheld& h, const Bytes& r) { h.write(frame(r[1] + 1, hex("92 00 0000"))); },
       LinkFailure::broken, "transaction"},
      {"silence", [](const Handheld&, const Bytes&) {}, LinkFailure::timed_out, "no answer within 300 ms"},
      {"hang-up", [](const Handheld& h, const Bytes&) { ::shutdown(h.fd, SHUT_RDWR); }, LinkFailure::closed, "hung up"},
      {"4 GiB",
       [](const Handheld& h, const Bytes& r) {
         h.write(Bytes{0x01, r[1], 0xff, 0xff, 0xff, 0xff});
       },
       LinkFailure::broken, "4294967295 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    LinkStream local(UniqueFd{fds[0]});
    Handheld side{fds[1]};
    std::thread other([&] {
      side.handshake(true);
      c.answer(side, side.read_frame());
    });
    NetSyncLink link(local, timeouts);
    ASSERT_TRUE(open(link)) << link.error_text();
    Bytes response;
    const auto started = LinkClock::now();
    EXPECT_FALSE(link.exchange(hex("12 01 20 04 0001 0004"), response));
    EXPECT_LT(LinkClock::now() - started, 2s);
    EXPECT_EQ(link.failure(), c.failure);
    EXPECT_NE(link.error_text().find(c.words), std::string::npos) << link.error_text();
    EXPECT_FALSE(link.exchange(hex("12 01 20 04 0001 0004"), response));  // nothing more once failed
    other.join();
    ::close(fds[1]);
  }
}

TEST_F(NetSyncLinkTest, AGreetingThatIsNotHotSyncIsRefused) {
  peer = std::thread([&] { handheld.write(hex("47 45 54 20 2f 20 48 54 54 50 2f 31 2e 31 0d 0a")); });
  NetSyncLink link(*stream, timeouts);
  EXPECT_FALSE(open(link));
  EXPECT_FALSE(link.error_text().empty());
}

TEST_F(NetSyncLinkTest, AnIdleDesktopTellsTheHandheldItIsStillThere) {
  Bytes tickle;
  peer = std::thread([&] {
    handheld.handshake(true);
    tickle.resize(6);
    ::recv(handheld.fd, tickle.data(), tickle.size(), MSG_WAITALL);
  });
  NetSyncLink link(*stream, timeouts);
  ASSERT_TRUE(open(link)) << link.error_text();
  DlpHandheld::Options options;
  options.keep_alive = 20ms;
  DlpHandheld session(link, options);
  peer.join();
  EXPECT_EQ(tickle, hex("02 ff 00000000"));
}

}  // namespace
}  // namespace vellora::linux_host
