// Whole sync sessions with a handheld over HotSync, the conduit on one end
// and the fake handheld on the other, in process: the DLP requests a sent
// document costs beyond its records, the time per record over a loopback
// NetSync connection, and one 100 KB document over a serial link paced as
// a 115,200 bps UART, against the time its bytes take on such a wire.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "bench/generated_text.h"
#include "conduit/catalog.h"
#include "conduit/entry_points.h"
#include "conduit/session.h"
#include "docmodel/records.h"
#include "hosts/linux/dl_text_converters.h"
#include "hosts/linux/hotsync/dlp_handheld.h"
#include "hosts/linux/hotsync/listen.h"
#include "hosts/linux/hotsync/netsync_link.h"
#include "hosts/linux/hotsync/serial_link.h"
#include "tests/support/fake_handheld/fake_handheld.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vellora::linux_host::UniqueFd;
using vellora::testing::FakeHandheld;
using vellora::testing::FakeHandheldOptions;
using vellora::testing::FakeLink;
using BenchClock = std::chrono::steady_clock;

// The request count: twenty small documents, sent new and then over
// themselves.
constexpr int kSmallDocuments = 20;
// Time per record: four documents of prose, about 2,900 records in all.
constexpr int kLongDocuments = 4;
constexpr std::size_t kLongDocumentBytes = 250'000;
// The serial figure.
constexpr std::size_t kSerialDocumentBytes = 100'000;
constexpr std::uint32_t kSerialBitsPerSecond = 115'200;
constexpr double kBitsPerByte = 10;  // start bit, eight data bits, stop bit

class BenchRegistry : public vellora::Registry {
 public:
  std::string send, receive;
  std::optional<std::string> read_string(vellora::RegistryHive, std::string_view,
                                         std::string_view value) const override {
    if (value == "FolderForSFiles") return send;
    if (value == "FolderForRFiles") return receive;
    return std::nullopt;
  }
  std::optional<std::uint32_t> read_dword(vellora::RegistryHive, std::string_view, std::string_view) const override {
    return 0;  // overwrite without asking
  }
};

class Quiet : public vellora::MessageBoxes, public vellora::HotSyncLog, public vellora::LanguageLibrary {
 public:
  int show(std::string_view, std::string_view, std::uint32_t) override { return vellora::kAnswerOk; }
  void add_entry(std::string_view, std::int32_t) override {}
  vellora::ModuleHandle load(std::string_view, vellora::ModuleHandle, int*) override { return 1; }
  void release(vellora::ModuleHandle, vellora::ModuleHandle) override {}
};

// A send and a receive folder, removed at the end.
struct Folders {
  Folders() {
    // Without a root, the paths below would name folders in the working directory.
    if (root.path().empty()) throw std::runtime_error("cannot make a temporary folder");
    fs::create_directories(send);
    fs::create_directories(receive);
  }
  // The send folder holds exactly `files` (name, content).
  void fill(const std::vector<std::pair<std::string, std::string>>& files) const {
    fs::remove_all(send);
    fs::create_directories(send);
    for (const auto& [name, text] : files) vellora::testing::write_file(send / name, text);
  }

  vellora::testing::TempDir root;
  fs::path send = root.path() / "send";
  fs::path receive = root.path() / "receive";
};

// What one session did: the files it sent, and why it failed if it did.
struct SessionResult {
  int sent = 0;
  std::string failure;
};

// One session over an opened link, as `vellora sync --device` runs it: the
// handheld's opening, the conduit's session, the log entry and EndOfSync.
SessionResult sync_session(vellora::linux_host::HotSyncLink& link, const Folders& folders) {
  SessionResult result;
  vellora::linux_host::DlpHandheld::Options options;
  options.own_creators = {vellora::kDocumentCreator, vellora::kCatalogCreator};
  vellora::linux_host::DlpHandheld handheld(link, options);
  if (!handheld.start()) {
    result.failure = handheld.last_error();
    return result;
  }
  BenchRegistry registry;
  registry.send = folders.send.string();
  registry.receive = folders.receive.string();
  Quiet quiet;
  vellora::linux_host::DlTextConverterLibrary converters;
  vellora::Conduit conduit(vellora::Platform{handheld, registry, quiet, quiet, quiet, converters});
  conduit.on_event = [&](const vellora::SessionEvent& event) {
    if (event.kind == vellora::SessionEventKind::sent) ++result.sent;
  };
  conduit.attach();
  const int manager = 0;
  vellora::OpenConduit(&manager, conduit);
  conduit.detach();
  if (!handheld.is_lost() && handheld.finish("Vellora: benchmark")) return result;
  result.failure = handheld.lost_text().empty() ? "EndOfSync was not answered" : handheld.lost_text();
  return result;
}

