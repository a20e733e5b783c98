// What the fake handheld's session needs from a link: its opening
// handshake, then one DLP request in and one answer out at a time. NetSync
// and the serial stack each implement it over a Wire.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tests/support/fake_handheld/wire.h"

namespace vellora::testing {

enum class LinkStatus {
  ok,
  timed_out,  // the desktop fell silent
  closed,     // the desktop hung up
  broken,     // the desktop sent what no desktop sends
  failed,     // the system refused a read or write
};

struct LinkResult {
  LinkStatus status = LinkStatus::ok;
  std::string text;  // why, in words, when not ok
  explicit operator bool() const { return status == LinkStatus::ok; }
};

struct ChannelSettings {
  bool has_wrong_xids = false;                   // answer with transaction ids the desktop did not use
  bool is_first_message_headerless = false;      // NetSync: the first message without its 6-byte header
  std::chrono::milliseconds ack_timeout{2'000};  // serial: wait for the ack of one fragment
  int ack_retries = 10;                          // serial: sends of one fragment
  std::chrono::milliseconds wakeup_interval{500};
  std::uint32_t most_bits_per_second = 115'200;  // serial: the rate offered in the wakeup
};

class Channel {
 public:
  virtual ~Channel() = default;
  // NetSync's handshake, or the serial stack's CMP exchange.
  virtual LinkResult open(Deadline deadline) = 0;
  virtual LinkResult receive(std::vector<std::uint8_t>& request, Deadline deadline) = 0;
  // Answers the request last received.
  virtual LinkResult send(std::span<const std::uint8_t> answer, Deadline deadline) = 0;
  // Answers it in a frame that announces 4 GiB, and waits for no
  // acknowledgement.
  virtual LinkResult send_huge(std::span<const std::uint8_t> answer, Deadline deadline) = 0;
};

std::unique_ptr<Channel> make_netsync_channel(Wire& wire, const ChannelSettings& settings);
std::unique_ptr<Channel> make_serial_channel(Wire& wire, const ChannelSettings& settings);

// The status of a wire that failed, as a link result.
LinkResult wire_failure(const Wire& wire, WireStatus status, const std::string& waiting_for);

}  // namespace vellora::testing
