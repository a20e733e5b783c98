// The serial stack from the handheld's side. It wakes the desktop with a
// CMP wakeup under SLP xid 0xFF, repeated until acknowledged, acknowledges
// the desktop's CMP init, then reads each DLP request as PADP fragments,
// acknowledging every one, and answers under the request's xid in
// fragments of at most 1,024 bytes, each sent again until acknowledged.
// Acks go in the long form once long packets are agreed, as handhelds
// send them. A desktop data packet that arrives while an ack is awaited
// stands for the ack; a repeat of the last fragment received is
// acknowledged again and dropped.
#include <algorithm>
#include <array>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "tests/support/fake_handheld/channel.h"
#include "tests/support/fake_handheld/serial_frames.h"

namespace vellora::testing {

namespace {

// A DLP request or CMP message, the headers of a long record write
// included, stays far below this.
constexpr std::uint32_t kMostMessageBytes = 0x20000;
// CMP runs at this rate whatever the link can do.
constexpr std::uint32_t kCmpBitsPerSecond = 9600;
constexpr std::uint8_t kCmpMajor = 1;
constexpr std::uint8_t kCmpMinor = 3;
constexpr std::uint32_t kHugeSize = 0xFFFFFFFF;
constexpr std::size_t kMostReadBytes = 4096;

LinkResult broken(std::string text) { return LinkResult{LinkStatus::broken, std::move(text)}; }

class SerialChannel : public Channel {
 public:
  SerialChannel(Wire& wire, const ChannelSettings& settings) : wire_(wire), settings_(settings) {}

  LinkResult open(Deadline deadline) override {
    std::array<std::uint8_t, kCmpBytes> wakeup{kCmpWakeup, kCmpLongPackets, kCmpMajor, kCmpMinor, 0, 0};
    put_be32(&wakeup[6], settings_.most_bits_per_second);
    const auto packet =
        slp_packet(kSlpTypePadp, kSlpWakeupXid, padp_body(kPadpData, kPadpFirst | kPadpLast, kCmpBytes, wakeup));
    if (wire_.is_paced()) wire_.set_bits_per_second(kCmpBitsPerSecond);
    for (bool is_acked = false; !is_acked;) {
      if (FakeClock::now() >= deadline) return LinkResult{LinkStatus::timed_out, "no answer to the CMP wakeup"};
      if (auto result = write(packet, deadline); !result) return result;
      const Deadline next_wakeup = std::min(deadline, FakeClock::now() + settings_.wakeup_interval);
      if (auto result = await_ack(kSlpWakeupXid, next_wakeup, is_acked); !result) return result;
    }

    std::vector<std::uint8_t> init;
    if (auto result = receive_message(init, deadline, "the desktop's CMP init"); !result) return result;
    if (init.size() < kCmpBytes) return broken("a CMP message of " + std::to_string(init.size()) + " bytes");
    if (init[0] == kCmpAbort) return broken("the desktop aborted CMP, flags " + std::to_string(init[1]));
    if (init[0] != kCmpInit) return broken("CMP type " + std::to_string(init[0]) + " where an init was due");
    is_long_ = (init[1] & kCmpLongPackets) != 0;
    const std::uint32_t rate = (init[1] & kCmpChangeSpeed) != 0 ? get_be32(&init[6]) : kCmpBitsPerSecond;
    if (wire_.is_paced() && rate != 0) wire_.set_bits_per_second(rate);
    return {};
  }

  LinkResult receive(std::vector<std::uint8_t>& request, Deadline deadline) override {
    return receive_message(request, deadline, "a request");
  }

  LinkResult send(std::span<const std::uint8_t> answer, Deadline deadline) override {
    const std::uint8_t xid = answer_xid();
    std::size_t offset = 0;
    do {
      const std::size_t n = std::min(kPadpMostFragmentBytes, answer.size() - offset);
      const auto flags = static_cast<std::uint8_t>(
          (offset == 0 ? kPadpFirst : 0) | (offset + n == answer.size() ? kPadpLast : 0) | (is_long_ ? kPadpLong : 0));
      const auto size_or_offset = static_cast<std::uint32_t>(offset == 0 ? answer.size() : offset);
      const auto packet =
          slp_packet(kSlpTypePadp, xid, padp_body(kPadpData, flags, size_or_offset, answer.subspan(offset, n)));
      bool is_acked = false;
      for (int attempt = 0; attempt < settings_.ack_retries && !is_acked; ++attempt) {
        if (auto result = write(packet, deadline); !result) return result;
        const Deadline ack_deadline = std::min(deadline, FakeClock::now() + settings_.ack_timeout);
        if (auto result = await_ack(xid, ack_deadline, is_acked); !result) return result;
      }
      if (!is_acked)
        return LinkResult{LinkStatus::timed_out, "no ack for the fragment at offset " + std::to_string(offset) +
                                                     " after " + std::to_string(settings_.ack_retries) + " sends"};
      offset += n;
    } while (offset < answer.size());
    return {};
  }

  LinkResult send_huge(std::span<const std::uint8_t> answer, Deadline deadline) override {
    const auto data = answer.first(std::min(answer.size(), kPadpMostFragmentBytes));
    return write(slp_packet(kSlpTypePadp, answer_xid(), padp_body(kPadpData, kPadpFirst | kPadpLong, kHugeSize, data)),
                 deadline);
  }

 private:
  struct Fragment {
    std::uint8_t xid = 0;
    std::uint8_t flags = 0;
    std::uint32_t size_or_offset = 0;
  };

