// Where the desktop meets a handheld: `--device net[:[ADDRESS:]PORT]`, a
// TCP port the handheld connects to (network HotSync), or the path of a
// tty (a serial cradle, or a USB cradle's tty). Either way the handheld
// starts the session: the desktop waits, reads what comes first, and
// chooses the protocol by it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hosts/linux/hotsync/link.h"

namespace vellora::linux_host {

inline constexpr std::uint16_t kNetSyncPort = 14238;
inline constexpr std::uint32_t kDefaultSerialSpeed = 115200;

struct DeviceAddress {
  bool is_network = false;
  std::string address;  // network: empty for every address
  std::uint16_t port = kNetSyncPort;
  std::string tty;  // otherwise: the tty's path
};

// Reads the --device value; nullopt, with `why`, when it is neither form.
std::optional<DeviceAddress> parse_device(std::string_view text, std::string& why);
// "port 14238 (every address)", "127.0.0.1 port 5000", "/dev/ttyUSB1".
std::string device_text(const DeviceAddress& device);

// A handheld's session once its protocol's opening is done: the stream
// and the link that speaks over it.
struct HandheldConnection {
  std::unique_ptr<LinkStream> stream;
  std::unique_ptr<HotSyncLink> link;
  std::string peer;  // "192.168.2.5", or the tty's path
};

// Waits for handhelds at one place. A network place is a listening socket
// kept open between sessions, so a handheld that connects early waits in
// the queue; a tty is opened anew for each session, as a USB cradle's
// tty appears only while its handheld syncs.
class HandheldPlace {
 public:
  HandheldPlace(DeviceAddress device, LinkTimeouts timeouts, std::uint32_t most_speed = kDefaultSerialSpeed);
  ~HandheldPlace();
  HandheldPlace(const HandheldPlace&) = delete;
  HandheldPlace& operator=(const HandheldPlace&) = delete;

  // Starts listening (network) or checks the tty can be opened. False
  // with `why` ("cannot listen on port 14238: Address already in use").
  bool prepare(std::string& why);
  // The next handheld, its opening done; `deadline` empty waits for ever.
  // nullptr with `why` when none came or its opening failed; `timed_out`
  // tells a wait that ran out from a handheld that failed.
  std::unique_ptr<HandheldConnection> accept(std::optional<LinkDeadline> deadline, std::string& why, bool& timed_out);
  // The network port actually bound (for port 0 in tests).
  std::uint16_t bound_port() const { return bound_port_; }
  const DeviceAddress& device() const { return device_; }

 private:
  std::unique_ptr<HandheldConnection> accept_network(std::optional<LinkDeadline> deadline, std::string& why,
                                                     bool& timed_out);
  std::unique_ptr<HandheldConnection> accept_tty(std::optional<LinkDeadline> deadline, std::string& why,
                                                 bool& timed_out);

  DeviceAddress device_;
  LinkTimeouts timeouts_;
  std::uint32_t most_speed_;
  UniqueFd listener_;
  std::uint16_t bound_port_ = 0;
};

// Puts a tty in raw mode at `speed` bits per second; false with errno.
bool set_tty_raw(int fd, std::uint32_t speed);
bool set_tty_speed(int fd, std::uint32_t speed);

}  // namespace vellora::linux_host
