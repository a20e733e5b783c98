// Waiting for a handheld on a TCP port or a tty; see listen.h.
#include "hosts/linux/hotsync/listen.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <thread>

#include "hosts/linux/hotsync/netsync_link.h"
#include "hosts/linux/hotsync/serial_link.h"
#include "hosts/linux/hotsync/tty_detect.h"

namespace vellora::linux_host {
namespace {

constexpr std::string_view kNetworkWord = "net";
// How often a tty that does not exist yet is looked for: a USB cradle's
// appears when the user presses HotSync.
constexpr std::chrono::milliseconds kTtyPoll{200};

bool parse_port(std::string_view text, std::uint16_t& port) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

std::string errno_words(int error) { return std::strerror(error); }

// Whether a poll on `fd` for input came true before the deadline; an
// empty deadline waits for ever.
bool wait_readable(int fd, std::optional<LinkDeadline> deadline) {
  for (;;) {
    int wait_ms = 60'000;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - LinkClock::now()).count();
      if (left <= 0) return false;
      wait_ms = static_cast<int>(std::min<long long>(left, wait_ms));
    }
    pollfd one{fd, POLLIN, 0};
    const int ready = ::poll(&one, 1, wait_ms);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

speed_t speed_code(std::uint32_t speed) {
  switch (speed) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
  }
}

std::string peer_text(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = "";
  if (peer.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
  } else if (peer.ss_family == AF_INET6) {
    const auto& six = reinterpret_cast<const sockaddr_in6&>(peer);
    // An IPv4 handheld reaching a dual-stack socket, shown as IPv4.
    if (IN6_IS_ADDR_V4MAPPED(&six.sin6_addr))
      ::inet_ntop(AF_INET, six.sin6_addr.s6_addr + 12, text, sizeof text);
    else
      ::inet_ntop(AF_INET6, &six.sin6_addr, text, sizeof text);
  }
  return text;
}

}  // namespace

std::optional<DeviceAddress> parse_device(std::string_view text, std::string& why) {
  DeviceAddress device;
  if (text == kNetworkWord || text.starts_with("net:")) {
    device.is_network = true;
    if (text == kNetworkWord) return device;
    std::string_view rest = text.substr(kNetworkWord.size() + 1);
    const auto colon = rest.rfind(':');
    std::string_view port = rest;
    if (colon != std::string_view::npos) {
      device.address = std::string(rest.substr(0, colon));
      // "[::1]:5000": brackets keep an IPv6 address's colons apart.
      if (device.address.size() >= 2 && device.address.front() == '[' && device.address.back() == ']')
        device.address = device.address.substr(1, device.address.size() - 2);
      port = rest.substr(colon + 1);
      if (device.address.empty()) {
        why = "no address before the port in " + std::string(text);
        return std::nullopt;
      }
    }
    if (!parse_port(port, device.port)) {
      why = "not a port number: " + std::string(port) + " (net, net:PORT or net:ADDRESS:PORT)";
      return std::nullopt;
    }
    return device;
  }
  if (text.empty()) {
    why = "no device named: give net, net:PORT, net:ADDRESS:PORT or a tty's path";
    return std::nullopt;
  }
  device.tty = std::string(text);
  return device;
}

std::string device_text(const DeviceAddress& device) {
  if (!device.is_network) return device.tty;
  if (device.address.empty()) return "port " + std::to_string(device.port) + " (every address)";
  return device.address + " port " + std::to_string(device.port);
}

bool set_tty_raw(int fd, std::uint32_t speed) {
  termios mode{};
  if (::tcgetattr(fd, &mode) != 0) return false;
  ::cfmakeraw(&mode);
  mode.c_cflag |= CLOCAL | CREAD;
  mode.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  const speed_t code = speed_code(speed);
  if (code == 0 || ::cfsetispeed(&mode, code) != 0 || ::cfsetospeed(&mode, code) != 0) {
    errno = EINVAL;
    return false;
  }
  // No flush of what has arrived: a USB cradle's handheld may have sent
  // its greeting already, and sends it only once; noise is passed over
  // when the protocol is told from the first bytes.
  return ::tcsetattr(fd, TCSANOW, &mode) == 0;
}

bool set_tty_speed(int fd, std::uint32_t speed) {
  termios mode{};
  const speed_t code = speed_code(speed);
  if (code == 0) {
    errno = EINVAL;
    return false;
  }
  if (::tcgetattr(fd, &mode) != 0) return false;
  // Bytes already queued leave at the old speed first.
  ::tcdrain(fd);
  if (::cfsetispeed(&mode, code) != 0 || ::cfsetospeed(&mode, code) != 0) return false;
  return ::tcsetattr(fd, TCSANOW, &mode) == 0;
}

HandheldPlace::HandheldPlace(DeviceAddress device, LinkTimeouts timeouts, std::uint32_t most_speed)
    : device_(std::move(device)), timeouts_(timeouts), most_speed_(most_speed) {}

HandheldPlace::~HandheldPlace() = default;

bool HandheldPlace::prepare(std::string& why) {
  if (!device_.is_network) {
    struct stat about {};
    if (::stat(device_.tty.c_str(), &about) != 0) {
      if (errno == ENOENT) return true;  // a USB cradle's tty comes with the sync
      why = device_.tty + ": " + errno_words(errno);
      return false;
    }
    if (!S_ISCHR(about.st_mode)) {
      why = device_.tty + ": not a serial port or tty";
      return false;
    }
    if (::access(device_.tty.c_str(), R_OK | W_OK) != 0) {
      why = device_.tty + ": " + errno_words(errno) + " (a tty needs membership of its group, usually dialout)";
      return false;
    }
    return true;
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  hints.ai_family = device_.address.empty() ? AF_INET6 : AF_UNSPEC;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(device_.port);
  int status =
      ::getaddrinfo(device_.address.empty() ? nullptr : device_.address.c_str(), service.c_str(), &hints, &found);
  if (status != 0 && device_.address.empty()) {
    hints.ai_family = AF_INET;  // a machine without IPv6
    status = ::getaddrinfo(nullptr, service.c_str(), &hints, &found);
  }
  if (status != 0) {
    why = "cannot listen on " + device_text(device_) + ": " + ::gai_strerror(status);
    return false;
  }
  int error = 0;
  for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
    UniqueFd fd(::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol));
    if (!fd.is_open()) {
      error = errno;
      continue;
    }
    const int on = 1, off = 0;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Every address means IPv4 handhelds too.
    if (at->ai_family == AF_INET6 && device_.address.empty())
      ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    if (::bind(fd.get(), at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd.get(), 4) != 0) {
      error = errno;
      continue;
    }
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &size);
    bound_port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                                    : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    listener_ = std::move(fd);
    break;
  }
  ::freeaddrinfo(found);
  if (listener_.is_open()) return true;
  why = "cannot listen on " + device_text(device_) + ": " + errno_words(error);
  return false;
}

