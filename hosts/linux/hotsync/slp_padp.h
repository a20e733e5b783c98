// The two lower layers of HotSync over a serial line or a serial-like USB
// tty. SLP frames each packet (signature BE EF ED, sockets, type, size,
// transaction id, header checksum, body, CRC-16) so a receiver can find
// packets in a byte stream that may hold noise; PADP, carried in SLP
// packets of type 2 between sockets 3, splits a message into fragments of
// at most 1,024 bytes that are acknowledged one by one. The reader hunts
// for packets byte by byte in whatever pieces the link delivers and drops
// those whose checksums fail; the reassembler checks every fragment's
// offset and refuses messages larger than any handheld sends, so a hostile
// peer can make neither allocate without bound nor misread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vellora::linux_host {

// CRC-16 with polynomial 0x1021, initial value 0, most significant bit
// first, no final XOR: the check value of "123456789" is 0x31C3.
std::uint16_t crc16_xmodem(std::span<const std::uint8_t> bytes);

// ---- SLP -------------------------------------------------------------------

inline constexpr std::size_t kSlpHeaderBytes = 10;
inline constexpr std::size_t kSlpCrcBytes = 2;
inline constexpr std::size_t kSlpMostBodyBytes = 0xFFFF;
// The socket of the Desktop Link on both sides.
inline constexpr std::uint8_t kSlpDlpSocket = 3;
inline constexpr std::uint8_t kSlpTypePadp = 2;
inline constexpr std::uint8_t kSlpTypeLoopBack = 3;
// The handheld's CMP wakeup travels under this xid and no other packet may.
inline constexpr std::uint8_t kSlpWakeupXid = 0xFF;

struct SlpPacket {
  std::uint8_t dest = kSlpDlpSocket;
  std::uint8_t src = kSlpDlpSocket;
  std::uint8_t type = kSlpTypePadp;
  std::uint8_t xid = 0;
  std::vector<std::uint8_t> body;
};

// A whole packet with its header and CRC; empty when the body is longer
// than the 16-bit size can say.
std::vector<std::uint8_t> slp_packet(std::uint8_t dest, std::uint8_t src, std::uint8_t type, std::uint8_t xid,
                                     std::span<const std::uint8_t> body);

// Finds packets in the bytes read from a link. A packet whose header
// checksum or CRC fails is dropped and the hunt resumes one byte after its
// signature, so a packet hidden behind a false signature is still found.
// Loop-back test packets and packets for other sockets are passed over.
class SlpReader {
 public:
  explicit SlpReader(std::uint8_t socket = kSlpDlpSocket) : socket_(socket) {}
  // Takes the next bytes read from the link.
  void feed(std::span<const std::uint8_t> bytes);
  // The next packet for the socket, if a whole one has arrived.
  std::optional<SlpPacket> next();
  // Packets dropped for a bad checksum or CRC so far.
  std::size_t dropped_packets() const { return dropped_; }
  // Bytes received but not yet read as a packet or passed over.
  std::size_t pending_bytes() const { return buffer_.size() - start_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;  // where the unread bytes begin
  std::uint8_t socket_;
  std::size_t dropped_ = 0;
};

// ---- PADP ------------------------------------------------------------------

inline constexpr std::uint8_t kPadpData = 0x01;
inline constexpr std::uint8_t kPadpAck = 0x02;
inline constexpr std::uint8_t kPadpTickle = 0x04;
inline constexpr std::uint8_t kPadpAbort = 0x08;

inline constexpr std::uint8_t kPadpFirst = 0x80;
inline constexpr std::uint8_t kPadpLast = 0x40;
inline constexpr std::uint8_t kPadpMemoryError = 0x20;  // in an ack: the receiver had no room
inline constexpr std::uint8_t kPadpLong = 0x10;         // a 32-bit size or offset

inline constexpr std::size_t kPadpShortHeaderBytes = 4;
inline constexpr std::size_t kPadpLongHeaderBytes = 6;
inline constexpr std::size_t kPadpMostFragmentBytes = 1024;
// The most a short header can announce.
inline constexpr std::size_t kPadpMostShortMessageBytes = 0xFFFF;
// A DLP message stays within 64 KiB plus its headers; a larger one is a
// broken stream, refused before anything is kept.
inline constexpr std::size_t kPadpMostMessageBytes = 0xFFFF + 1024;

struct PadpHeader {
  std::uint8_t type = kPadpData;
  std::uint8_t flags = 0;
  // The whole message's size in a first fragment, the fragment's offset in
  // later ones; an ack repeats the value of the packet it acknowledges.
  std::uint32_t size_or_offset = 0;
};

// A header and the data after it, a view into bytes that must outlive it.
struct PadpPacket {
  PadpHeader header;
  std::span<const std::uint8_t> data;
};

std::size_t padp_header_bytes(std::uint8_t flags);
// The header and data as an SLP body. With a short header the value is
// cut to 16 bits: callers set kPadpLong for larger ones.
std::vector<std::uint8_t> padp_packet(const PadpHeader& header, std::span<const std::uint8_t> data);
// The packet in an SLP body, or nothing when the body is shorter than its
// header. Bytes after an ack's or tickle's header are data nobody reads.
std::optional<PadpPacket> decode_padp(std::span<const std::uint8_t> body);

// The data fragments that carry `message`, in order, viewing its bytes:
// long headers when `is_long`, otherwise short ones. Empty when the
// message is too long to announce or larger than kPadpMostMessageBytes.
std::vector<PadpPacket> padp_fragments(std::span<const std::uint8_t> message, bool is_long);

enum class PadpAssembly {
  more,            // the fragment was kept; more are to come
  done,            // the message is whole: take() it
  no_first,        // a later fragment with no first one before it
  bad_offset,      // a fragment that does not continue what arrived
  too_long,        // a message larger than the reassembler's bound
  past_total,      // more data than the first fragment announced
  short_of_total,  // a last fragment before the announced size
};

// Puts a message back together from its data fragments. A refused
// fragment drops the message begun; a first fragment always starts anew.
class PadpReassembler {
 public:
  explicit PadpReassembler(std::size_t most_bytes = kPadpMostMessageBytes) : most_bytes_(most_bytes) {}
  PadpAssembly add(const PadpPacket& fragment);
  // The message after add() said done; the reassembler is empty again.
  std::vector<std::uint8_t> take();
  void reset();
  // What the last refused fragment said (its offset, its end, or the size
  // it announced) and what was expected instead, for the message.
  std::uint64_t refused_value() const { return refused_; }
  std::uint64_t expected_value() const { return expected_; }

 private:
  PadpAssembly refuse(PadpAssembly status, std::uint64_t refused, std::uint64_t expected);

  std::size_t most_bytes_;
  std::vector<std::uint8_t> message_;
  std::uint32_t total_ = 0;
  std::uint64_t refused_ = 0;
  std::uint64_t expected_ = 0;
  bool is_open_ = false;  // a first fragment arrived and the message is not done
};

}  // namespace vellora::linux_host
