// fake-handheld: the fake handheld as a program, for scripts and
// benchmarks that drive a desktop in another process. It connects to the
// desktop over TCP, or opens a pty and prints the slave's path on its
// first line, runs one session, then dumps its card. Exit status 0 when
// the session reached EndOfSync, 1 otherwise.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/fake_handheld/fake_handheld.h"

namespace {

using vellora::testing::FakeHandheld;
using vellora::testing::FakeHandheldOptions;
using vellora::testing::FakeLink;
using vellora::testing::Hostility;
using vellora::testing::InjectedError;
using vellora::testing::Malformation;

// A number in decimal or, with 0x, in hex.
std::optional<std::uint64_t> number_of(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "FUNCTION:ERROR" or "FUNCTION:ERROR:NTH".
std::optional<InjectedError> injected_error_of(const std::string& text) {
  std::vector<std::uint64_t> parts;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t colon = std::min(text.find(':', at), text.size());
    const auto value = number_of(std::string_view(text).substr(at, colon - at));
    if (!value) return std::nullopt;
    parts.push_back(*value);
    at = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 3 || parts[0] > 0x7F || parts[1] > 0xFFFF ||
      (parts.size() == 3 && parts[2] > 1'000'000))
    return std::nullopt;
  return InjectedError{.function = static_cast<std::uint8_t>(parts[0]),
                       .error = static_cast<std::uint16_t>(parts[1]),
                       .nth_call = parts.size() == 3 ? static_cast<int>(parts[2]) : 0};
}

int fail(const std::string& message) {
  std::cerr << "fake-handheld: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "A fake handheld: plays the handheld's side of one HotSync session against a desktop,\n"
      "answering from a card seeded with a folder of .pdb files, with faults on demand."};
  FakeHandheldOptions options;
  std::string seed, dump, connect, pty, dlp_version = "1.2", rom_version, malformation = "garbage", hostility;
  std::vector<std::string> errors;
  double connect_seconds = 10, timeout_seconds = 30;
  int delay_ms = 0, late_ms = 0, chunk_pause_ms = 2, ack_timeout_ms = 2000;
  std::string hostile_error = "0x01";
  bool is_drop_before = false;

