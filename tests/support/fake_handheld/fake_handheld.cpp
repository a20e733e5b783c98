// FakeHandheld: one session is the link's handshake, then requests read,
// answered by the DLP server and sent back, one at a time, with the faults
// asked for applied between those steps. Every wait has the handheld's
// command timeout as its deadline.
#include "tests/support/fake_handheld/fake_handheld.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>
#include <utility>

#include "base/ascii.h"
#include "tests/support/fake_handheld/channel.h"

namespace vellora::testing {

namespace {

constexpr std::uint32_t kDefaultMostBitsPerSecond = 115'200;
// Bytes no handheld opens with: neither a NetSync header nor an SLP
// signature.
constexpr std::array<std::uint8_t, 16> kGarbage = {0x00, 0x5A, 0xA5, 0xFF, 0x13, 0x37, 0xC0, 0xDE,
                                                   0x00, 0x00, 0x42, 0x99, 0xFE, 0xED, 0x0B, 0xAD};
// An answer no function gives: its first byte lacks the answer flag.
constexpr std::array<std::uint8_t, 10> kGarbageAnswer = {0x00, 0xFF, 0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11, 0x22, 0x33};

std::string hex16(std::uint16_t value) {
  std::string text = "0x";
  append_hex_byte(text, static_cast<unsigned char>(value >> 8));
  append_hex_byte(text, static_cast<unsigned char>(value & 0xFF));
  return text;
}

SessionOutcome outcome_of(const LinkResult& result) {
  switch (result.status) {
    case LinkStatus::ok:
    case LinkStatus::closed: return {SessionEnd::closed, result.text};
    case LinkStatus::timed_out: return {SessionEnd::timed_out, result.text};
    case LinkStatus::broken: return {SessionEnd::broken, result.text};
    case LinkStatus::failed: return {SessionEnd::failed, result.text};
  }
  return {SessionEnd::failed, result.text};
}

std::vector<std::uint8_t> malformed(std::vector<std::uint8_t> answer, Malformation kind, std::uint8_t function) {
  switch (kind) {
    case Malformation::garbage: return {kGarbageAnswer.begin(), kGarbageAnswer.end()};
    case Malformation::wrong_function:
      answer[0] = static_cast<std::uint8_t>(((function + 1) & 0x7F) | kDlpAnswerFlag);
      return answer;
    case Malformation::truncated: answer.resize(answer.size() / 2); return answer;
  }
  return answer;
}

const char* malformation_name(Malformation kind) {
  switch (kind) {
    case Malformation::garbage: return "garbage";
    case Malformation::wrong_function: return "an answer to another function";
    case Malformation::truncated: return "a truncated answer";
  }
  return "";
}

}  // namespace

LinkResult wire_failure(const Wire& wire, WireStatus status, const std::string& waiting_for) {
  switch (status) {
    case WireStatus::timed_out: return {LinkStatus::timed_out, "timed out waiting for " + waiting_for};
    case WireStatus::closed:
      return {LinkStatus::closed, "the desktop hung up while the handheld waited for " + waiting_for};
    case WireStatus::ok:
    case WireStatus::failed: break;
  }
  return {LinkStatus::failed, "waiting for " + waiting_for + ": " + std::strerror(wire.error_number())};
}

std::string session_end_name(SessionEnd end) {
  switch (end) {
    case SessionEnd::end_of_sync: return "end of sync";
    case SessionEnd::closed: return "closed";
    case SessionEnd::timed_out: return "timed out";
    case SessionEnd::broken: return "broken";
    case SessionEnd::dropped: return "dropped";
    case SessionEnd::failed: return "failed";
  }
  return "";
}

FakeHandheld::FakeHandheld(FakeHandheldOptions options)
    : options_(std::move(options)), server_(store_, options_.identity, options_.is_sync_cancelled) {
  if (!options_.seed.empty() && !store_.seed(options_.seed, seed_error_)) store_ = FakeStore{};
}

void FakeHandheld::fire(const std::string& line) {
  fired_faults_.push_back(line);
  if (options_.on_fault) options_.on_fault(line);
}

SessionOutcome FakeHandheld::serve(FakeLink link, int fd) {
  Wire wire(fd, WireShaping{.chunk_bytes = options_.write_chunk_bytes,
                            .chunk_pause = options_.chunk_pause,
                            .bits_per_second = options_.bits_per_second});
  const ChannelSettings settings{
      .has_wrong_xids = options_.faults.hostility == Hostility::wrong_xids,
      .is_first_message_headerless = options_.is_first_message_headerless,
      .ack_timeout = options_.ack_timeout,
      .ack_retries = options_.ack_retries,
      .wakeup_interval = options_.wakeup_interval,
      .most_bits_per_second = options_.bits_per_second != 0 ? options_.bits_per_second : kDefaultMostBitsPerSecond};
  const auto channel =
      link == FakeLink::netsync ? make_netsync_channel(wire, settings) : make_serial_channel(wire, settings);
  server_.begin_session();
  calls_.clear();
  SessionOutcome outcome = run(wire, *channel);
  server_.end_session();
  // A socket shut down shows the desktop the hang-up at once, whoever
  // still holds the descriptor; a pty's master must be closed instead.
  if (outcome.end == SessionEnd::dropped) (void)::shutdown(fd, SHUT_RDWR);
  return outcome;
}

SessionOutcome FakeHandheld::run(Wire& wire, Channel& channel) {
  const FakeFaults& faults = options_.faults;
  const auto deadline = [&] { return FakeClock::now() + options_.command_timeout; };
  switch (faults.hostility) {
    case Hostility::silence: fire("silence: connected and sending nothing"); return drain(wire);
    case Hostility::garbage_handshake:
      fire("garbage sent instead of the handshake");
      if (const auto status = wire.write_all(kGarbage, deadline()); status != WireStatus::ok)
        return outcome_of(wire_failure(wire, status, "the desktop to take the garbage"));
      return drain(wire);
    case Hostility::wrong_xids: fire("answering under transaction ids the desktop did not use"); break;
    default: break;
  }
  if (const auto opened = channel.open(deadline()); !opened) return outcome_of(opened);

  for (int n = 1;; ++n) {
    std::vector<std::uint8_t> request;
    if (const auto received = channel.receive(request, deadline()); !received) return outcome_of(received);
    const std::uint8_t function = request.empty() ? 0 : request[0];
    functions_.push_back(function);
    if (function == kDlpEndOfSync) has_received_end_of_sync_ = true;
    const int call = ++calls_[function];
    const std::string what = "request " + std::to_string(n) + " (" + dlp_function_name(function) + ")";

    if (faults.drop_at_request == n && faults.drop_mode == DropMode::before_carrying_out) {
      fire("dropped the link at " + what + " without carrying it out");
      return {SessionEnd::dropped, "dropped at " + what};
    }
    std::vector<std::uint8_t> answer;
    const auto injected = std::find_if(faults.errors.begin(), faults.errors.end(), [&](const InjectedError& e) {
      return e.function == function && (e.nth_call == 0 || e.nth_call == call);
    });
    if (injected != faults.errors.end()) {
      fire("answered error " + hex16(injected->error) + " to " + what);
      answer = dlp_error_answer(function, injected->error);
    } else if (faults.hostility == Hostility::error_everywhere) {
      fire("answered error " + hex16(faults.hostile_error) + " to " + what);
      answer = dlp_error_answer(function, faults.hostile_error);
    } else {
      answer = server_.answer(request);
    }
    if (faults.drop_at_request == n && faults.drop_mode == DropMode::after_carrying_out) {
      fire("dropped the link at " + what + " after carrying it out");
      return {SessionEnd::dropped, "dropped at " + what};
    }
    if (faults.malformed_at_request == n) {
      fire(std::string("answered ") + malformation_name(faults.malformation) + " to " + what);
      answer = malformed(std::move(answer), faults.malformation, function);
    }
    if (faults.answer_delay.count() > 0) std::this_thread::sleep_for(faults.answer_delay);
    if (faults.late_at_request == n) {
      fire("answered " + what + " " + std::to_string(faults.late_delay.count()) + " ms late");
      std::this_thread::sleep_for(faults.late_delay);
    }
    LinkResult sent;
    if (faults.hostility == Hostility::huge_length && n == 1) {
      fire("announced 4 GiB in the answer to " + what);
      sent = channel.send_huge(answer, deadline());
    } else {
      sent = channel.send(answer, deadline());
    }
    if (!sent) return outcome_of(sent);
    if (server_.has_ended()) return {SessionEnd::end_of_sync, "EndOfSync answered"};
  }
}

SessionOutcome FakeHandheld::drain(Wire& wire) {
  const Deadline deadline = FakeClock::now() + options_.command_timeout;
  for (;;) {
    std::array<std::uint8_t, 4096> chunk;
    std::size_t got = 0;
    if (const auto status = wire.read_some(chunk, deadline, got); status != WireStatus::ok)
      return outcome_of(wire_failure(wire, status, "the desktop to give up"));
  }
}

std::future<SessionOutcome> serve_in_background(FakeHandheld& handheld, FakeLink link, linux_host::UniqueFd fd) {
  return std::async(std::launch::async, [&handheld, link, fd = std::move(fd)]() mutable {
    SessionOutcome outcome = handheld.serve(link, fd.get());
    fd.reset();
    return outcome;
  });
}

std::future<SessionOutcome> serve_pty_in_background(FakeHandheld& handheld, FakeLink link, Pty pty,
                                                    Deadline open_deadline) {
  return std::async(std::launch::async, [&handheld, link, pty = std::move(pty), open_deadline]() mutable {
    SessionOutcome outcome{SessionEnd::timed_out, "the desktop never opened " + pty.slave_path};
    if (wait_for_pty_peer(pty, open_deadline)) outcome = handheld.serve(link, pty.master.get());
    pty.master.reset();
    pty.slave.reset();
    return outcome;
  });
}

}  // namespace vellora::testing
