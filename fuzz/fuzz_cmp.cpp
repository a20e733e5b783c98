// A handheld's bytes on a serial link, whatever they are: CMP messages are
// decoded within their bytes, and the serial link opens over a socket pair
// and runs an exchange and a tickle with the input as everything the
// handheld sent before hanging up. It must end, within short deadlines,
// with a result or a failure in words, never a crash or a hang.
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hosts/linux/hotsync/cmp.h"
#include "hosts/linux/hotsync/serial_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora::linux_host;
  using namespace std::chrono_literals;
  const std::span<const std::uint8_t> input(data, size);
  if (const auto message = decode_cmp(input)) {
    // Everything but the reserved bytes reads back.
    const CmpBytes again = encode_cmp(*message);
    if (!std::equal(again.begin(), again.begin() + 4, input.begin()) ||
        !std::equal(again.begin() + 6, again.end(), input.begin() + 6))
      std::abort();
  }

  std::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
  const UniqueFd handheld(fds[1]);
  ::shutdown(handheld.get(), SHUT_WR);  // the handheld said all it had to say
  LinkStream stream{UniqueFd(fds[0])};
  const LinkTimeouts timeouts{20ms, 5ms, 2};
  // At 9,600 bps no speed switch pauses the run.
  SerialLink link(stream, timeouts, 9600, nullptr, {input.begin(), input.end()});
  const auto began = LinkClock::now();
  if (link.open(began + 20ms)) {
    std::vector<std::uint8_t> response;
    const std::uint8_t request[] = {0x12, 0x01, 0x20, 0x04, 0x00, 0x01, 0x00, 0x04};
    if (link.exchange(request, response) && response.size() > kPadpMostMessageBytes) std::abort();
    (void)link.tickle();
  }
  if (link.failure() != LinkFailure::none && link.error_text().empty()) std::abort();
  if (LinkClock::now() - began > 2s) std::abort();
  return 0;
}