  app.add_option("--seed", seed,
                 "Folder of .pdb files (and handheld.conf) the card starts with (default: an empty card)");
  app.add_option("--dump", dump, "Folder to write the card to when the session is over");
  app.add_option("--connect", connect, "HOST:PORT of a desktop listening for NetSync");
  app.add_option("--pty", pty, "Open a pty, print its slave's path, and speak this on it")
      ->check(CLI::IsMember({"serial", "netsync"}));
  app.add_option("--connect-timeout", connect_seconds,
                 "Seconds to keep trying to connect, or to wait for the pty to be opened (default: 10)")
      ->check(CLI::Range(0.0, 3600.0));
  app.add_option("--timeout", timeout_seconds, "Seconds to wait for each request, as a handheld does (default: 30)")
      ->check(CLI::Range(0.0, 3600.0));
  app.add_option("--dlp-version", dlp_version,
                 "DLP version reported, MAJOR.MINOR (default: 1.2; 1.1 has no FindDB or SetDBInfo)");
  app.add_option("--rom-version", rom_version, "ROM version reported, 0xMMmfsbbb (default: 0x04103000)");
  app.add_option("--user", options.identity.user_name, "User name reported (default: Fake User)");
  app.add_flag("--cancel-sync", options.is_sync_cancelled, "Answer OpenConduit with CANCEL_SYNC");
  app.add_option("--drop-at", options.faults.drop_at_request,
                 "Drop the link at request N (1 = the first after the handshake)");
  app.add_flag("--drop-before", is_drop_before,
               "With --drop-at: drop the request without carrying it out (default: carry it out, never answer)");
  app.add_option(
      "--error", errors,
      "Answer ERROR to FUNCTION instead of carrying it out: FUNCTION:ERROR[:NTH], e.g. 0x21:0x10:2 (repeatable)");
  app.add_option("--delay-ms", delay_ms, "Wait this long before every answer")->check(CLI::Range(0, 3'600'000));
  app.add_option("--late-at", options.faults.late_at_request, "Answer request N late, by --late-ms");
  app.add_option("--late-ms", late_ms, "How late --late-at answers")->check(CLI::Range(0, 3'600'000));
  app.add_option("--malformed-at", options.faults.malformed_at_request, "Answer request N with malformed bytes");
  app.add_option("--malformed", malformation, "What --malformed-at sends (default: garbage)")
      ->check(CLI::IsMember({"garbage", "wrong-function", "truncated"}));
  app.add_option("--hostile", hostility, "Behave as a hostile handheld")
      ->check(CLI::IsMember({"garbage-handshake", "huge-length", "wrong-xids", "error-everywhere", "silence"}));
  app.add_option("--hostile-error", hostile_error, "Error code of --hostile error-everywhere (default: 0x01)");
  app.add_flag("--headerless", options.is_first_message_headerless,
               "NetSync: send the first message without its 6-byte header");
  app.add_option("--chunk-bytes", options.write_chunk_bytes, "Write every message in pieces of this many bytes");
  app.add_option("--chunk-pause-ms", chunk_pause_ms, "Pause between pieces (default: 2)")->check(CLI::Range(0, 10'000));
  app.add_option("--bps", options.bits_per_second,
                 "Serial: top rate offered, and pace every byte as a UART would at the agreed rate");
  app.add_option("--ack-timeout-ms", ack_timeout_ms, "Serial: wait for each fragment's ack (default: 2000)")
      ->check(CLI::Range(1, 600'000));
  CLI11_PARSE(app, argc, argv);

  if (connect.empty() == pty.empty()) return fail("give one of --connect HOST:PORT and --pty serial|netsync");
  const auto dot = dlp_version.find('.');
  const auto major = number_of(std::string_view(dlp_version).substr(0, dot));
  const auto minor = dot == std::string::npos ? std::nullopt : number_of(std::string_view(dlp_version).substr(dot + 1));
  if (!major || !minor || *major > 0xFF || *minor > 0xFF)
    return fail("--dlp-version: expected MAJOR.MINOR, got " + dlp_version);
  options.identity.dlp_major = static_cast<std::uint16_t>(*major);
  options.identity.dlp_minor = static_cast<std::uint16_t>(*minor);
  if (!rom_version.empty()) {
    const auto rom = number_of(rom_version);
    if (!rom || *rom > 0xFFFFFFFF) return fail("--rom-version: not a 32-bit number: " + rom_version);
    options.identity.rom_version = static_cast<std::uint32_t>(*rom);
  }
  for (const auto& text : errors) {
    const auto injected = injected_error_of(text);
    if (!injected) return fail("--error: expected FUNCTION:ERROR[:NTH], got " + text);
    options.faults.errors.push_back(*injected);
  }
  const auto hostile_code = number_of(hostile_error);
  if (!hostile_code || *hostile_code > 0xFFFF) return fail("--hostile-error: not a 16-bit number: " + hostile_error);
  options.faults.hostile_error = static_cast<std::uint16_t>(*hostile_code);
  options.faults.drop_mode =
      is_drop_before ? vellora::testing::DropMode::before_carrying_out : vellora::testing::DropMode::after_carrying_out;
  options.faults.answer_delay = std::chrono::milliseconds(delay_ms);
  options.faults.late_delay = std::chrono::milliseconds(late_ms);
  options.faults.malformation = malformation == "truncated"        ? Malformation::truncated
                                : malformation == "wrong-function" ? Malformation::wrong_function
                                                                   : Malformation::garbage;
  options.faults.hostility = hostility == "garbage-handshake"  ? Hostility::garbage_handshake
                             : hostility == "huge-length"      ? Hostility::huge_length
                             : hostility == "wrong-xids"       ? Hostility::wrong_xids
                             : hostility == "error-everywhere" ? Hostility::error_everywhere
                             : hostility == "silence"          ? Hostility::silence
                                                               : Hostility::none;
  options.chunk_pause = std::chrono::milliseconds(chunk_pause_ms);
  options.ack_timeout = std::chrono::milliseconds(ack_timeout_ms);
  options.command_timeout = std::chrono::milliseconds(static_cast<long long>(timeout_seconds * 1000));
  options.seed = seed;
  options.on_fault = [](const std::string& line) { std::cerr << "fake-handheld: fault: " << line << std::endl; };

  FakeHandheld handheld(options);
  if (!handheld.seed_error().empty()) return fail(handheld.seed_error());
  const auto connect_deadline =
      vellora::testing::FakeClock::now() + std::chrono::milliseconds(static_cast<long long>(connect_seconds * 1000));

  vellora::testing::SessionOutcome outcome;
  if (!connect.empty()) {
    const auto colon = connect.rfind(':');
    const auto port =
        colon == std::string::npos ? std::nullopt : number_of(std::string_view(connect).substr(colon + 1));
    if (!port || *port == 0 || *port > 0xFFFF) return fail("--connect: expected HOST:PORT, got " + connect);
    std::string error;
    auto fd = vellora::testing::connect_tcp(connect.substr(0, colon), static_cast<std::uint16_t>(*port),
                                            connect_deadline, error);
    if (!fd.is_open()) return fail(error);
    outcome = handheld.serve_netsync(fd.get());
  } else {
    std::string error;
    auto link = vellora::testing::open_pty(error);
    if (!link.master.is_open()) return fail(error);
    std::cout << link.slave_path << std::endl;
    if (!vellora::testing::wait_for_pty_peer(link, connect_deadline))
      outcome = {vellora::testing::SessionEnd::timed_out, "nobody opened " + link.slave_path};
    else
      outcome = handheld.serve(pty == "serial" ? FakeLink::serial : FakeLink::netsync, link.master.get());
  }
  // The link is closed by now: the descriptor and the pty went with their scope.
  if (!outcome.has_reached_end_of_sync())
    std::cerr << "fake-handheld: session " << vellora::testing::session_end_name(outcome.end) << ": " << outcome.text
              << "\n";
  if (!dump.empty()) {
    std::string error;
    if (!handheld.dump(dump, error)) return fail(error);
  }
  return outcome.has_reached_end_of_sync() ? 0 : 1;
}
