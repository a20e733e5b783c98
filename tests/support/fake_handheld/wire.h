// The fake handheld's end of a byte stream: a connected descriptor read
// and written with deadlines, shaped on demand as slow or awkward links
// are (writes cut into small pieces, a UART's pace), and the two ways a
// test or script gets one: a TCP connection to the desktop, or a pty whose
// slave the desktop opens as the handheld's tty.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "hosts/linux/posix_io.h"

namespace vellora::testing {

using FakeClock = std::chrono::steady_clock;
using Deadline = FakeClock::time_point;

enum class WireStatus {
  ok,
  timed_out,  // nothing by the deadline
  closed,     // the desktop hung up
  failed,     // the system refused a read or write
};

struct WireShaping {
  std::size_t chunk_bytes = 0;  // write at most this many bytes at a time; 0: all at once
  std::chrono::milliseconds chunk_pause{2};
  // Sleep as a UART at this rate would per byte sent and received (ten
  // bits a byte); 0: no pacing.
  std::uint32_t bits_per_second = 0;
};

class Wire {
 public:
  // `fd` stays the caller's; it is made non-blocking.
  Wire(int fd, WireShaping shaping);

  int fd() const { return fd_; }
  // Some bytes, at most out.size(), by the deadline; `got` is their count.
  WireStatus read_some(std::span<std::uint8_t> out, Deadline deadline, std::size_t& got);
  WireStatus write_all(std::span<const std::uint8_t> bytes, Deadline deadline);
  // A serial link changes pace when the desktop agrees a new rate.
  void set_bits_per_second(std::uint32_t rate) { shaping_.bits_per_second = rate; }
  bool is_paced() const { return shaping_.bits_per_second != 0; }
  // The errno of the last failed call.
  int error_number() const { return error_; }

 private:
  void pace(std::size_t bytes) const;
  WireStatus write_piece(std::span<const std::uint8_t> bytes, Deadline deadline);

  int fd_;
  WireShaping shaping_;
  int error_ = 0;
};

// Connects to the desktop, retrying refused connections until the
// deadline, since the desktop may start listening a moment later. An empty
// descriptor and one line in `error` when none could be made.
linux_host::UniqueFd connect_tcp(const std::string& host, std::uint16_t port, Deadline deadline, std::string& error);

// A pty pair whose slave stands for the handheld's tty. The slave is put
// in raw mode, so that the line discipline neither echoes nor alters a
// byte, and stays open here until the desktop has opened it: a pty's
// master reads EIO while no one holds the slave.
struct Pty {
  linux_host::UniqueFd master;
  linux_host::UniqueFd slave;
  std::string slave_path;
  linux_host::UniqueFd open_watch;  // reports the desktop's open of the slave
};

// An empty master and one line in `error` on failure.
Pty open_pty(std::string& error);

// Waits until another program opens the slave, then closes this side's
// slave, so that the desktop's own close shows on the master as a hang-up.
// False at the deadline. Where the open cannot be watched, the slave is
// kept open and a hang-up shows only as silence.
bool wait_for_pty_peer(Pty& pty, Deadline deadline);

}  // namespace vellora::testing
