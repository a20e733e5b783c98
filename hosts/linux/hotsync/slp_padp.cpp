// SLP packets and PADP fragments; see slp_padp.h.
#include "hosts/linux/hotsync/slp_padp.h"

#include <algorithm>
#include <utility>

#include "base/byte_order.h"

namespace vellora::linux_host {
namespace {

constexpr std::uint8_t kSignature[] = {0xBE, 0xEF, 0xED};
constexpr std::size_t kChecksumAt = 9;  // the header checksum sums the bytes before it

std::uint8_t header_checksum(const std::uint8_t* header) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < kChecksumAt; ++i) sum += header[i];
  return static_cast<std::uint8_t>(sum);
}

}  // namespace

std::uint16_t crc16_xmodem(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : bytes) {
    crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// ---- SLP -------------------------------------------------------------------

std::vector<std::uint8_t> slp_packet(std::uint8_t dest, std::uint8_t src, std::uint8_t type, std::uint8_t xid,
                                     std::span<const std::uint8_t> body) {
  if (body.size() > kSlpMostBodyBytes) return {};
  std::vector<std::uint8_t> packet(kSlpHeaderBytes + body.size() + kSlpCrcBytes);
  std::copy(std::begin(kSignature), std::end(kSignature), packet.begin());
  packet[3] = dest;
  packet[4] = src;
  packet[5] = type;
  put_be16(packet.data() + 6, static_cast<std::uint16_t>(body.size()));
  packet[8] = xid;
  packet[kChecksumAt] = header_checksum(packet.data());
  std::copy(body.begin(), body.end(), packet.begin() + kSlpHeaderBytes);
  const std::size_t covered = kSlpHeaderBytes + body.size();
  put_be16(packet.data() + covered, crc16_xmodem(std::span(packet).first(covered)));
  return packet;
}

void SlpReader::feed(std::span<const std::uint8_t> bytes) {
  // Read bytes are dropped once they are a third of the buffer, so the
  // buffer holds about one packet beyond what is still unread.
  if (start_ > 0 && start_ * 3 >= buffer_.size()) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<SlpPacket> SlpReader::next() {
  for (;;) {
    const std::uint8_t* unread = buffer_.data() + start_;
    const std::uint8_t* end = buffer_.data() + buffer_.size();
    start_ += static_cast<std::size_t>(std::find(unread, end, kSignature[0]) - unread);
    const std::uint8_t* at = buffer_.data() + start_;
    const std::size_t available = buffer_.size() - start_;
    if (available == 0) return std::nullopt;
    // A signature split across reads waits for the rest of it.
    if (!std::equal(at, at + std::min(available, sizeof kSignature), kSignature)) {
      ++start_;
      continue;
    }
    if (available < kSlpHeaderBytes) return std::nullopt;
    if (header_checksum(at) != at[kChecksumAt]) {
      ++dropped_;
      ++start_;
      continue;
    }
    const std::size_t body_bytes = get_be16(at + 6);
    const std::size_t covered = kSlpHeaderBytes + body_bytes;
    if (available < covered + kSlpCrcBytes) return std::nullopt;
    const std::uint8_t type = at[5];
    // Loop-back packets are line tests, some sent with a bad CRC on
    // purpose: a good header is enough to pass one over whole.
    if (type == kSlpTypeLoopBack) {
      start_ += covered + kSlpCrcBytes;
      continue;
    }
    if (crc16_xmodem({at, covered}) != get_be16(at + covered)) {
      ++dropped_;
      ++start_;
      continue;
    }
    start_ += covered + kSlpCrcBytes;
    if (at[3] != socket_) continue;
    return SlpPacket{at[3], at[4], type, at[8], {at + kSlpHeaderBytes, at + covered}};
  }
}

// ---- PADP ------------------------------------------------------------------

std::size_t padp_header_bytes(std::uint8_t flags) {
  return (flags & kPadpLong) != 0 ? kPadpLongHeaderBytes : kPadpShortHeaderBytes;
}

std::vector<std::uint8_t> padp_packet(const PadpHeader& header, std::span<const std::uint8_t> data) {
  const std::size_t header_bytes = padp_header_bytes(header.flags);
  std::vector<std::uint8_t> packet(header_bytes + data.size());
  packet[0] = header.type;
  packet[1] = header.flags;
  if (header_bytes == kPadpLongHeaderBytes)
    put_be32(packet.data() + 2, header.size_or_offset);
  else
    put_be16(packet.data() + 2, static_cast<std::uint16_t>(header.size_or_offset));
  std::copy(data.begin(), data.end(), packet.begin() + static_cast<std::ptrdiff_t>(header_bytes));
  return packet;
}

std::optional<PadpPacket> decode_padp(std::span<const std::uint8_t> body) {
  if (body.size() < kPadpShortHeaderBytes) return std::nullopt;
  PadpHeader header{body[0], body[1], 0};
  const std::size_t header_bytes = padp_header_bytes(header.flags);
  if (body.size() < header_bytes) return std::nullopt;
  header.size_or_offset = header_bytes == kPadpLongHeaderBytes ? get_be32(body.data() + 2) : get_be16(body.data() + 2);
  return PadpPacket{header, body.subspan(header_bytes)};
}

std::vector<PadpPacket> padp_fragments(std::span<const std::uint8_t> message, bool is_long) {
  if (message.size() > kPadpMostMessageBytes || (!is_long && message.size() > kPadpMostShortMessageBytes)) return {};
  std::vector<PadpPacket> fragments;
  std::size_t at = 0;
  do {
    const std::size_t size = std::min(kPadpMostFragmentBytes, message.size() - at);
    std::uint8_t flags = is_long ? kPadpLong : 0;
    if (at == 0) flags |= kPadpFirst;
    if (at + size == message.size()) flags |= kPadpLast;
    const std::size_t value = at == 0 ? message.size() : at;
    fragments.push_back({{kPadpData, flags, static_cast<std::uint32_t>(value)}, message.subspan(at, size)});
    at += size;
  } while (at < message.size());
  return fragments;
}

PadpAssembly PadpReassembler::add(const PadpPacket& fragment) {
  const PadpHeader& header = fragment.header;
  if ((header.flags & kPadpFirst) != 0) {
    message_.clear();
    is_open_ = false;
    if (header.size_or_offset > most_bytes_) return refuse(PadpAssembly::too_long, header.size_or_offset, most_bytes_);
    total_ = header.size_or_offset;
    is_open_ = true;
  } else {
    if (!is_open_) return refuse(PadpAssembly::no_first, header.size_or_offset, 0);
    if (header.size_or_offset != message_.size())
      return refuse(PadpAssembly::bad_offset, header.size_or_offset, message_.size());
  }
  const std::uint64_t end = message_.size() + fragment.data.size();
  if (end > total_) return refuse(PadpAssembly::past_total, end, total_);
  message_.insert(message_.end(), fragment.data.begin(), fragment.data.end());
  if ((header.flags & kPadpLast) == 0) return PadpAssembly::more;
  if (message_.size() != total_) return refuse(PadpAssembly::short_of_total, message_.size(), total_);
  is_open_ = false;
  return PadpAssembly::done;
}

std::vector<std::uint8_t> PadpReassembler::take() {
  is_open_ = false;
  return std::exchange(message_, {});
}

void PadpReassembler::reset() {
  message_.clear();
  is_open_ = false;
}

PadpAssembly PadpReassembler::refuse(PadpAssembly status, std::uint64_t refused, std::uint64_t expected) {
  refused_ = refused;
  expected_ = expected;
  reset();
  return status;
}

}  // namespace vellora::linux_host