// The two ends of a new socket pair; false when the system has none to give.
bool socket_pair(UniqueFd& one, UniqueFd& other) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  one.reset(fds[0]);
  other.reset(fds[1]);
  return true;
}

// One session with `fake` at the other end of a socket pair, over NetSync.
SessionResult sync_over_socket_pair(FakeHandheld& fake, const Folders& folders) {
  UniqueFd desktop, handheld;
  if (!socket_pair(desktop, handheld)) return {0, "no socket pair"};
  auto served = vellora::testing::serve_in_background(fake, FakeLink::netsync, std::move(handheld));
  SessionResult result;
  {
    vellora::linux_host::LinkStream stream{std::move(desktop)};
    const vellora::linux_host::LinkTimeouts timeouts;
    vellora::linux_host::NetSyncLink link(stream, timeouts);
    result = link.open(vellora::linux_host::LinkClock::now() + timeouts.reply) ? sync_session(link, folders)
                                                                               : SessionResult{0, link.error_text()};
  }  // the desktop hangs up, so the fake's session ends
  served.get();
  return result;
}

std::size_t records_of(const FakeHandheld& fake, const std::string& name) {
  const auto* db = fake.store().find(name);
  return db == nullptr ? 0 : db->records.size();
}

std::size_t record_bytes_of(const FakeHandheld& fake, const std::string& name) {
  std::size_t bytes = 0;
  if (const auto* db = fake.store().find(name))
    for (const auto& record : db->records) bytes += record.data.size();
  return bytes;
}

// How often each DLP function was asked for in a session.
std::map<std::uint8_t, int> function_counts(const FakeHandheld& fake) {
  std::map<std::uint8_t, int> counts;
  for (const std::uint8_t function : fake.functions()) ++counts[function];
  return counts;
}

// What a session of `documents` cost beyond an empty one, per document,
// function by function: "FindDB 1, CreateDB 1, WriteRecord 3.5".
std::string per_document_mix(const FakeHandheld& session, const FakeHandheld& empty, int documents) {
  std::map<std::uint8_t, int> extra = function_counts(session);
  for (const auto& [function, count] : function_counts(empty)) extra[function] -= count;
  std::string text;
  for (const auto& [function, count] : extra) {
    if (count == 0) continue;
    char per[32];
    std::snprintf(per, sizeof per, "%g", static_cast<double>(count) / documents);
    text += (text.empty() ? "" : ", ") + vellora::testing::dlp_function_name(function) + " " + per;
  }
  return text;
}

// Documents of one to three paragraphs, told apart by `edition`.
std::vector<std::pair<std::string, std::string>> small_documents(const std::string& edition) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < kSmallDocuments; ++i) {
    std::string text;
    for (int paragraph = 0; paragraph <= i % 3; ++paragraph)
      text += edition + " note " + std::to_string(i) + ", paragraph " + std::to_string(paragraph) +
              ": a few words of ordinary text to lay out on the handheld.\n";
    files.emplace_back("note-" + std::to_string(i) + ".txt", std::move(text));
  }
  return files;
}

