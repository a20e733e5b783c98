// The NetSync link; see netsync_link.h.
#include "hosts/linux/hotsync/netsync_link.h"

#include <array>
#include <cstring>

namespace vellora::linux_host {
namespace {

// The desktop's two handshake messages, as every desktop sends them.
constexpr std::array<std::uint8_t, 50> kHandshakeSecond = {
    0x12, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x24, 0xff, 0xff, 0xff,
    0xff, 0x3c, 0x00, 0x3c, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc0, 0xa8, 0x01, 0x21,
    0x04, 0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 46> kHandshakeFourth = {
    0x13, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0xff, 0xff,
    0xff, 0xff, 0x00, 0x3c, 0x00, 0x3c, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// The first byte of each handheld message: its command, with the high
// bit that marks the handheld's side.
constexpr std::uint8_t kHandshakeThirdByte = 0x92;
constexpr std::uint8_t kHandshakeFifthByte = 0x93;
constexpr std::array<std::uint8_t, 6> kTickle = {kNetSyncTickle, kNetSyncHandheldXid, 0, 0, 0, 0};
constexpr std::size_t kReadBytes = 64 * 1024;

std::string seconds_text(std::chrono::milliseconds wait) {
  const auto ms = wait.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

}  // namespace

NetSyncLink::NetSyncLink(LinkStream& stream, LinkTimeouts timeouts, std::span<const std::uint8_t> already_read)
    : stream_(stream), timeouts_(timeouts) {
  reader_.feed(already_read);
}

bool NetSyncLink::fail(LinkFailure failure, std::string why) {
  failure_ = failure;
  error_ = std::move(why);
  return false;
}

bool NetSyncLink::fail_stream(const char* doing) {
  switch (stream_.failure()) {
    case LinkFailure::timed_out:
      return fail(LinkFailure::timed_out, std::string("no answer within ") + seconds_text(timeouts_.reply));
    case LinkFailure::closed: return fail(LinkFailure::closed, "the handheld hung up");
    default: return fail(LinkFailure::io, std::string(doing) + ": " + std::strerror(stream_.error_number()));
  }
}

bool NetSyncLink::send(std::span<const std::uint8_t> payload, LinkDeadline deadline) {
  xid_ = next_netsync_xid(xid_);
  // Header and payload in one write: some cradles lose a header that
  // arrives alone less often than they lose one split from its body.
  const auto frame = netsync_frame(xid_, payload);
  return stream_.write_all(frame, deadline) || fail_stream("cannot write to the handheld");
}

bool NetSyncLink::receive(NetSyncMessage& out, LinkDeadline deadline) {
  std::vector<std::uint8_t> piece(kReadBytes);
  for (;;) {
    if (auto message = reader_.next()) {
      out = std::move(*message);
      return true;
    }
    if (reader_.error() != NetSyncError::none) return fail(LinkFailure::broken, reader_.error_text());
    const std::size_t got = stream_.read_some(piece, deadline);
    if (got == 0) return fail_stream("cannot read from the handheld");
    reader_.feed(std::span(piece).first(got));
  }
}

bool NetSyncLink::open(LinkDeadline deadline) {
  NetSyncMessage message;
  if (!receive(message, deadline)) return false;
  if (message.payload.empty() || message.payload[0] != kHandshakeFirstByte)
    return fail(LinkFailure::broken, "what the handheld sent first is not a HotSync greeting");
  const auto step = [&](std::span<const std::uint8_t> ours, std::uint8_t expected) {
    const LinkDeadline answer_by = LinkClock::now() + timeouts_.reply;
    if (!send(ours, answer_by) || !receive(message, answer_by)) return false;
    if (message.payload.empty() || message.payload[0] != expected)
      return fail(LinkFailure::broken, "the handheld broke off the HotSync handshake");
    if (message.xid != xid_)
      return fail(LinkFailure::broken, "the handheld answered transaction " + std::to_string(message.xid) +
                                           " during the handshake, not " + std::to_string(xid_));
    return true;
  };
  return step(kHandshakeSecond, kHandshakeThirdByte) && step(kHandshakeFourth, kHandshakeFifthByte);
}

bool NetSyncLink::exchange(std::span<const std::uint8_t> request, std::vector<std::uint8_t>& response) {
  if (failure_ != LinkFailure::none) return false;
  const LinkDeadline deadline = LinkClock::now() + timeouts_.reply;
  NetSyncMessage message;
  if (!send(request, deadline) || !receive(message, deadline)) return false;
  if (message.xid != xid_)
    return fail(LinkFailure::broken,
                "the handheld answered transaction " + std::to_string(message.xid) + ", not " + std::to_string(xid_));
  response = std::move(message.payload);
  return true;
}

bool NetSyncLink::tickle() {
  if (failure_ != LinkFailure::none) return false;
  return stream_.write_all(kTickle, LinkClock::now() + timeouts_.ack) || fail_stream("cannot write to the handheld");
}

}  // namespace vellora::linux_host
