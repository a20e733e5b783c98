// CMP messages; see cmp.h.
#include "hosts/linux/hotsync/cmp.h"

#include <algorithm>

#include "base/byte_order.h"

namespace vellora::linux_host {
namespace {

// The rates a handheld and a serial port both know, slowest first.
constexpr std::uint32_t kStandardSpeeds[] = {9600, 19200, 38400, 57600, 115200, 230400};
static_assert(std::ranges::is_sorted(kStandardSpeeds) && kStandardSpeeds[0] == kCmpFirstSpeed);

}  // namespace

CmpBytes encode_cmp(const CmpMessage& message) {
  CmpBytes bytes{message.type, message.flags, message.major, message.minor, 0, 0};
  put_be32(bytes.data() + 6, message.speed_bps);
  return bytes;
}

std::optional<CmpMessage> decode_cmp(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kCmpBytes) return std::nullopt;
  return CmpMessage{bytes[0], bytes[1], bytes[2], bytes[3], get_be32(bytes.data() + 6)};
}

CmpBytes cmp_wakeup(std::uint32_t most_bps, std::uint8_t flags) {
  return encode_cmp({kCmpWakeup, flags, kCmpMajor, kCmpMinor, most_bps});
}

CmpBytes cmp_init(std::uint32_t bps, std::uint8_t flags) {
  return encode_cmp({kCmpInit, flags, kCmpMajor, kCmpMinor, bps});
}

CmpBytes cmp_abort(std::uint8_t flags) { return encode_cmp({kCmpAbort, flags, kCmpMajor, kCmpMinor, 0}); }

std::uint32_t cmp_agreed_speed(std::uint32_t handheld_most_bps, std::uint32_t desktop_most_bps) {
  const std::uint32_t most = std::min(handheld_most_bps, desktop_most_bps);
  std::uint32_t agreed = kCmpFirstSpeed;
  for (const std::uint32_t speed : kStandardSpeeds)
    if (speed <= most) agreed = speed;
  return agreed;
}

}  // namespace vellora::linux_host