// Sessions counted, not timed: an empty one, twenty new documents, an
// empty one with those on the card, and twenty that replace them. Each
// counter is the requests a document cost beyond the empty session's,
// less the document's records: the fixed part of its cost.
void BM_HotSyncRequestsPerDocument(benchmark::State& state) {
  Folders folders;
  const fs::path card = folders.root.path() / "card";
  for (auto _ : state) {
    folders.fill({});
    FakeHandheld empty({});
    const SessionResult idle = sync_over_socket_pair(empty, folders);
    folders.fill(small_documents("First"));
    FakeHandheld fresh({});
    const SessionResult sent_new = sync_over_socket_pair(fresh, folders);
    std::string error;
    if (!fresh.dump(card, error)) {
      state.SkipWithError(("cannot keep the card: " + error).c_str());
      break;
    }
    FakeHandheldOptions seeded;
    seeded.seed = card;
    folders.fill({});
    FakeHandheld empty_seeded(seeded);
    const SessionResult idle_seeded = sync_over_socket_pair(empty_seeded, folders);
    folders.fill(small_documents("Second"));
    FakeHandheld replacing(seeded);
    const SessionResult sent_again = sync_over_socket_pair(replacing, folders);
    std::string failure;
    for (const SessionResult* result : {&idle, &sent_new, &idle_seeded, &sent_again})
      if (failure.empty()) failure = result->failure;
    if (failure.empty() && (sent_new.sent != kSmallDocuments || sent_again.sent != kSmallDocuments))
      failure = "not every document was sent";
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      break;
    }
    std::size_t new_records = 0, replacing_records = 0;
    for (const auto& [name, text] : small_documents({})) {
      new_records += records_of(fresh, name);
      replacing_records += records_of(replacing, name);
    }
    const auto fixed = [](std::size_t requests, std::size_t idle_requests, std::size_t records) {
      return (static_cast<double>(requests) - static_cast<double>(idle_requests) - static_cast<double>(records)) /
             kSmallDocuments;
    };
    state.counters["new_fixed"] = fixed(fresh.request_count(), empty.request_count(), new_records);
    state.counters["replaced_fixed"] =
        fixed(replacing.request_count(), empty_seeded.request_count(), replacing_records);
    state.counters["records_per_doc"] = static_cast<double>(new_records) / kSmallDocuments;
    state.counters["empty_session"] = static_cast<double>(empty.request_count());
    state.SetLabel("new: " + per_document_mix(fresh, empty, kSmallDocuments) +
                   "; replaced: " + per_document_mix(replacing, empty_seeded, kSmallDocuments));
  }
}
BENCHMARK(BM_HotSyncRequestsPerDocument)->Unit(benchmark::kMillisecond)->Iterations(1);

