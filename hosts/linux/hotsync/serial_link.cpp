// The serial HotSync link; see serial_link.h.
#include "hosts/linux/hotsync/serial_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>
#include <utility>

#include "hosts/linux/hotsync/cmp.h"
#include "hosts/linux/hotsync/netsync_frames.h"

namespace vellora::linux_host {
namespace {

constexpr std::size_t kReadBytes = 4096;
// A handheld needs a moment after the desktop's port changes its rate.
constexpr std::chrono::milliseconds kSpeedSettleTime{50};
constexpr std::uint8_t kWholeMessage = kPadpFirst | kPadpLast;

// "30 s", or "200 ms" for what is not whole seconds.
std::string duration_text(std::chrono::milliseconds duration) {
  if (duration.count() % 1000 == 0) return std::to_string(duration.count() / 1000) + " s";
  return std::to_string(duration.count()) + " ms";
}

std::string assembly_text(PadpAssembly status, const PadpReassembler& reassembler) {
  const std::string refused = std::to_string(reassembler.refused_value());
  const std::string expected = std::to_string(reassembler.expected_value());
  switch (status) {
    case PadpAssembly::no_first: return "a response fragment at offset " + refused + " without the fragments before it";
    case PadpAssembly::bad_offset: return "a response fragment at offset " + refused + ", expected " + expected;
    case PadpAssembly::too_long: return "a response of " + refused + " bytes, more than any handheld sends";
    case PadpAssembly::past_total:
      return "a response fragment ending at " + refused + ", past the " + expected + " bytes announced";
    case PadpAssembly::short_of_total:
      return "a response that ends at " + refused + " of the " + expected + " bytes announced";
    case PadpAssembly::more:
    case PadpAssembly::done: break;
  }
  return {};
}

}  // namespace

SerialLink::SerialLink(LinkStream& stream, LinkTimeouts timeouts, std::uint32_t max_speed, SpeedSetter set_speed,
                       std::vector<std::uint8_t> already_read)
    : stream_(stream),
      timeouts_(timeouts),
      max_speed_(max_speed),
      set_speed_(std::move(set_speed)),
      speed_(kCmpFirstSpeed) {
  reader_.feed(already_read);
}

bool SerialLink::open(LinkDeadline deadline) {
  if (failure_ != LinkFailure::none) return false;
  Received wakeup;
  CmpMessage cmp;
  for (;;) {
    const LinkFailure got = next_packet(deadline, wakeup);
    if (got == LinkFailure::timed_out) return fail(got, "no wakeup from the handheld");
    if (got != LinkFailure::none) return fail_stream(got, "reading from");
    if (wakeup.header.type != kPadpData || wakeup.xid != kSlpWakeupXid) continue;
    if ((wakeup.header.flags & kWholeMessage) != kWholeMessage) continue;
    const auto message = decode_cmp(wakeup.data);
    if (message && message->type == kCmpWakeup) {
      cmp = *message;
      break;
    }
  }
  if (!acknowledge(wakeup)) return false;
  if (cmp.major != kCmpMajor) {
    // Sent once and not waited for: the handheld gives up either way.
    const CmpBytes abort = cmp_abort(kCmpAbortVersion);
    write_padp(next_xid(), {kPadpData, kWholeMessage, kCmpBytes}, abort);
    return fail(LinkFailure::broken, "the handheld's wakeup speaks CMP version " + std::to_string(cmp.major) + "." +
                                         std::to_string(cmp.minor));
  }

  const bool offers_long = (cmp.flags & kCmpWakeupLongPackets) != 0;
  const std::uint32_t speed = cmp_agreed_speed(cmp.speed_bps, max_speed_);
  std::uint8_t flags = offers_long ? kCmpInitLongPackets : 0;
  if (speed != kCmpFirstSpeed) flags |= kCmpInitChangeSpeed;
  // The init goes with short headers: long ones count only once it is acknowledged.
  if (!send_message(next_xid(), cmp_init(speed, flags))) return false;
  held_.reset();  // no response follows an init
  is_long_ = offers_long;
  // The handheld switches once it has acknowledged the init at the old
  // rate; switching before would garble that ack.
  if (speed != kCmpFirstSpeed) {
    if (set_speed_ && !set_speed_(speed))
      return fail(LinkFailure::io, "the serial port refused " + std::to_string(speed) + " bps");
    std::this_thread::sleep_for(kSpeedSettleTime);
  }
  speed_ = speed;
  return true;
}

bool SerialLink::exchange(std::span<const std::uint8_t> request, std::vector<std::uint8_t>& response) {
  if (failure_ != LinkFailure::none) return false;
  const std::uint8_t xid = next_xid();
  return send_message(xid, request) && receive_message(xid, response);
}

bool SerialLink::tickle() {
  if (failure_ != LinkFailure::none) return false;
  const std::uint8_t flags = kWholeMessage | (is_long_ ? kPadpLong : 0);
  return write_padp(next_xid(), {kPadpTickle, flags, 0}, {});
}

LinkFailure SerialLink::next_packet(LinkDeadline deadline, Received& out) {
  if (held_) {
    out = std::move(*held_);
    held_.reset();
    return LinkFailure::none;
  }
  for (;;) {
    while (auto slp = reader_.next()) {
      if (slp->type != kSlpTypePadp) continue;
      const auto padp = decode_padp(slp->body);
      if (!padp) continue;
      out = {slp->xid, padp->header, {padp->data.begin(), padp->data.end()}};
      return LinkFailure::none;
    }
    std::array<std::uint8_t, kReadBytes> buffer;
    const std::size_t got = stream_.read_some(buffer, deadline);
    if (got == 0) return stream_.failure();
    reader_.feed(std::span(buffer).first(got));
  }
}

bool SerialLink::send_message(std::uint8_t xid, std::span<const std::uint8_t> message) {
  const std::vector<PadpPacket> fragments = padp_fragments(message, is_long_);
  if (fragments.empty())
    return fail(LinkFailure::broken, "a request of " + std::to_string(message.size()) + " bytes, too long to send");
  const int sends = std::max(timeouts_.retries, 1);
  for (std::size_t i = 0; i < fragments.size(); ++i) {
    const PadpPacket& fragment = fragments[i];
    AckWait wait = AckWait::timed_out;
    for (int send = 0; send < sends && wait == AckWait::timed_out; ++send) {
      if (!write_padp(xid, fragment.header, fragment.data)) return false;
      wait = await_ack(xid, fragment, fragments.size() > 1, i + 1 == fragments.size());
    }
    if (wait == AckWait::failed) return false;
    if (wait == AckWait::timed_out) {
      return fail(LinkFailure::timed_out, "no acknowledgement within " + duration_text(timeouts_.ack) + ", sent " +
                                              std::to_string(sends) + " times");
    }
  }
  return true;
}

SerialLink::AckWait SerialLink::await_ack(std::uint8_t xid, const PadpPacket& fragment, bool is_fragmented,
                                          bool is_last) {
  const LinkDeadline deadline = LinkClock::now() + timeouts_.ack;
  for (;;) {
    Received packet;
    const LinkFailure got = next_packet(deadline, packet);
    if (got == LinkFailure::timed_out) return AckWait::timed_out;
    if (got != LinkFailure::none) {
      fail_stream(got, "reading from");
      return AckWait::failed;
    }
    const PadpHeader& header = packet.header;
    if (header.type == kPadpAbort) {
      fail(LinkFailure::closed, "the handheld aborted the sync");
      return AckWait::failed;
    }
    if (header.type == kPadpAck && packet.xid == xid) {
      // All fragments share the xid; a late ack of an earlier one carries
      // that fragment's offset.
      if (is_fragmented && header.size_or_offset != fragment.header.size_or_offset) continue;
      if ((header.flags & kPadpMemoryError) != 0) {
        fail(LinkFailure::broken, "the handheld had no memory for the request");
        return AckWait::failed;
      }
      return AckWait::acked;
    }
    if (header.type != kPadpData) continue;
    if (is_resent(packet)) {
      if (!acknowledge(packet)) return AckWait::failed;
    } else if (packet.xid == xid && is_last) {
      // The response began, so the ack was lost on the way.
      held_ = std::move(packet);
      return AckWait::acked;
    }
  }
}

bool SerialLink::receive_message(std::uint8_t xid, std::vector<std::uint8_t>& out) {
  PadpReassembler reassembler;
  // Each fragment gets the whole wait: at 9,600 bps a long response takes
  // longer than one wait, while every fragment still has to come in time.
  // A handheld that dribbles fragments gets four waits in all, room for
  // the longest response at the lowest speed.
  const LinkDeadline last = LinkClock::now() + 4 * timeouts_.reply;
  LinkDeadline deadline = LinkClock::now() + timeouts_.reply;
  for (;;) {
    Received packet;
    const LinkFailure got = next_packet(deadline, packet);
    if (got == LinkFailure::timed_out) return fail(got, "no answer within " + duration_text(timeouts_.reply));
    if (got != LinkFailure::none) return fail_stream(got, "reading from");
    if (packet.header.type == kPadpAbort) return fail(LinkFailure::closed, "the handheld aborted the sync");
    if (packet.header.type != kPadpData) continue;  // tickles and late acks
    if (is_resent(packet)) {
      if (!acknowledge(packet)) return false;
      continue;
    }
    if (packet.xid != xid) continue;
    const PadpAssembly status = reassembler.add({packet.header, packet.data});
    if (status != PadpAssembly::more && status != PadpAssembly::done)
      return fail(LinkFailure::broken, assembly_text(status, reassembler));
    if (!acknowledge(packet)) return false;
    deadline = std::min(last, LinkClock::now() + timeouts_.reply);
    if (status == PadpAssembly::done) {
      out = reassembler.take();
      return true;
    }
  }
}

bool SerialLink::write_padp(std::uint8_t xid, const PadpHeader& header, std::span<const std::uint8_t> data) {
  const std::vector<std::uint8_t> packet =
      slp_packet(kSlpDlpSocket, kSlpDlpSocket, kSlpTypePadp, xid, padp_packet(header, data));
  if (stream_.write_all(packet, LinkClock::now() + timeouts_.ack)) return true;
  return fail_stream(stream_.failure(), "writing to");
}

bool SerialLink::acknowledge(const Received& packet) {
  // The ack repeats the packet's flags, so its header has the same width.
  const auto flags = static_cast<std::uint8_t>(packet.header.flags & ~kPadpMemoryError);
  last_received_ = FragmentId{packet.xid, packet.header.flags, packet.header.size_or_offset};
  return write_padp(packet.xid, {kPadpAck, flags, packet.header.size_or_offset}, {});
}

bool SerialLink::is_resent(const Received& packet) const {
  return last_received_ == FragmentId{packet.xid, packet.header.flags, packet.header.size_or_offset};
}

std::uint8_t SerialLink::next_xid() {
  // The same turn as on a NetSync link: 1 to 0xFE, never the wakeup's 0xFF.
  xid_ = next_netsync_xid(xid_);
  return xid_;
}

bool SerialLink::fail(LinkFailure failure, std::string text) {
  failure_ = failure;
  error_text_ = std::move(text);
  return false;
}

bool SerialLink::fail_stream(LinkFailure failure, const char* doing) {
  switch (failure) {
    case LinkFailure::closed: return fail(failure, "the handheld hung up");
    case LinkFailure::timed_out:
      return fail(failure, "the handheld took no bytes within " + duration_text(timeouts_.ack));
    case LinkFailure::io:
    case LinkFailure::broken:
    case LinkFailure::none: break;
  }
  return fail(LinkFailure::io,
              std::string(doing) + " the handheld's port failed: " + std::strerror(stream_.error_number()));
}

}  // namespace vellora::linux_host
