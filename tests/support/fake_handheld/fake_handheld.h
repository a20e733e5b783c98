// A fake Palm OS handheld for tests and benchmarks of the desktop's
// HotSync code. It plays the handheld's side of a session on a connected
// descriptor, over NetSync (a TCP socket, or the tty of a USB cradle) or
// the serial stack (SLP, PADP and CMP on a tty), answers DLP from an
// in-memory card seeded from a folder of .pdb files, and misbehaves on
// demand: it drops the link, answers errors, late or malformed answers,
// or plays a hostile handheld. Tests read back what it was asked and what
// its card holds.
//
// Not thread-safe: run one session at a time, and look at the handheld
// once the session has ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "hosts/linux/posix_io.h"
#include "tests/support/fake_handheld/dlp_server.h"
#include "tests/support/fake_handheld/fake_store.h"
#include "tests/support/fake_handheld/wire.h"

namespace vellora::testing {

class Channel;

enum class FakeLink { netsync, serial };

enum class DropMode {
  after_carrying_out,   // the request takes effect, its answer is never sent
  before_carrying_out,  // the request is dropped unread
};

enum class Malformation {
  garbage,         // bytes that are no DLP answer
  wrong_function,  // an answer to another function
  truncated,       // the answer cut in half
};

enum class Hostility {
  none,
  garbage_handshake,  // bytes no handheld sends instead of the opening handshake
  huge_length,        // the first answer announces 4 GiB
  wrong_xids,         // every answer under a transaction id the desktop did not use
  error_everywhere,   // every request answered with hostile_error
  silence,            // connected, never a byte
};

// Answers `error` to `function` instead of carrying it out.
struct InjectedError {
  std::uint8_t function = 0;
  std::uint16_t error = kDlpErrSystem;
  int nth_call = 0;  // only the function's n-th call; 0: every call
};

// Requests are counted from 1, the first DLP request after the handshake;
// 0 means never.
struct FakeFaults {
  int drop_at_request = 0;
  DropMode drop_mode = DropMode::after_carrying_out;
  std::vector<InjectedError> errors;
  std::chrono::milliseconds answer_delay{0};  // before every answer
  int late_at_request = 0;
  std::chrono::milliseconds late_delay{0};
  int malformed_at_request = 0;
  Malformation malformation = Malformation::garbage;
  Hostility hostility = Hostility::none;
  std::uint16_t hostile_error = kDlpErrSystem;
};

struct FakeHandheldOptions {
  std::filesystem::path seed;  // a folder of .pdb files; empty: an empty 8 MiB card
  HandheldIdentity identity;
  bool is_sync_cancelled = false;  // OpenConduit answers CANCEL_SYNC
  FakeFaults faults;
  bool is_first_message_headerless = false;  // NetSync: as some USB handhelds send it
  std::size_t write_chunk_bytes = 0;         // every write cut into pieces of this size
  std::chrono::milliseconds chunk_pause{2};
  // The serial link's top rate, offered in the CMP wakeup; nonzero also
  // paces every link as a UART at the agreed rate would.
  std::uint32_t bits_per_second = 0;
  std::chrono::milliseconds command_timeout{30'000};  // a handheld's wait for the next request
  std::chrono::milliseconds ack_timeout{2'000};
  int ack_retries = 10;
  std::chrono::milliseconds wakeup_interval{500};
  // Told one line per fault as it fires.
  std::function<void(const std::string&)> on_fault;
};

enum class SessionEnd {
  end_of_sync,  // EndOfSync was answered
  closed,       // the desktop hung up
  timed_out,    // the desktop fell silent
  broken,       // the desktop sent what no desktop sends
  dropped,      // a fault dropped the link
  failed,       // the system refused a read or write
};

struct SessionOutcome {
  SessionEnd end = SessionEnd::closed;
  std::string text;  // how it ended, in words
  bool has_reached_end_of_sync() const { return end == SessionEnd::end_of_sync; }
};

class FakeHandheld {
 public:
  // Seeds the card from options.seed when set; seed_error() says what
  // went wrong, and the card is then empty.
  explicit FakeHandheld(FakeHandheldOptions options);

  const std::string& seed_error() const { return seed_error_; }

  // Runs one session on a connected descriptor, which stays the caller's,
  // until EndOfSync is answered, the link goes, or a fault ends it.
  // Databases left open are closed at the end.
  SessionOutcome serve(FakeLink link, int fd);
  SessionOutcome serve_netsync(int fd) { return serve(FakeLink::netsync, fd); }
  SessionOutcome serve_serial(int fd) { return serve(FakeLink::serial, fd); }

  bool dump(const std::filesystem::path& folder, std::string& error) const { return store_.dump(folder, error); }

  // What the desktop asked, in order: each request's function id.
  const std::vector<std::uint8_t>& functions() const { return functions_; }
  std::size_t request_count() const { return functions_.size(); }
  const std::vector<std::string>& log_entries() const { return server_.log_entries(); }
  bool has_received_end_of_sync() const { return has_received_end_of_sync_; }
  // One line per fault fired, as on_fault was told.
  const std::vector<std::string>& fired_faults() const { return fired_faults_; }
  FakeStore& store() { return store_; }
  const FakeStore& store() const { return store_; }

 private:
  SessionOutcome run(Wire& wire, Channel& channel);
  SessionOutcome drain(Wire& wire);
  void fire(const std::string& line);

  FakeHandheldOptions options_;
  FakeStore store_;
  DlpServer server_;
  std::string seed_error_;
  std::vector<std::uint8_t> functions_;
  std::map<std::uint8_t, int> calls_;  // per function, for InjectedError::nth_call
  bool has_received_end_of_sync_ = false;
  std::vector<std::string> fired_faults_;
};

// A session on its own thread, for in-process tests; the descriptor is
// closed when it ends, so the desktop sees the hang-up.
std::future<SessionOutcome> serve_in_background(FakeHandheld& handheld, FakeLink link, linux_host::UniqueFd fd);
// The same on a pty: waits until `open_deadline` for the desktop to open
// the slave, then serves on the master.
std::future<SessionOutcome> serve_pty_in_background(FakeHandheld& handheld, FakeLink link, Pty pty,
                                                    Deadline open_deadline);

// "end of sync", "closed", ...
std::string session_end_name(SessionEnd end);

}  // namespace vellora::testing
