// HotSync over a serial line, or over a USB cradle's tty that carries the
// same bytes: SLP packets carrying PADP fragments, opened by the CMP
// handshake. open() answers the handheld's wakeup at 9,600 bps, agrees a
// rate and whether long PADP packets are used, and only once the handheld
// has acknowledged that switches the port. Each exchange then sends a DLP
// request in acknowledged fragments, resending any whose ack does not
// come, and reads the response's fragments, acknowledging each. A handheld
// that sends garbage, repeats itself or falls silent costs a refusal or a
// timeout, never a hang.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hosts/linux/hotsync/link.h"
#include "hosts/linux/hotsync/slp_padp.h"

namespace vellora::linux_host {

class SerialLink : public HotSyncLink {
 public:
  // Sets the port's rate: false when the port refused it. An empty setter
  // means a port without a rate (a USB cradle's tty): the agreed rate is
  // then only told to the handheld.
  using SpeedSetter = std::function<bool(std::uint32_t bits_per_second)>;

  // `stream` must outlive the link. `already_read` holds bytes read from
  // the stream before the link was made, by the protocol detection.
  SerialLink(LinkStream& stream, LinkTimeouts timeouts, std::uint32_t max_speed, SpeedSetter set_speed,
             std::vector<std::uint8_t> already_read = {});

  // The CMP handshake: waits until `deadline` for the handheld's wakeup,
  // then agrees the rate, the init waiting for its ack as any request
  // does. False when it failed: failure() and error_text() say why, and
  // the link is unusable.
  bool open(LinkDeadline deadline);
  // The rate agreed: 9,600 bps until open() agreed another.
  std::uint32_t speed() const { return speed_; }

  bool exchange(std::span<const std::uint8_t> request, std::vector<std::uint8_t>& response) override;
  bool tickle() override;
  LinkFailure failure() const override { return failure_; }
  std::string error_text() const override { return error_text_; }
  const char* protocol_name() const override { return "serial"; }

 private:
  struct Received {
    std::uint8_t xid = 0;
    PadpHeader header;
    std::vector<std::uint8_t> data;
  };
  // What tells a resent fragment from a new one.
  struct FragmentId {
    std::uint8_t xid = 0;
    std::uint8_t flags = 0;
    std::uint32_t size_or_offset = 0;
    bool operator==(const FragmentId&) const = default;
  };

  LinkFailure next_packet(LinkDeadline deadline, Received& out);
  bool send_message(std::uint8_t xid, std::span<const std::uint8_t> message);
  // What waiting for one fragment's acknowledgement came to; `failed` has
  // set the failure.
  enum class AckWait { acked, timed_out, failed };
  AckWait await_ack(std::uint8_t xid, const PadpPacket& fragment, bool is_fragmented, bool is_last);
  bool receive_message(std::uint8_t xid, std::vector<std::uint8_t>& out);
  bool write_padp(std::uint8_t xid, const PadpHeader& header, std::span<const std::uint8_t> data);
  bool acknowledge(const Received& packet);
  bool is_resent(const Received& packet) const;
  std::uint8_t next_xid();
  bool fail(LinkFailure failure, std::string text);
  bool fail_stream(LinkFailure failure, const char* doing);

  LinkStream& stream_;
  LinkTimeouts timeouts_;
  std::uint32_t max_speed_;
  SpeedSetter set_speed_;
  SlpReader reader_;
  // A response fragment that came in place of the request's lost ack.
  std::optional<Received> held_;
  // The handheld resends a fragment whose ack it missed; it gets the ack
  // again and the fragment is dropped.
  std::optional<FragmentId> last_received_;
  std::uint8_t xid_ = 0;
  bool is_long_ = false;
  std::uint32_t speed_;
  LinkFailure failure_ = LinkFailure::none;
  std::string error_text_;
};

}  // namespace vellora::linux_host
