// Wire and the descriptors it runs on: poll-based reads and writes with
// deadlines, TCP connections made without blocking past a deadline, and
// pty pairs whose slave's first opening is seen through inotify.
#include "tests/support/fake_handheld/wire.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vellora::testing {

namespace {

constexpr int kBitsPerByte = 10;  // start bit, eight data bits, stop bit
constexpr auto kConnectRetryPause = std::chrono::milliseconds(50);

// Waits until `fd` can do `events` or the deadline passes: 1 when it can,
// 0 at the deadline, -1 with errno on failure.
int wait_for(int fd, short events, Deadline deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - FakeClock::now());
    if (left.count() <= 0) return 0;
    pollfd one{fd, events, 0};
    const int ready = ::poll(&one, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready > 0) return 1;
  }
}

bool is_hang_up(int error) { return error == EPIPE || error == ECONNRESET || error == EIO || error == ENXIO; }

}  // namespace

Wire::Wire(int fd, WireShaping shaping) : fd_(fd), shaping_(shaping) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void Wire::pace(std::size_t bytes) const {
  if (shaping_.bits_per_second == 0) return;
  const auto us = static_cast<long long>(bytes) * kBitsPerByte * 1'000'000 / shaping_.bits_per_second;
  std::this_thread::sleep_for(std::chrono::microseconds(us));
}

WireStatus Wire::read_some(std::span<std::uint8_t> out, Deadline deadline, std::size_t& got) {
  got = 0;
  for (;;) {
    const int ready = wait_for(fd_, POLLIN, deadline);
    if (ready == 0) return WireStatus::timed_out;
    if (ready < 0) break;
    const ssize_t n = ::read(fd_, out.data(), out.size());
    if (n > 0) {
      got = static_cast<std::size_t>(n);
      pace(got);
      return WireStatus::ok;
    }
    if (n == 0) return WireStatus::closed;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    if (is_hang_up(errno)) return WireStatus::closed;
    break;
  }
  error_ = errno;
  return WireStatus::failed;
}

WireStatus Wire::write_all(std::span<const std::uint8_t> bytes, Deadline deadline) {
  if (shaping_.chunk_bytes == 0) return write_piece(bytes, deadline);
  while (!bytes.empty()) {
    const std::size_t n = std::min(shaping_.chunk_bytes, bytes.size());
    if (const auto status = write_piece(bytes.first(n), deadline); status != WireStatus::ok) return status;
    bytes = bytes.subspan(n);
    if (!bytes.empty()) std::this_thread::sleep_for(shaping_.chunk_pause);
  }
  return WireStatus::ok;
}

WireStatus Wire::write_piece(std::span<const std::uint8_t> bytes, Deadline deadline) {
  pace(bytes.size());
  while (!bytes.empty()) {
    const int ready = wait_for(fd_, POLLOUT, deadline);
    if (ready == 0) return WireStatus::timed_out;
    if (ready < 0) break;
    // send() keeps a closed socket from raising SIGPIPE; a pty takes write().
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n < 0 && is_hang_up(errno)) return WireStatus::closed;
    break;
  }
  if (bytes.empty()) return WireStatus::ok;
  error_ = errno;
  return WireStatus::failed;
}

linux_host::UniqueFd connect_tcp(const std::string& host, std::uint16_t port, Deadline deadline, std::string& error) {
  const std::string where = host + ":" + std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); status != 0) {
    error = where + ": " + ::gai_strerror(status);
    return {};
  }
  int last_error = 0;
  for (;;) {
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
      linux_host::UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
      if (!fd.is_open()) {
        last_error = errno;
        continue;
      }
      if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
        last_error = errno;
        continue;
      }
      if (wait_for(fd.get(), POLLOUT, deadline) <= 0) {
        last_error = ETIMEDOUT;
        continue;
      }
      int so_error = 0;
      socklen_t size = sizeof so_error;
      if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &so_error, &size) != 0) so_error = errno;
      if (so_error == 0) {
        ::freeaddrinfo(found);
        return fd;
      }
      last_error = so_error;
    }
    if (FakeClock::now() + kConnectRetryPause >= deadline) break;
    std::this_thread::sleep_for(kConnectRetryPause);
  }
  ::freeaddrinfo(found);
  error = where + ": cannot connect: " + std::strerror(last_error);
  return {};
}

Pty open_pty(std::string& error) {
  Pty pty;
  pty.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.master.is_open() || ::grantpt(pty.master.get()) != 0 || ::unlockpt(pty.master.get()) != 0) {
    error = std::string("cannot open a pty: ") + std::strerror(errno);
    return {};
  }
  char name[256];
  if (::ptsname_r(pty.master.get(), name, sizeof name) != 0) {
    error = std::string("cannot name the pty's slave: ") + std::strerror(errno);
    return {};
  }
  pty.slave_path = name;
  pty.slave.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  termios raw{};
  if (!pty.slave.is_open() || ::tcgetattr(pty.slave.get(), &raw) != 0) {
    error = pty.slave_path + ": " + std::strerror(errno);
    return {};
  }
  ::cfmakeraw(&raw);
  if (::tcsetattr(pty.slave.get(), TCSANOW, &raw) != 0) {
    error = pty.slave_path + ": cannot make it raw: " + std::strerror(errno);
    return {};
  }
  // Watched after this side's own open, so every open reported is another's.
  linux_host::UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (watch.is_open() && ::inotify_add_watch(watch.get(), name, IN_OPEN) >= 0) pty.open_watch = std::move(watch);
  return pty;
}

bool wait_for_pty_peer(Pty& pty, Deadline deadline) {
  if (!pty.open_watch.is_open()) return true;
  for (;;) {
    const int ready = wait_for(pty.open_watch.get(), POLLIN, deadline);
    if (ready <= 0) return false;
    alignas(inotify_event) std::uint8_t events[4096];
    const long got = linux_host::read_once(pty.open_watch.get(), events);
    if (got > 0) break;  // the watch asks for opens only
    if (got < 0 && errno != EAGAIN) return false;
  }
  pty.open_watch.reset();
  pty.slave.reset();
  return true;
}

}  // namespace vellora::testing
