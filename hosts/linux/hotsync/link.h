// The link to a handheld beneath DLP: a byte stream (a TCP connection, a
// serial port, a USB cradle's tty) and the protocol that carries one DLP
// request or response over it. The desktop asks and the handheld answers,
// one exchange at a time; every wait has a deadline, so a handheld that
// falls silent costs a timeout, never a hang.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hosts/linux/posix_io.h"

namespace vellora::linux_host {

using LinkClock = std::chrono::steady_clock;
using LinkDeadline = LinkClock::time_point;

// How long the desktop waits. A handheld gives up after 30 s without a
// command and answers far sooner, so 30 s without an answer means it is
// gone.
struct LinkTimeouts {
  std::chrono::milliseconds reply{30'000};  // for a whole response
  std::chrono::milliseconds ack{2'000};     // serial: for one fragment's ack
  int retries = 10;                         // serial: sends of one fragment
};

enum class LinkFailure {
  none,
  timed_out,  // nothing, or too little, within the deadline
  closed,     // the handheld hung up
  broken,     // bytes no handheld sends (a bad frame, length or checksum)
  io,         // the system refused a read or write
};

// A descriptor read and written with deadlines. Reads return what has
// arrived, in whatever pieces the link delivers; writes send every byte.
class LinkStream {
 public:
  explicit LinkStream(UniqueFd fd) : fd_(std::move(fd)) {}
  int fd() const { return fd_.get(); }
  // Some bytes (at most out.size()) by the deadline: the count, or 0 with
  // failure() set.
  std::size_t read_some(std::span<std::uint8_t> out, LinkDeadline deadline);
  bool write_all(std::span<const std::uint8_t> bytes, LinkDeadline deadline);
  LinkFailure failure() const { return failure_; }
  int error_number() const { return errno_; }

 private:
  UniqueFd fd_;
  bool is_socket_ = true;  // until a send says otherwise
  LinkFailure failure_ = LinkFailure::none;
  int errno_ = 0;
};

// One protocol over one stream, after its opening handshake.
class HotSyncLink {
 public:
  virtual ~HotSyncLink() = default;
  // Sends a DLP request and waits for the response, whose bytes replace
  // `response`. False when none came: failure() and error_text() say why,
  // and the link is then unusable.
  virtual bool exchange(std::span<const std::uint8_t> request, std::vector<std::uint8_t>& response) = 0;
  // Tells the handheld the desktop is still there during long work between
  // requests. Not acknowledged; false only when the link is gone.
  virtual bool tickle() = 0;
  virtual LinkFailure failure() const = 0;
  // Why the last exchange failed, in words: "no answer within 30 s",
  // "the handheld hung up", "a SLP packet with a bad checksum", ...
  virtual std::string error_text() const = 0;
  // "NetSync" or "serial".
  virtual const char* protocol_name() const = 0;
};

}  // namespace vellora::linux_host
