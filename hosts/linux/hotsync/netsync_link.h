// DLP over NetSync framing: network HotSync on TCP, and most USB cradles'
// ttys. The handheld opens with a five-message handshake whose contents
// nobody documents and every desktop replays; after it, each request
// carries the desktop's next transaction id and its response must echo it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hosts/linux/hotsync/link.h"
#include "hosts/linux/hotsync/netsync_frames.h"

namespace vellora::linux_host {

class NetSyncLink : public HotSyncLink {
 public:
  // `already_read`: bytes a caller read from the stream before choosing
  // this protocol, from the stream's start.
  NetSyncLink(LinkStream& stream, LinkTimeouts timeouts, std::span<const std::uint8_t> already_read = {});

  // Waits until `deadline` for the handheld's greeting and completes the
  // handshake. False with error_text() when it did not come or was not
  // HotSync's.
  bool open(LinkDeadline deadline);

  bool exchange(std::span<const std::uint8_t> request, std::vector<std::uint8_t>& response) override;
  bool tickle() override;
  LinkFailure failure() const override { return failure_; }
  std::string error_text() const override { return error_; }
  const char* protocol_name() const override { return "NetSync"; }

 private:
  bool send(std::span<const std::uint8_t> payload, LinkDeadline deadline);
  // The next data message, within the deadline.
  bool receive(NetSyncMessage& out, LinkDeadline deadline);
  bool fail(LinkFailure failure, std::string why);
  bool fail_stream(const char* doing);

  LinkStream& stream_;
  LinkTimeouts timeouts_;
  NetSyncReader reader_;
  std::uint8_t xid_ = 0;  // the last one the desktop used
  LinkFailure failure_ = LinkFailure::none;
  std::string error_;
};

}  // namespace vellora::linux_host
