// SLP and PADP packets; see serial_frames.h.
#include "tests/support/fake_handheld/serial_frames.h"

#include <algorithm>

#include "base/byte_order.h"

namespace vellora::testing {

namespace {

constexpr std::uint8_t kSignature[] = {0xBE, 0xEF, 0xED};
constexpr std::size_t kSizeAt = 6;
constexpr std::size_t kChecksumAt = 9;

std::uint8_t header_checksum(const std::uint8_t* header) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < kChecksumAt; ++i) sum += header[i];
  return static_cast<std::uint8_t>(sum);
}

}  // namespace

std::uint16_t crc16_xmodem(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : bytes) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc =
          (crc & 0x8000) != 0 ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

std::vector<std::uint8_t> slp_packet(std::uint8_t type, std::uint8_t xid, std::span<const std::uint8_t> body) {
  std::vector<std::uint8_t> out(kSlpHeaderBytes + body.size() + kSlpCrcBytes);
  std::copy(std::begin(kSignature), std::end(kSignature), out.begin());
  out[3] = kSlpDlpSocket;
  out[4] = kSlpDlpSocket;
  out[5] = type;
  put_be16(&out[kSizeAt], static_cast<std::uint16_t>(body.size()));
  out[8] = xid;
  out[kChecksumAt] = header_checksum(out.data());
  std::copy(body.begin(), body.end(), out.begin() + kSlpHeaderBytes);
  const std::size_t crc_at = kSlpHeaderBytes + body.size();
  put_be16(&out[crc_at], crc16_xmodem(std::span(out).first(crc_at)));
  return out;
}

void SlpReader::feed(std::span<const std::uint8_t> bytes) {
  if (start_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<SlpPacket> SlpReader::next() {
  for (;;) {
    const auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
    const auto signature = std::search(from, buffer_.end(), std::begin(kSignature), std::end(kSignature));
    start_ = static_cast<std::size_t>(signature - buffer_.begin());
    // Keep a partial signature at the end for the next feed.
    if (signature == buffer_.end()) start_ = buffer_.size() - std::min<std::size_t>(buffer_.size() - start_, 2);
    const std::size_t left = buffer_.size() - start_;
    if (signature == buffer_.end() || left < kSlpHeaderBytes) return std::nullopt;
    const std::uint8_t* header = buffer_.data() + start_;
    if (header_checksum(header) != header[kChecksumAt]) {
      ++dropped_;
      ++start_;
      continue;
    }
    const std::size_t body_bytes = get_be16(header + kSizeAt);
    const std::size_t total = kSlpHeaderBytes + body_bytes + kSlpCrcBytes;
    if (left < total) return std::nullopt;
    const std::size_t crc_at = kSlpHeaderBytes + body_bytes;
    if (crc16_xmodem(std::span(header, crc_at)) != get_be16(header + crc_at)) {
      ++dropped_;
      ++start_;
      continue;
    }
    SlpPacket packet{.destination = header[3],
                     .source = header[4],
                     .type = header[5],
                     .xid = header[8],
                     .body = {header + kSlpHeaderBytes, header + crc_at}};
    start_ += total;
    return packet;
  }
}

std::optional<PadpHeader> decode_padp(std::span<const std::uint8_t> body) {
  if (body.size() < 4) return std::nullopt;
  PadpHeader header{.type = body[0], .flags = body[1], .size_or_offset = get_be16(&body[2]), .header_bytes = 4};
  if ((header.flags & kPadpLong) != 0) {
    if (body.size() < 6) return std::nullopt;
    header.size_or_offset = get_be32(&body[2]);
    header.header_bytes = 6;
  }
  return header;
}

std::vector<std::uint8_t> padp_body(std::uint8_t type, std::uint8_t flags, std::uint32_t size_or_offset,
                                    std::span<const std::uint8_t> data) {
  const bool is_long = (flags & kPadpLong) != 0;
  std::vector<std::uint8_t> out(is_long ? 6 : 4);
  out[0] = type;
  out[1] = flags;
  if (is_long)
    put_be32(&out[2], size_or_offset);
  else
    put_be16(&out[2], static_cast<std::uint16_t>(size_or_offset));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace vellora::testing
