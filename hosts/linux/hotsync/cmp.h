// CMP, the first message of a serial HotSync: the handheld's wakeup says
// which CMP version it speaks, the fastest rate it can take and whether it
// reads long PADP packets; the desktop's init answers with the rate both
// then use, and an abort refuses a handheld it cannot talk to. Every CMP
// message is a 10-byte PADP message: type, flags, major and minor
// version, two reserved bytes, and a rate in bits per second.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vellora::linux_host {

inline constexpr std::size_t kCmpBytes = 10;

inline constexpr std::uint8_t kCmpWakeup = 1;  // handheld to desktop
inline constexpr std::uint8_t kCmpInit = 2;    // desktop to handheld
inline constexpr std::uint8_t kCmpAbort = 3;

inline constexpr std::uint8_t kCmpWakeupLongPackets = 0x10;  // the handheld reads long PADP headers
inline constexpr std::uint8_t kCmpInitChangeSpeed = 0x80;
inline constexpr std::uint8_t kCmpInitLongPackets = 0x10;
inline constexpr std::uint8_t kCmpAbortVersion = 0x80;  // the handheld's version is not one we speak

// The version this desktop speaks; a handheld of another major version
// is refused.
inline constexpr std::uint8_t kCmpMajor = 1;
inline constexpr std::uint8_t kCmpMinor = 1;
// Every serial session starts at this rate.
inline constexpr std::uint32_t kCmpFirstSpeed = 9600;

struct CmpMessage {
  std::uint8_t type = 0;
  std::uint8_t flags = 0;
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  std::uint32_t speed_bps = 0;  // wakeup: the fastest the handheld takes; init: the rate to use
};

using CmpBytes = std::array<std::uint8_t, kCmpBytes>;

CmpBytes encode_cmp(const CmpMessage& message);
// The message in a PADP message's bytes, or nothing when they are too few.
// Bytes past the tenth are ignored.
std::optional<CmpMessage> decode_cmp(std::span<const std::uint8_t> bytes);

CmpBytes cmp_wakeup(std::uint32_t most_bps, std::uint8_t flags);
CmpBytes cmp_init(std::uint32_t bps, std::uint8_t flags);
CmpBytes cmp_abort(std::uint8_t flags);

// The rate both ends can take: the lower of the two, rounded down to a
// standard serial rate, and never below the first rate.
std::uint32_t cmp_agreed_speed(std::uint32_t handheld_most_bps, std::uint32_t desktop_most_bps);

}  // namespace vellora::linux_host