  std::uint8_t answer_xid() const {
    return settings_.has_wrong_xids ? static_cast<std::uint8_t>(request_xid_ ^ 0x80) : request_xid_;
  }

  bool is_repeat(const SlpPacket& packet, const PadpHeader& header) const {
    return has_last_ && packet.xid == last_.xid && header.flags == last_.flags &&
           header.size_or_offset == last_.size_or_offset;
  }

  LinkResult acknowledge(std::uint8_t xid, const PadpHeader& header) {
    const auto flags = static_cast<std::uint8_t>((header.flags & (kPadpFirst | kPadpLast)) |
                                                 (is_long_ ? kPadpLong : header.flags & kPadpLong));
    last_ = Fragment{xid, header.flags, header.size_or_offset};
    has_last_ = true;
    return write(slp_packet(kSlpTypePadp, xid, padp_body(kPadpAck, flags, header.size_or_offset)),
                 FakeClock::now() + settings_.ack_timeout);
  }

  // Waits for the ack of `xid` until the deadline, which is no failure:
  // `is_acked` says whether it came.
  LinkResult await_ack(std::uint8_t xid, Deadline deadline, bool& is_acked) {
    is_acked = false;
    for (;;) {
      SlpPacket packet;
      const LinkResult result = next_packet(packet, deadline, "an ack");
      if (result.status == LinkStatus::timed_out) return {};
      if (!result) return result;
      const auto header = decode_padp(packet.body);
      if (!header) continue;
      if (header->type == kPadpAck && packet.xid == xid) {
        is_acked = true;
        return {};
      }
      if (header->type == kPadpAbort) return LinkResult{LinkStatus::closed, "the desktop aborted the link"};
      if (header->type != kPadpData) continue;  // tickles, stray acks
      if (is_repeat(packet, *header)) {
        if (auto again = acknowledge(packet.xid, *header); !again) return again;
        continue;
      }
      // The desktop has moved on, so it had the fragment: its ack was lost.
      pending_.push_back(std::move(packet));
      is_acked = true;
      return {};
    }
  }

  LinkResult receive_message(std::vector<std::uint8_t>& out, Deadline deadline, const std::string& waiting_for) {
    bool has_first = false;
    std::uint32_t total = 0;
    std::uint8_t xid = 0;
    out.clear();
    for (;;) {
      SlpPacket packet;
      if (auto result = next_packet(packet, deadline, waiting_for); !result) return result;
      const auto header = decode_padp(packet.body);
      if (!header) continue;
      if (header->type == kPadpAbort) return LinkResult{LinkStatus::closed, "the desktop aborted the link"};
      if (header->type != kPadpData) continue;
      if (is_repeat(packet, *header)) {
        if (auto again = acknowledge(packet.xid, *header); !again) return again;
        continue;
      }
      const auto data = std::span(packet.body).subspan(header->header_bytes);
      if ((header->flags & kPadpFirst) != 0) {
        if (header->size_or_offset > kMostMessageBytes)
          return broken("a PADP message announcing " + std::to_string(header->size_or_offset) + " bytes");
        has_first = true;
        total = header->size_or_offset;
        xid = packet.xid;
        out.clear();
      } else if (!has_first || packet.xid != xid || header->size_or_offset != out.size()) {
        continue;  // not the fragment due: unacknowledged, so the desktop sends it again
      }
      if (data.size() > total - out.size())
        return broken("a PADP fragment past the end of a " + std::to_string(total) + "-byte message");
      out.insert(out.end(), data.begin(), data.end());
      if (auto result = acknowledge(packet.xid, *header); !result) return result;
      if (out.size() == total) {
        request_xid_ = xid;
        return {};
      }
    }
  }

  // The next PADP packet for the DLP socket; loop-back and other sockets'
  // packets are passed over.
  LinkResult next_packet(SlpPacket& out, Deadline deadline, const std::string& waiting_for) {
    if (!pending_.empty()) {
      out = std::move(pending_.front());
      pending_.pop_front();
      return {};
    }
    for (;;) {
      while (auto packet = reader_.next()) {
        if (packet->type != kSlpTypePadp || packet->destination != kSlpDlpSocket) continue;
        out = std::move(*packet);
        return {};
      }
      std::array<std::uint8_t, kMostReadBytes> chunk;
      std::size_t got = 0;
      if (const auto status = wire_.read_some(chunk, deadline, got); status != WireStatus::ok)
        return wire_failure(wire_, status, waiting_for);
      reader_.feed(std::span(chunk).first(got));
    }
  }

  LinkResult write(std::span<const std::uint8_t> bytes, Deadline deadline) {
    if (const auto status = wire_.write_all(bytes, deadline); status != WireStatus::ok)
      return wire_failure(wire_, status, "the desktop to take a packet");
    return {};
  }

  Wire& wire_;
  ChannelSettings settings_;
  SlpReader reader_;
  std::deque<SlpPacket> pending_;  // read while awaiting an ack, for the next receive
  bool is_long_ = false;           // long packets agreed
  std::uint8_t request_xid_ = 0;
  Fragment last_;  // the last fragment acknowledged
  bool has_last_ = false;
};

}  // namespace

std::unique_ptr<Channel> make_serial_channel(Wire& wire, const ChannelSettings& settings) {
  return std::make_unique<SerialChannel>(wire, settings);
}

}  // namespace vellora::testing