// Four documents of prose over a TCP connection on the loopback interface,
// the desktop listening as `--device net:127.0.0.1:0` does: the time of
// the whole session, connection to EndOfSync, per record written.
void BM_HotSyncNetSyncPerRecord(benchmark::State& state) {
  Folders folders;
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < kLongDocuments; ++i)
    files.emplace_back("prose-" + std::to_string(i) + ".txt", vellora::bench::generate_text(kLongDocumentBytes));
  vellora::linux_host::DeviceAddress device;
  device.is_network = true;
  device.address = "127.0.0.1";
  device.port = 0;
  const vellora::linux_host::LinkTimeouts timeouts;
  vellora::linux_host::HandheldPlace place(device, timeouts);
  std::string why;
  if (!place.prepare(why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  std::size_t records = 0, requests = 0;
  double total_s = 0;
  for (auto _ : state) {
    folders.fill(files);
    FakeHandheld fake({});
    const auto start = BenchClock::now();
    const auto connect_by = start + 5s;
    UniqueFd fd = vellora::testing::connect_tcp("127.0.0.1", place.bound_port(), connect_by, why);
    if (!fd.is_open()) {
      state.SkipWithError(why.c_str());
      break;
    }
    auto served = vellora::testing::serve_in_background(fake, FakeLink::netsync, std::move(fd));
    SessionResult result;
    {
      bool timed_out = false;
      const auto connection = place.accept(connect_by, why, timed_out);
      result = connection ? sync_session(*connection->link, folders) : SessionResult{0, why};
    }
    served.get();
    const double session_s = std::chrono::duration<double>(BenchClock::now() - start).count();
    state.SetIterationTime(session_s);
    total_s += session_s;
    if (!result.failure.empty() || result.sent != kLongDocuments) {
      state.SkipWithError(result.failure.empty() ? "not every document was sent" : result.failure.c_str());
      break;
    }
    records = 0;
    for (const auto& [name, text] : files) records += records_of(fake, name);
    requests = fake.request_count();
  }
  state.counters["records"] = static_cast<double>(records);
  state.counters["requests"] = static_cast<double>(requests);
  if (records > 0) state.counters["us_per_record"] = total_s * 1e6 / static_cast<double>(records * state.iterations());
}
BENCHMARK(BM_HotSyncNetSyncPerRecord)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

// Carries bytes both ways between the desktop's socket and the handheld's,
// counting them: what travels over the wire, framing and acks included.
class CountingRelay {
 public:
  CountingRelay(UniqueFd desktop, UniqueFd handheld)
      : desktop_(std::move(desktop)), handheld_(std::move(handheld)), thread_([this] { run(); }) {}
  ~CountingRelay() { wait(); }
  CountingRelay(const CountingRelay&) = delete;
  CountingRelay& operator=(const CountingRelay&) = delete;

  // Returns once either end has hung up.
  void wait() {
    if (thread_.joinable()) thread_.join();
  }
  std::uint64_t bytes() const { return bytes_.load(); }

 private:
  void run() {
    std::array<std::uint8_t, 65536> buffer;
    for (;;) {
      pollfd ends[2] = {{desktop_.get(), POLLIN, 0}, {handheld_.get(), POLLIN, 0}};
      if (::poll(ends, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      bool is_open = true;
      for (int from = 0; from < 2 && is_open; ++from) {
        if (ends[from].revents == 0) continue;
        const int to = from == 0 ? handheld_.get() : desktop_.get();
        const long got = vellora::linux_host::read_once(ends[from].fd, buffer);
        is_open = got > 0 && send_all(to, std::span(buffer).first(static_cast<std::size_t>(got)));
        if (got > 0) bytes_ += static_cast<std::uint64_t>(got);
      }
      if (!is_open) break;
    }
    // Either end's hang-up reaches the other.
    desktop_.reset();
    handheld_.reset();
  }

  // A write to an end that has hung up fails instead of raising SIGPIPE.
  static bool send_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
      const ssize_t put = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      bytes = bytes.subspan(static_cast<std::size_t>(put));
    }
    return true;
  }

  UniqueFd desktop_;
  UniqueFd handheld_;
  std::atomic<std::uint64_t> bytes_{0};
  std::thread thread_;
};

// One 100 KB text document sent over the serial stack to a handheld that
// offers 115,200 bps and paces its end as a UART at the agreed rate: the
// whole session, from the wakeup at 9,600 bps to EndOfSync, against the
// time the bytes that crossed the wire take at 115,200 bps.
void BM_HotSyncSerial100KB(benchmark::State& state) {
  Folders folders;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"serial.txt", vellora::bench::generate_text(kSerialDocumentBytes)}};
  std::uint64_t wire_bytes = 0, opening_bytes = 0;
  double opening_s = 0, total_s = 0;
  std::size_t records = 0, record_bytes = 0;
  for (auto _ : state) {
    folders.fill(files);
    FakeHandheldOptions options;
    options.bits_per_second = kSerialBitsPerSecond;
    FakeHandheld fake(options);
    // desktop <-> relay <-> handheld
    UniqueFd desktop, relay_desktop, relay_handheld, handheld;
    if (!socket_pair(desktop, relay_desktop) || !socket_pair(relay_handheld, handheld)) {
      state.SkipWithError("no socket pair");
      break;
    }
    CountingRelay relay(std::move(relay_desktop), std::move(relay_handheld));
    const auto start = BenchClock::now();
    auto served = vellora::testing::serve_in_background(fake, FakeLink::serial, std::move(handheld));
    SessionResult result;
    {
      vellora::linux_host::LinkStream stream{std::move(desktop)};
      const vellora::linux_host::LinkTimeouts timeouts;
      // A socket has no rate to set: the agreed one is only told to the handheld.
      vellora::linux_host::SerialLink link(stream, timeouts, kSerialBitsPerSecond, {});
      if (!link.open(vellora::linux_host::LinkClock::now() + timeouts.reply)) {
        result.failure = link.error_text();
      } else if (link.speed() != kSerialBitsPerSecond) {
        result.failure = "agreed " + std::to_string(link.speed()) + " bps";
      } else {
        opening_s = std::chrono::duration<double>(BenchClock::now() - start).count();
        opening_bytes = relay.bytes();
        result = sync_session(link, folders);
      }
    }
    served.get();
    const double session_s = std::chrono::duration<double>(BenchClock::now() - start).count();
    state.SetIterationTime(session_s);
    total_s += session_s;
    relay.wait();
    if (!result.failure.empty() || result.sent != 1) {
      state.SkipWithError(result.failure.empty() ? "the document was not sent" : result.failure.c_str());
      break;
    }
    wire_bytes = relay.bytes();
    records = records_of(fake, files.front().first);
    record_bytes = record_bytes_of(fake, files.front().first);
  }
  const double wire_s = static_cast<double>(wire_bytes) * kBitsPerByte / kSerialBitsPerSecond;
  state.counters["records"] = static_cast<double>(records);
  state.counters["record_bytes"] = static_cast<double>(record_bytes);
  state.counters["wire_bytes"] = static_cast<double>(wire_bytes);
  state.counters["opening_bytes"] = static_cast<double>(opening_bytes);
  state.counters["opening_ms"] = opening_s * 1e3;
  state.counters["wire_s"] = wire_s;
  // The session's mean time over its bytes' time on the wire; the target
  // is at most 1.25.
  if (wire_s > 0) state.counters["ratio"] = total_s / static_cast<double>(state.iterations()) / wire_s;
}
// One session takes some 17 s.
BENCHMARK(BM_HotSyncSerial100KB)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace
