// Deadlined reads and writes; see link.h.
#include "hosts/linux/hotsync/link.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vellora::linux_host {
namespace {

// Waits until the descriptor can do `events` or the deadline passes.
// Returns 1 when it can, 0 at the deadline, -1 with errno on failure.
int wait_for(int fd, short events, LinkDeadline deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - LinkClock::now());
    if (left.count() <= 0) return 0;
    pollfd one{fd, events, 0};
    const int ready = ::poll(&one, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready == 0) continue;  // the loop checks the deadline again
    return 1;
  }
}

}  // namespace

std::size_t LinkStream::read_some(std::span<std::uint8_t> out, LinkDeadline deadline) {
  failure_ = LinkFailure::none;
  if (out.empty()) return 0;
  for (;;) {
    const int ready = wait_for(fd_.get(), POLLIN, deadline);
    if (ready == 0) {
      failure_ = LinkFailure::timed_out;
      return 0;
    }
    if (ready < 0) break;
    const ssize_t got = ::read(fd_.get(), out.data(), out.size());
    if (got > 0) return static_cast<std::size_t>(got);
    if (got == 0) {
      failure_ = LinkFailure::closed;
      return 0;
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    // A tty whose device went away, and a pty whose other end closed.
    if (errno == EIO || errno == ECONNRESET || errno == ENXIO) {
      failure_ = LinkFailure::closed;
      return 0;
    }
    break;
  }
  failure_ = LinkFailure::io;
  errno_ = errno;
  return 0;
}

bool LinkStream::write_all(std::span<const std::uint8_t> bytes, LinkDeadline deadline) {
  failure_ = LinkFailure::none;
  while (!bytes.empty()) {
    const int ready = wait_for(fd_.get(), POLLOUT, deadline);
    if (ready == 0) {
      failure_ = LinkFailure::timed_out;
      return false;
    }
    if (ready < 0) break;
    // On a socket whose peer has gone a write must fail, not raise SIGPIPE.
    ssize_t put = is_socket_ ? ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) : -1;
    if (is_socket_ && put < 0 && errno == ENOTSOCK) is_socket_ = false;
    if (!is_socket_) put = ::write(fd_.get(), bytes.data(), bytes.size());
    if (put > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(put));
      continue;
    }
    if (put < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (put < 0 && (errno == EPIPE || errno == ECONNRESET || errno == EIO || errno == ENXIO)) {
      failure_ = LinkFailure::closed;
      return false;
    }
    break;
  }
  if (bytes.empty()) return true;
  failure_ = LinkFailure::io;
  errno_ = errno;
  return false;
}

}  // namespace vellora::linux_host
