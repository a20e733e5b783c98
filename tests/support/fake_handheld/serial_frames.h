// The serial stack's packets as the handheld writes and reads them. SLP
// carries everything: signature BE EF ED, sockets, type, size, transaction
// id, a header checksum, the body and a CRC-16/XMODEM over all before it.
// PADP inside it carries one DLP message in fragments of at most 1,024
// bytes, each acknowledged; CMP is the first PADP message, where the
// handheld wakes the desktop and the desktop picks the speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vellora::testing {

constexpr std::uint8_t kSlpDlpSocket = 3;
constexpr std::uint8_t kSlpTypePadp = 2;
constexpr std::uint8_t kSlpTypeLoopBack = 3;
constexpr std::size_t kSlpHeaderBytes = 10;
constexpr std::size_t kSlpCrcBytes = 2;
// The transaction id of the handheld's CMP wakeup.
constexpr std::uint8_t kSlpWakeupXid = 0xFF;

constexpr std::uint8_t kPadpData = 0x01;
constexpr std::uint8_t kPadpAck = 0x02;
constexpr std::uint8_t kPadpTickle = 0x04;
constexpr std::uint8_t kPadpAbort = 0x08;
constexpr std::uint8_t kPadpFirst = 0x80;
constexpr std::uint8_t kPadpLast = 0x40;
constexpr std::uint8_t kPadpLong = 0x10;  // sizeOrOffset is 32 bits
constexpr std::size_t kPadpMostFragmentBytes = 1024;

constexpr std::uint8_t kCmpWakeup = 1;
constexpr std::uint8_t kCmpInit = 2;
constexpr std::uint8_t kCmpAbort = 3;
constexpr std::uint8_t kCmpLongPackets = 0x10;  // wakeup: offered; init: agreed
constexpr std::uint8_t kCmpChangeSpeed = 0x80;  // init: switch to its rate
constexpr std::size_t kCmpBytes = 10;

// CRC-16/XMODEM: polynomial 0x1021, initial 0, most significant bit first.
std::uint16_t crc16_xmodem(std::span<const std::uint8_t> bytes);

// An SLP packet from socket 3 to socket 3.
std::vector<std::uint8_t> slp_packet(std::uint8_t type, std::uint8_t xid, std::span<const std::uint8_t> body);

struct SlpPacket {
  std::uint8_t destination = 0;
  std::uint8_t source = 0;
  std::uint8_t type = 0;
  std::uint8_t xid = 0;
  std::vector<std::uint8_t> body;
};

// Finds packets in the bytes read, in any pieces: hunts for the signature
// byte by byte, and drops a packet whose header checksum or CRC is wrong
// to hunt again one byte after its signature. Holds at most one packet
// beyond the bytes of the last feed.
class SlpReader {
 public:
  void feed(std::span<const std::uint8_t> bytes);
  std::optional<SlpPacket> next();
  std::size_t dropped() const { return dropped_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;
  std::size_t dropped_ = 0;
};

struct PadpHeader {
  std::uint8_t type = 0;
  std::uint8_t flags = 0;
  std::uint32_t size_or_offset = 0;  // total size in a first fragment, the offset in later ones
  std::size_t header_bytes = 0;      // 4, or 6 in the long form
};

std::optional<PadpHeader> decode_padp(std::span<const std::uint8_t> body);
// A PADP header, in the long form when `flags` has kPadpLong, and data.
std::vector<std::uint8_t> padp_body(std::uint8_t type, std::uint8_t flags, std::uint32_t size_or_offset,
                                    std::span<const std::uint8_t> data = {});

}  // namespace vellora::testing
