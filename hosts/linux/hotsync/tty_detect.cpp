// Telling the serial stack from NetSync on a tty; see tty_detect.h.
#include "hosts/linux/hotsync/tty_detect.h"

#include <algorithm>
#include <array>

#include "base/byte_order.h"
#include "hosts/linux/hotsync/netsync_frames.h"
#include "hosts/linux/hotsync/slp_padp.h"

namespace vellora::linux_host {
namespace {

enum class Match { no, too_few, yes };

constexpr std::uint8_t kSlpSignature[] = {0xBE, 0xEF, 0xED};
// The NetSync handshake's first message as some devices send it, without
// its header.
constexpr std::uint8_t kBareHandshake[] = {0x90, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20};
// A NetSync header and the first payload byte.
constexpr std::size_t kNetSyncProbeBytes = kNetSyncHeaderBytes + 1;

Match prefix_match(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> pattern) {
  const std::size_t present = std::min(bytes.size(), pattern.size());
  if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(present), pattern.begin()))
    return Match::no;
  return present == pattern.size() ? Match::yes : Match::too_few;
}

// The handshake's first message with its header: data, any xid, a length
// that fits one byte but is not 0, then the message's first byte.
Match netsync_match(std::span<const std::uint8_t> bytes) {
  const std::size_t present = std::min(bytes.size(), kNetSyncProbeBytes);
  for (std::size_t i = 0; i < present; ++i) {
    const std::uint8_t byte = bytes[i];
    const bool fits = i == 0   ? byte == kNetSyncData
                      : i == 1 ? true
                      : i < 5  ? byte == 0
                      : i == 5 ? byte != 0
                               : byte == kHandshakeFirstByte;
    if (!fits) return Match::no;
  }
  return present == kNetSyncProbeBytes ? Match::yes : Match::too_few;
}

bool has_good_checksum(std::span<const std::uint8_t> header) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < kSlpHeaderBytes - 1; ++i) sum += header[i];
  return static_cast<std::uint8_t>(sum) == header[kSlpHeaderBytes - 1];
}

bool is_wakeup_header(std::span<const std::uint8_t> header) {
  return header[3] == kSlpDlpSocket && header[4] == kSlpDlpSocket && header[5] == kSlpTypePadp &&
         header[8] == kSlpWakeupXid;
}

}  // namespace

TtyProtocol detect_tty_protocol(std::span<const std::uint8_t> bytes, std::size_t& skip, bool& need_more) {
  need_more = false;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::span<const std::uint8_t> rest = bytes.subspan(at);
    skip = at;
    const Match slp = prefix_match(rest, kSlpSignature);
    if (slp == Match::yes && rest.size() >= kSlpHeaderBytes && has_good_checksum(rest)) {
      if (rest[5] == kSlpTypeLoopBack) {
        const std::size_t packet_bytes = kSlpHeaderBytes + get_be16(rest.data() + 6) + kSlpCrcBytes;
        if (rest.size() < packet_bytes) break;
        at += packet_bytes;
        continue;
      }
      if (is_wakeup_header(rest)) return TtyProtocol::serial;
    }
    if (slp == Match::too_few || (slp == Match::yes && rest.size() < kSlpHeaderBytes)) break;
    const Match netsync = netsync_match(rest);
    const Match bare = prefix_match(rest, kBareHandshake);
    if (netsync == Match::yes || bare == Match::yes) return TtyProtocol::netsync;
    if (netsync == Match::too_few || bare == Match::too_few) break;
    ++at;
  }
  if (at < bytes.size()) {
    need_more = true;
    return TtyProtocol::unknown;
  }
  skip = bytes.size();
  return TtyProtocol::unknown;
}

TtyProtocol read_tty_protocol(LinkStream& stream, LinkDeadline deadline, std::vector<std::uint8_t>& stream_bytes) {
  stream_bytes.clear();
  for (;;) {
    std::size_t skip = 0;
    bool need_more = false;
    const TtyProtocol protocol = detect_tty_protocol(stream_bytes, skip, need_more);
    stream_bytes.erase(stream_bytes.begin(), stream_bytes.begin() + static_cast<std::ptrdiff_t>(skip));
    if (protocol != TtyProtocol::unknown) return protocol;
    std::array<std::uint8_t, 4096> buffer;
    const std::size_t got = stream.read_some(buffer, deadline);
    if (got == 0) return TtyProtocol::unknown;
    stream_bytes.insert(stream_bytes.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
  }
}

}  // namespace vellora::linux_host
