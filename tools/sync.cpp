// `vellora sync`: one conduit session on this machine, with the handheld
// played by a folder of .pdb files, settings from a registry file, questions
// on the terminal and the HotSync log in a file. Exit status: 0, 1 when the
// session could not run, 3 when it ran but reported problems.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <set>
#include <string>
#include <system_error>

#include "conduit/entry_points.h"
#include "conduit/settings.h"
#include "hosts/linux/dl_text_converters.h"
#include "hosts/linux/folder_lock.h"
#include "hosts/linux/language_stand_in.h"
#include "hosts/linux/log_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "hosts/linux/registry_file.h"
#include "hosts/linux/terminal_message_box.h"
#include "hosts/linux/terminal_text.h"
#include "hosts/linux/xdg_paths.h"
#include "tools/commands.h"
#include "tools/encoding_option.h"
#include "tools/registry_option.h"

namespace vellora::cli {

namespace fs = std::filesystem;

std::string default_handheld_folder() {
  const auto folder = posix::default_handheld_folder();
  return folder ? folder->string() : std::string();
}

namespace {

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
    case SessionEventKind::kept: word = "kept"; ++tally.kept; break;
    case SessionEventKind::received: word = "received"; ++tally.received; break;
    case SessionEventKind::skipped: word = "skipped"; ++tally.skipped; break;
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
  std::fprintf(out, "%-8s %s%s%s\n", word, posix::terminal_safe(event.subject).c_str(), event.detail.empty() ? "" : joint,
               posix::terminal_safe(event.detail).c_str());
  std::fflush(out);
}

}  // namespace

int sync_command(const SyncOptions& options) {
  // Settings. A missing file is an empty registry: the session runs and
  // touches nothing, as it would with no settings on the PC.
  const auto default_registry = posix::default_registry_file();
  posix::RegistryFile registry(posix::bundled_office_converter());
  std::string why_not;
  bool default_missing = false;
  if (!load_registry(options.registry, default_registry, registry, why_not, &default_missing)) return fail(why_not);
  if (default_missing)
    std::fprintf(stderr, "vellora: no settings yet: %s does not exist, so there is nothing to send or receive "
                         "(the README shows one)\n", posix::terminal_safe(default_registry->string()).c_str());
  const TextCodec* codec = choose_codec(options.encoding, &registry, why_not);
  if (codec == nullptr) return fail(why_not);

  // The handheld. The default folder is made on first use; a named one
  // must exist, so a mistyped path cannot send files somewhere unexpected.
  fs::path handheld_path = options.handheld;
  if (handheld_path.empty()) {
    const auto folder = posix::default_handheld_folder();
    if (!folder) return fail("handheld", "no handheld folder: set HOME or XDG_DATA_HOME, or give --handheld");
    handheld_path = *folder;
    std::error_code error;
    fs::create_directories(handheld_path, error);
  }
  if (!fs::is_directory(handheld_path)) return fail(handheld_path.string(), "no such handheld folder");
  if (const std::string conf_error = posix::handheld_conf_error(handheld_path); !conf_error.empty())
    return fail(conf_error);

  fs::path log_path = options.log;
  if (log_path.empty()) {
    const auto folder = posix::default_log_file();
    if (folder) log_path = *folder;
  }

  // Every folder the session works in is held for its whole length.
  const Settings settings = load_settings(registry);
  posix::FolderLocks locks;
  const std::string lock_error = locks.lock(
      {handheld_path, settings.send_folder, settings.receive_folder},
      std::chrono::milliseconds(static_cast<long long>(options.wait_seconds * 1000)),
      [](const fs::path& folder) {
        std::fprintf(stderr, "vellora: waiting for another session to finish with %s\n",
                     posix::terminal_safe(folder.string()).c_str());
      });
  if (!lock_error.empty()) return fail(lock_error);

  posix::PdbFolderHandheld handheld(handheld_path);
  posix::TerminalMessageBox boxes(std::cin, std::cout, posix::stdin_is_terminal(),
                                  options.answer == "yes" ? kAnswerYes : kAnswerNo);
  posix::LogFile log(log_path);
  posix::LanguageStandIn language;
  posix::DlTextConverterLibrary converters;
  Conduit conduit(Platform{handheld, registry, boxes, log, language, converters, *codec});
  Tally tally;
  conduit.on_event = [&tally](const SessionEvent& event) { print_event(event, tally); };

  conduit.attach();
  const int manager_argument = 0;
  const std::int32_t result = OpenConduit(&manager_argument, conduit);
  conduit.detach();
  std::cout.flush();
  if (result != 0)
    return fail(handheld_path.string(), "the session could not start: " +
                                            (handheld.last_error().empty() ? "error " + std::to_string(result) : handheld.last_error()));
  if (!log.last_error().empty())
    std::fprintf(stderr, "vellora: warning: %s\n", posix::terminal_safe(log.last_error()).c_str());
  const std::string problems =
      tally.problems == 0 ? "" : ", " + std::to_string(tally.problems) + (tally.problems == 1 ? " problem" : " problems");
  std::printf("session done: %d sent, %d kept back, %d received, %d not received%s\n", tally.sent, tally.kept,
              tally.received, tally.skipped, problems.c_str());
  return tally.problems == 0 ? 0 : kExitSessionProblems;
}

}  // namespace vellora::cli
