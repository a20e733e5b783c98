// NetSync from the handheld's side: every message is a 6-byte header (type,
// transaction id, payload length as u32 big-endian) and its payload. The
// handheld opens with the first handshake message under xid 0xFF, answers
// the desktop's two with the constants handhelds send, then answers each
// DLP request under the request's own xid. Tickles are passed over; a
// length no desktop sends ends the session before anything is allocated.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/byte_order.h"
#include "tests/support/fake_handheld/channel.h"

namespace vellora::testing {

namespace {

constexpr std::uint8_t kData = 0x01;
constexpr std::uint8_t kTickle = 0x02;
constexpr std::size_t kHeaderBytes = 6;
// No DLP request comes near this.
constexpr std::uint32_t kMostPayloadBytes = 0x100000;
constexpr std::uint8_t kHandheldXid = 0xFF;
constexpr std::uint32_t kHugeLength = 0xFFFFFFFF;
constexpr std::size_t kMostReadBytes = 4096;

// The handshake as a handheld plays it: its first message, then its
// answers to the desktop's two. Each is a command byte (0x80 set: from the
// handheld), an argument count, a u32 error and one argument (u32 id 0x20,
// u32 length, data). What the data means is not known; handhelds send
// these bytes and desktops check no more than the lengths.
constexpr std::array<std::uint8_t, 22> kFirstMessage = {
    0x90, 0x01, 0x00, 0x00, 0x00, 0x00,              // command, count, error
    0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x08,  // argument 0x20, 8 bytes
    0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 50> kSecondMessage = {
    0x92, 0x01, 0x00, 0x00, 0x00, 0x00,              // command, count, error
    0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x24,  // argument 0x20, 36 bytes
    0xFF, 0xFF, 0xFF, 0xFF, 0x3C, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x40,
    0x00, 0x00, 0x00, 0x02, 0xC0, 0xA8, 0x02, 0x05, 0xE0, 0x6B, 0x00, 0x00,  // the handheld's IPv4 address
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 8> kThirdMessage = {0x93, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// The desktop's two handshake messages: their first byte and length.
constexpr std::uint8_t kDesktopFirstCommand = 0x12;
constexpr std::size_t kDesktopFirstBytes = 50;
constexpr std::uint8_t kDesktopSecondCommand = 0x13;
constexpr std::size_t kDesktopSecondBytes = 46;

LinkResult broken(std::string text) { return LinkResult{LinkStatus::broken, std::move(text)}; }

std::string hex_byte(std::uint8_t value) {
  std::string text = "0x";
  append_hex_byte(text, value, kLowerHexDigits);
  return text;
}

class NetSyncChannel : public Channel {
 public:
  NetSyncChannel(Wire& wire, const ChannelSettings& settings) : wire_(wire), settings_(settings) {}

  LinkResult open(Deadline deadline) override {
    LinkResult result = settings_.is_first_message_headerless ? write(kFirstMessage, deadline)
                                                              : write_message(kHandheldXid, kFirstMessage, deadline);
    if (result) result = expect_handshake(kDesktopFirstCommand, kDesktopFirstBytes, deadline);
    if (result) result = write_message(answer_xid(), kSecondMessage, deadline);
    if (result) result = expect_handshake(kDesktopSecondCommand, kDesktopSecondBytes, deadline);
    if (result) result = write_message(answer_xid(), kThirdMessage, deadline);
    return result;
  }

  LinkResult receive(std::vector<std::uint8_t>& request, Deadline deadline) override {
    return read_message(request, deadline, "a request");
  }

  LinkResult send(std::span<const std::uint8_t> answer, Deadline deadline) override {
    return write_message(answer_xid(), answer, deadline);
  }

  LinkResult send_huge(std::span<const std::uint8_t> answer, Deadline deadline) override {
    std::vector<std::uint8_t> bytes{kData, answer_xid(), 0, 0, 0, 0};
    put_be32(&bytes[2], kHugeLength);
    bytes.insert(bytes.end(), answer.begin(), answer.end());
    return write(bytes, deadline);
  }

 private:
  // The desktop's xid, or another one when the handheld is to get it wrong.
  std::uint8_t answer_xid() const {
    return settings_.has_wrong_xids ? static_cast<std::uint8_t>(last_xid_ ^ 0x80) : last_xid_;
  }

  LinkResult expect_handshake(std::uint8_t command, std::size_t size, Deadline deadline) {
    std::vector<std::uint8_t> payload;
    if (auto result = read_message(payload, deadline, "the desktop's handshake"); !result) return result;
    if (payload.size() != size || payload[0] != command)
      return broken("handshake message of " + std::to_string(payload.size()) + " bytes, expected " +
                    std::to_string(size) + " starting " + hex_byte(command));
    return {};
  }

  LinkResult read_message(std::vector<std::uint8_t>& payload, Deadline deadline, const std::string& waiting_for) {
    for (;;) {
      if (auto result = fill(kHeaderBytes, deadline, waiting_for); !result) return result;
      const std::uint8_t type = buffer_[0];
      const std::uint32_t length = get_be32(&buffer_[2]);
      if (type == kTickle) {
        if (length != 0) return broken("a tickle carrying " + std::to_string(length) + " bytes");
        consume(kHeaderBytes);
        continue;
      }
      if (type != kData) return broken("a NetSync message of type " + hex_byte(type));
      if (length > kMostPayloadBytes)
        return broken("a NetSync message announcing " + std::to_string(length) + " bytes");
      if (auto result = fill(kHeaderBytes + length, deadline, waiting_for); !result) return result;
      last_xid_ = buffer_[1];
      payload.assign(buffer_.begin() + kHeaderBytes,
                     buffer_.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes + length));
      consume(kHeaderBytes + length);
      return {};
    }
  }

  LinkResult fill(std::size_t count, Deadline deadline, const std::string& waiting_for) {
    while (buffer_.size() < count) {
      std::array<std::uint8_t, kMostReadBytes> chunk;
      std::size_t got = 0;
      const auto want = std::min(chunk.size(), count - buffer_.size());
      if (const auto status = wire_.read_some(std::span(chunk).first(want), deadline, got); status != WireStatus::ok)
        return wire_failure(wire_, status, waiting_for);
      buffer_.insert(buffer_.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    }
    return {};
  }

  void consume(std::size_t count) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
  }

  LinkResult write_message(std::uint8_t xid, std::span<const std::uint8_t> payload, Deadline deadline) {
    std::vector<std::uint8_t> bytes{kData, xid, 0, 0, 0, 0};
    put_be32(&bytes[2], static_cast<std::uint32_t>(payload.size()));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return write(bytes, deadline);
  }

  LinkResult write(std::span<const std::uint8_t> bytes, Deadline deadline) {
    if (const auto status = wire_.write_all(bytes, deadline); status != WireStatus::ok)
      return wire_failure(wire_, status, "the desktop to take an answer");
    return {};
  }

  Wire& wire_;
  ChannelSettings settings_;
  std::vector<std::uint8_t> buffer_;  // bytes read and not yet consumed
  std::uint8_t last_xid_ = 0;
};

}  // namespace

std::unique_ptr<Channel> make_netsync_channel(Wire& wire, const ChannelSettings& settings) {
  return std::make_unique<NetSyncChannel>(wire, settings);
}

}  // namespace vellora::testing