std::unique_ptr<HandheldConnection> HandheldPlace::accept(std::optional<LinkDeadline> deadline, std::string& why,
                                                          bool& timed_out) {
  timed_out = false;
  return device_.is_network ? accept_network(deadline, why, timed_out) : accept_tty(deadline, why, timed_out);
}

std::unique_ptr<HandheldConnection> HandheldPlace::accept_network(std::optional<LinkDeadline> deadline,
                                                                  std::string& why, bool& timed_out) {
  for (;;) {
    if (!wait_readable(listener_.get(), deadline)) {
      timed_out = true;
      why = "no handheld came within the time given";
      return nullptr;
    }
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.is_open()) {
      if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
      why = "cannot take the handheld's connection: " + errno_words(errno);
      return nullptr;
    }
    // One small request and its answer at a time: waiting to fill a packet
    // would only add delay.
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto connection = std::make_unique<HandheldConnection>();
    connection->peer = peer_text(peer);
    connection->stream = std::make_unique<LinkStream>(std::move(fd));
    auto link = std::make_unique<NetSyncLink>(*connection->stream, timeouts_);
    if (!link->open(LinkClock::now() + timeouts_.reply)) {
      why = connection->peer + ": " + link->error_text();
      return nullptr;
    }
    connection->link = std::move(link);
    return connection;
  }
}

std::unique_ptr<HandheldConnection> HandheldPlace::accept_tty(std::optional<LinkDeadline> deadline, std::string& why,
                                                              bool& timed_out) {
  UniqueFd fd;
  for (;;) {
    fd.reset(::open(device_.tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.is_open()) break;
    if (errno != ENOENT && errno != ENODEV && errno != ENXIO) {
      why = device_.tty + ": " + errno_words(errno);
      return nullptr;
    }
    if (deadline && LinkClock::now() + kTtyPoll > *deadline) {
      timed_out = true;
      why = "no handheld came within the time given";
      return nullptr;
    }
    std::this_thread::sleep_for(kTtyPoll);
  }
  if (!::isatty(fd.get()) || !set_tty_raw(fd.get(), 9600)) {
    why = device_.tty + ": cannot set up the tty: " + errno_words(errno);
    return nullptr;
  }
  auto connection = std::make_unique<HandheldConnection>();
  connection->peer = device_.tty;
  connection->stream = std::make_unique<LinkStream>(std::move(fd));
  LinkStream& stream = *connection->stream;

  // The first bytes say which stack the handheld speaks.
  std::vector<std::uint8_t> seen;
  const LinkDeadline wait_until = deadline ? *deadline : LinkClock::now() + std::chrono::hours(24 * 365);
  const TtyProtocol protocol = read_tty_protocol(stream, wait_until, seen);
  if (protocol == TtyProtocol::unknown) {
    timed_out = stream.failure() == LinkFailure::timed_out;
    why = timed_out ? "no handheld came within the time given"
                    : device_.tty + ": " +
                          (stream.failure() == LinkFailure::closed ? std::string("the tty went away")
                                                                   : errno_words(stream.error_number()));
    return nullptr;
  }
  const LinkDeadline open_by = LinkClock::now() + timeouts_.reply;
  if (protocol == TtyProtocol::netsync) {
    auto link = std::make_unique<NetSyncLink>(stream, timeouts_, seen);
    if (!link->open(open_by)) {
      why = device_.tty + ": " + link->error_text();
      return nullptr;
    }
    connection->link = std::move(link);
  } else {
    const int tty = stream.fd();
    auto link = std::make_unique<SerialLink>(
        stream, timeouts_, most_speed_, [tty](std::uint32_t speed) { return set_tty_speed(tty, speed); }, seen);
    if (!link->open(open_by)) {
      why = device_.tty + ": " + link->error_text();
      return nullptr;
    }
    connection->link = std::move(link);
  }
  return connection;
}

}  // namespace vellora::linux_host
