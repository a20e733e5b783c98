// `vellora sync`: one conduit session on this machine, with settings from
// a registry file, questions on the terminal and the HotSync log in a
// file. The handheld is a folder of .pdb files, or with --device a real
// one over HotSync. Exit status: 0, 1 when the session could not run or
// the handheld was lost, 3 when it ran but reported problems.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <system_error>

#include "conduit/catalog.h"
#include "conduit/entry_points.h"
#include "conduit/settings.h"
#include "docmodel/records.h"
#include "docmodel/staging.h"
#include "hosts/linux/dl_text_converters.h"
#include "hosts/linux/folder_lock.h"
#include "hosts/linux/language_stand_in.h"
#include "hosts/linux/log_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "hosts/linux/registry_file.h"
#include "hosts/linux/terminal_message_box.h"
#include "hosts/linux/terminal_text.h"
#include "hosts/linux/xdg_paths.h"
#include "tools/encoding_option.h"
#include "tools/fail.h"
#include "tools/handheld_link.h"
#include "tools/registry_option.h"
#include "tools/subcommand.h"

namespace vellora::cli {

namespace fs = std::filesystem;

namespace {

struct SyncOptions {
  std::string registry;  // empty: the default registry file
  std::string handheld;  // empty: the default handheld folder
  std::string answer = "no";
  std::string log;            // empty: the default log file
  double wait_seconds = 10;   // for another session to release a shared folder
  std::string encoding;       // empty: TextEncoding from the registry file, else the locale
  DeviceOptions link;         // a real handheld instead of a folder, when link.device is set
  bool keep_running = false;  // serve handheld after handheld until stopped
};

// The exit status of a session that ran but reported problems (a file
// sent but not deleted, a damaged catalog, ...), each on stderr; 1 stays
// the status of a session that could not run.
constexpr int kExitSessionProblems = 3;

struct Tally {
  int sent = 0, kept = 0, received = 0, skipped = 0, problems = 0;
  std::set<std::string> sent_files;
};

// Problems are errors: they go to stderr, and a file sent whose problem
// followed (it could not be deleted) counts as a problem, not as sent.
void print_event(const SessionEvent& event, Tally& tally) {
  const char* word = "";
  switch (event.kind) {
    case SessionEventKind::converting: word = "convert"; break;
    case SessionEventKind::sent:
      word = "sent";
      ++tally.sent;
      tally.sent_files.insert(event.subject);
      break;
    case SessionEventKind::kept:
      word = "kept";
      ++tally.kept;
      break;
    case SessionEventKind::received:
      word = "received";
      ++tally.received;
      break;
    case SessionEventKind::skipped:
      word = "skipped";
      ++tally.skipped;
      break;
    case SessionEventKind::removed: word = "deleted"; break;
    case SessionEventKind::problem:
      word = "problem";
      ++tally.problems;
      if (tally.sent_files.erase(event.subject) != 0) --tally.sent;
      break;
    case SessionEventKind::idle: word = "idle"; break;
  }
  const char* joint = event.kind == SessionEventKind::sent || event.kind == SessionEventKind::received ? " -> " : ": ";
  std::FILE* out = event.kind == SessionEventKind::problem ? stderr : stdout;
  std::fflush(stdout);  // the lines stay in order where both streams meet
  std::fprintf(out, "%-8s %s%s%s\n", word, linux_host::terminal_safe(event.subject).c_str(),
               event.detail.empty() ? "" : joint, linux_host::terminal_safe(event.detail).c_str());
  std::fflush(out);
}

// What every session shares, whatever the handheld.
struct SessionSetup {
  const SyncOptions& options;
  linux_host::RegistryFile& registry;
  const TextCodec& codec;
  fs::path log_path;
};

// Holds the send and receive folders (and `also`, when given) for the
// session; the error's line when they cannot be had.
std::string lock_folders(const SessionSetup& setup, linux_host::FolderLocks& locks, const fs::path& also = {}) {
  const Settings settings = load_settings(setup.registry);
  std::vector<fs::path> folders{settings.send_folder, settings.receive_folder};
  if (!also.empty()) folders.insert(folders.begin(), also);
  return locks.lock(folders, std::chrono::milliseconds(static_cast<long long>(setup.options.wait_seconds * 1000)),
                    [](const fs::path& folder) {
                      std::fprintf(stderr, "vellora: waiting for another session to finish with %s\n",
                                   linux_host::terminal_safe(folder.string()).c_str());
                    });
}

// Runs the conduit's session against `sync`. `is_lost`, when set, says
// the handheld is gone: what the passes report after that only repeats it.
std::int32_t run_conduit(SyncManager& sync, const SessionSetup& setup, linux_host::LogFile& log, Tally& tally,
                         const std::function<bool()>& is_lost = {}) {
  linux_host::TerminalMessageBox boxes(std::cin, std::cout, linux_host::stdin_is_terminal(),
                                       setup.options.answer == "yes" ? kAnswerYes : kAnswerNo);
  linux_host::LanguageStandIn language;
  linux_host::DlTextConverterLibrary converters;
  Conduit conduit(Platform{sync, setup.registry, boxes, log, language, converters, setup.codec});
  conduit.on_event = [&](const SessionEvent& event) {
    const bool is_echo = event.kind == SessionEventKind::kept || event.kind == SessionEventKind::problem;
    if (is_echo && is_lost && is_lost()) return;
    print_event(event, tally);
  };
  conduit.attach();
  const int manager_argument = 0;
  const std::int32_t result = OpenConduit(&manager_argument, conduit);
  conduit.detach();
  std::cout.flush();
  if (!log.last_error().empty())
    std::fprintf(stderr, "vellora: warning: %s\n", linux_host::terminal_safe(log.last_error()).c_str());
  return result;
}

void print_summary(const Tally& tally) {
  const std::string problems =
      tally.problems == 0 ? ""
                          : ", " + std::to_string(tally.problems) + (tally.problems == 1 ? " problem" : " problems");
  std::printf("session done: %d sent, %d kept back, %d received, %d not received%s\n", tally.sent, tally.kept,
              tally.received, tally.skipped, problems.c_str());
  std::fflush(stdout);
}

int folder_sync(const SessionSetup& setup) {
  const SyncOptions& options = setup.options;
  // The default folder is made on first use; a named one must exist, so a
  // mistyped path cannot send files somewhere unexpected.
  fs::path handheld_path = options.handheld;
  if (handheld_path.empty()) {
    const auto folder = linux_host::default_handheld_folder();
    if (!folder) return fail("handheld", "no handheld folder: set HOME or XDG_DATA_HOME, or give --handheld");
    handheld_path = *folder;
    std::error_code error;
    fs::create_directories(handheld_path, error);
  }
  if (!fs::is_directory(handheld_path)) return fail(handheld_path.string(), "no such handheld folder");
  if (const std::string conf_error = linux_host::handheld_conf_error(handheld_path); !conf_error.empty())
    return fail(conf_error);

  // Every folder the session works in is held for its whole length.
  linux_host::FolderLocks locks;
  if (const std::string lock_error = lock_folders(setup, locks, handheld_path); !lock_error.empty())
    return fail(lock_error);

  linux_host::PdbFolderHandheld handheld(handheld_path);
  linux_host::LogFile log(setup.log_path);
  Tally tally;
  const std::int32_t result = run_conduit(handheld, setup, log, tally);
  if (result != 0)
    return fail(handheld_path.string(),
                "the session could not start: " +
                    (handheld.last_error().empty() ? "error " + std::to_string(result) : handheld.last_error()));
  print_summary(tally);
  return tally.problems == 0 ? 0 : kExitSessionProblems;
}

std::string plural(int count, const char* word) { return std::to_string(count) + " " + word; }

// One session with a connected handheld: 0, 1 or 3 as for a folder.
int device_session(const SessionSetup& setup, linux_host::HandheldConnection& connection) {
  linux_host::DlpHandheld handheld(*connection.link, handheld_options());
  if (!handheld.start()) return fail(connection.peer, handheld.last_error());
  print_connected(handheld, connection);

  linux_host::FolderLocks locks;
  if (const std::string lock_error = lock_folders(setup, locks); !lock_error.empty()) {
    handheld.finish({});
    return fail(lock_error);
  }
  linux_host::LogFile log(setup.log_path);
  Tally tally;
  const std::int32_t result = run_conduit(handheld, setup, log, tally, [&handheld] { return handheld.is_lost(); });
  if (handheld.was_cancelled()) {
    handheld.finish({});
    return fail("the sync was cancelled on the handheld; nothing was sent or received");
  }
  if (!handheld.is_lost()) {
    if (result != 0) {
      handheld.finish({});
      return fail(connection.peer, "the session could not start: " + handheld.error_text(result));
    }
    handheld.finish("Vellora: " + plural(tally.sent, "sent") + ", " + plural(tally.received, "received"));
  }
  if (handheld.is_lost()) {
    print_summary(tally);
    return fail(handheld.lost_text());
  }
  print_summary(tally);
  return tally.problems == 0 ? 0 : kExitSessionProblems;
}

int device_sync(const SessionSetup& setup) {
  std::unique_ptr<linux_host::HandheldPlace> place;
  int status = 0;
  if (!prepare_place(setup.options.link, place, status)) return status;
  // Kept running, the command serves until stopped, or until no handheld
  // came within --timeout.
  for (;;) {
    bool nobody_came = false;
    auto connection = wait_for_handheld(*place, setup.options.link, status, &nobody_came);
    if (connection) status = device_session(setup, *connection);
    if (!setup.options.keep_running || nobody_came) return status;
  }
}

int sync_command(const SyncOptions& options) {
  // Settings. A missing file is an empty registry: the session runs and
  // touches nothing, as it would with no settings on the PC.
  const auto default_registry = linux_host::default_registry_file();
  linux_host::RegistryFile registry(linux_host::bundled_office_converter());
  std::string why_not;
  bool default_missing = false;
  if (!load_registry(options.registry, default_registry, registry, why_not, &default_missing)) return fail(why_not);
  if (default_missing)
    std::fprintf(stderr,
                 "vellora: no settings yet: %s does not exist, so there is nothing to send or receive "
                 "(the README shows one)\n",
                 linux_host::terminal_safe(default_registry->string()).c_str());
  const TextCodec* codec = choose_codec(options.encoding, &registry, why_not);
  if (codec == nullptr) return fail(why_not);

  fs::path log_path = options.log;
  if (log_path.empty()) {
    const auto folder = linux_host::default_log_file();
    if (folder) log_path = *folder;
  }
  const SessionSetup setup{options, registry, *codec, log_path};
  return options.link.device.empty() ? folder_sync(setup) : device_sync(setup);
}

}  // namespace

Subcommand add_sync(CLI::App& app) {
  auto options = std::make_shared<SyncOptions>();
  auto* command =
      app.add_subcommand("sync", "Run one sync session: receive marked documents, then send the send folder");
  command->footer(
      "Exit status: 0 when the session ran without problems; 1 when it could not run, or the handheld "
      "was lost or cancelled the sync; 3 when it ran but reported problems (each on standard error).");
  command->add_option("--registry", options->registry,
                      "Settings file (default: $XDG_CONFIG_HOME/vellora/registry.reg)");
  auto* handheld = command->add_option("--handheld", options->handheld,
                                       "Handheld folder of .pdb files (default: $XDG_DATA_HOME/vellora/handheld)");
  command->add_option("--answer", options->answer, "Answer to overwrite questions when not on a terminal (default: no)")
      ->check(CLI::IsMember({"yes", "no"}));
  command->add_option("--log", options->log, "HotSync log file (default: $XDG_STATE_HOME/vellora/hotsync.log)");
  command
      ->add_option("--wait", options->wait_seconds,
                   "Seconds to wait for another session that uses the same folders (default: 10)")
      ->check(CLI::Range(0.0, 3600.0));
  command->add_option("--encoding", options->encoding, kEncodingHelp)->check(encoding_choices());
  command->add_option("--device", options->link.device, kDeviceHelp)->excludes(handheld);
  command->add_option("--timeout", options->link.timeout_seconds, kTimeoutHelp)->check(CLI::Range(0.0, 86400.0));
  command->add_option("--speed", options->link.speed, kSpeedHelp)->check(CLI::IsMember(kSerialSpeeds));
  command->add_flag("--keep-running", options->keep_running,
                    "With --device: serve handheld after handheld until stopped (or, with --timeout, until none came "
                    "within it), as a HotSync manager stays resident");
  return {command, [options] {
            if (options->keep_running && options->link.device.empty()) {
              std::fprintf(stderr, "vellora: --keep-running waits for handhelds, so it needs --device\n");
              return 1;
            }
            return sync_command(*options);
          }};
}

}  // namespace vellora::cli
