// The office converter: the text converter bundled with vellora on Linux.
// It recognises Word 97-2003 and Word 6/95 documents by their compound-file
// signature and converts them to RTF by running LibreOffice headless on a
// private copy, then streams the RTF to the conduit through the shared
// buffer and the output callback, as any text converter does.
//
// Each conversion works in a temporary folder of its own (under $TMPDIR or
// /tmp) holding the copy, a LibreOffice profile and the output, so a user's
// running LibreOffice is not disturbed and concurrent conversions do not
// meet; the folder is removed whatever the outcome. The folder's lock is
// held by the converter and by LibreOffice while they run, so the folders
// of a host killed mid-conversion are told apart from those in use and
// removed when the next conversion starts.
//
// Environment:
//   VELLORA_SOFFICE         the office program (a path, or a name looked up
//                           on PATH) instead of `soffice` on PATH
//   VELLORA_OFFICE_TIMEOUT  seconds one conversion may take (default 120);
//                           then LibreOffice's whole process group is killed
//
// ForeignToRtf32 and RtfToForeign32 return 0 on success or one of:
//   -1  the file name is missing or the file cannot be copied
//   -2  no office program is found
//   -3  the office program failed, timed out or produced no RTF
//   -4  the output callback asked to stop
//   -5  no buffer or no callback was given
//   -6  the temporary folder cannot be made
//   -7  RtfToForeign32: writing documents is not supported
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/ascii.h"
#include "hosts/linux/converters/office/office_results.h"
#include "hosts/linux/posix_io.h"
#include "hosts/linux/work_folder.h"
#include "vellora/converter.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using namespace vellora::office;
using vellora::append_hex_byte;
using vellora::linux_host::pread_fully;
using vellora::linux_host::read_fully;
using vellora::linux_host::UniqueFd;
using vellora::linux_host::WorkFolder;

// OLE compound files: Word 97-2003 and Word 6/95 documents both start so.
constexpr unsigned char kCompoundFileSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::string_view kRtfStart = "{\\rtf";
constexpr std::size_t kMaxPieceBytes = 8192;
constexpr long kDefaultTimeoutSeconds = 120;
// A day: anything longer is a typo, not a limit.
constexpr long kMaxTimeoutSeconds = 24 * 60 * 60;
constexpr auto kWaitStep = std::chrono::milliseconds(10);
// The work folders in the temporary folder: this prefix and six characters.
constexpr std::string_view kWorkspacePrefix = "vellora-office-";
// The office program gets the workspace's lock as this descriptor.
constexpr int kInheritedLockFd = 3;

// The NUL-terminated string a block holds; nullopt for no block, an empty
// string or one without its NUL inside the block.
std::optional<std::string> block_string(VelloraGlobal block) {
  const std::size_t size_bytes = vellora_global_size(block);
  const auto* bytes = static_cast<const char*>(vellora_global_lock(block));
  if (bytes == nullptr) return std::nullopt;
  std::optional<std::string> text;
  if (const void* nul = std::memchr(bytes, '\0', size_bytes); nul != nullptr && nul != bytes)
    text.emplace(bytes, static_cast<const char*>(nul));
  vellora_global_unlock(block);
  return text;
}

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// VELLORA_SOFFICE when set, else `soffice`; a name without '/' is looked
// up in the absolute directories of PATH.
std::optional<std::string> find_office_program() {
  const char* chosen = std::getenv("VELLORA_SOFFICE");
  const std::string name = chosen != nullptr && *chosen != '\0' ? chosen : "soffice";
  if (name.find('/') != std::string::npos) return is_executable_file(name) ? std::optional(name) : std::nullopt;
  const char* search = std::getenv("PATH");
  std::string_view folders = search != nullptr ? search : "/usr/local/bin:/usr/bin:/bin";
  while (!folders.empty()) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
    // A relative entry would make the program depend on the current folder.
    if (folder.empty() || folder.front() != '/') continue;
    std::string candidate = std::string(folder) + "/" + name;
    if (is_executable_file(candidate)) return candidate;
  }
  return std::nullopt;
}

// The time limit from VELLORA_OFFICE_TIMEOUT: whole seconds, 1 to a day;
// anything else gives the default.
std::chrono::seconds time_limit() {
  const char* text = std::getenv("VELLORA_OFFICE_TIMEOUT");
  if (text == nullptr || *text < '0' || *text > '9') return std::chrono::seconds(kDefaultTimeoutSeconds);
  char* end = nullptr;
  errno = 0;
  const long seconds = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || seconds < 1 || seconds > kMaxTimeoutSeconds)
    return std::chrono::seconds(kDefaultTimeoutSeconds);
  return std::chrono::seconds(seconds);
}

// A regular file that starts with the compound-file signature. The open
// does not block, so a FIFO named as the document cannot hang the check.
bool has_compound_file_signature(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.is_open()) return false;
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::uint8_t start[sizeof kCompoundFileSignature] = {};
  return read_fully(file.get(), start) == static_cast<long>(sizeof start) &&
         std::memcmp(start, kCompoundFileSignature, sizeof start) == 0;
}

std::string temporary_folder() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
}

// The workspaces that killed hosts left: those nobody holds, and those of
// versions without locks once a day old, longer than any conversion may
// take.
void remove_leftover_workspaces() {
  vellora::linux_host::remove_stale_work_folders(temporary_folder(), kWorkspacePrefix,
                                                 vellora::linux_host::LocklessFolders::a_day_old);
}

// A private temporary folder, held while in use and then removed with
// everything in it.
class Workspace {
 public:
  Workspace() : folder_(temporary_folder(), kWorkspacePrefix) {}
  bool is_ready() const { return static_cast<bool>(folder_); }
  std::string operator/(std::string_view name) const { return folder_.path().string() + "/" + std::string(name); }
  int lock_descriptor() const { return folder_.lock_descriptor(); }

 private:
  WorkFolder folder_;
};

// LibreOffice takes its profile folder as a file URL.
std::string file_url(std::string_view path) {
  std::string url = "file://";
  constexpr std::string_view kPlainMarks = "/-._~";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool is_plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || kPlainMarks.find(c) != std::string_view::npos;
    if (is_plain) {
      url += c;
    } else {
      url += '%';
      append_hex_byte(url, byte);
    }
  }
  return url;
}

class SpawnAttributes {
 public:
  SpawnAttributes() {
    is_ready_ = ::posix_spawnattr_init(&attributes_) == 0 && ::posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnAttributes() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  // A process group of its own so the time limit can kill LibreOffice and
  // every helper it starts; no signal blocked or ignored that the converter
  // thread happens to have; only the three standard descriptors, on
  // /dev/null, so it can neither block on the terminal nor hold the host's
  // files or locks open, and the workspace's lock as descriptor 3, so that
  // a LibreOffice that outlives a killed host keeps its folder held.
  bool prepare(int workspace_lock) {
    sigset_t none;
    sigset_t to_default;
    sigemptyset(&none);
    sigemptyset(&to_default);
    for (const int signal : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP}) sigaddset(&to_default, signal);
    const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    // The lock moves first, in case the host runs without a standard
    // descriptor and the lock took its number.
    return is_ready_ && ::posix_spawnattr_setflags(&attributes_, flags) == 0 &&
           ::posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
           ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
           ::posix_spawnattr_setsigdefault(&attributes_, &to_default) == 0 &&
           ::posix_spawn_file_actions_adddup2(&actions_, workspace_lock, kInheritedLockFd) == 0 &&
           ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
           ::posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
           ::posix_spawn_file_actions_adddup2(&actions_, 1, 2) == 0 &&
           ::posix_spawn_file_actions_addclosefrom_np(&actions_, kInheritedLockFd + 1) == 0;
  }
  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_{};
  posix_spawn_file_actions_t actions_{};
  bool is_ready_ = false;
};

// Runs the program to the end or the time limit, whichever comes first;
// true when it exited with status 0. Nothing it started outlives the call:
// once the leader has exited (or the time is up) the rest of its process
// group is killed before the leader is reaped, while its process ID still
// names the group.
bool run_to_completion(const std::string& program, const std::vector<std::string>& arguments,
                       std::chrono::seconds limit, int workspace_lock) {
  SpawnAttributes spawn;
  if (!spawn.prepare(workspace_lock)) return false;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), spawn.actions(), spawn.attributes(), argv.data(), environ) != 0)
    return false;

  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool has_exited = false;
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
      if (info.si_pid == pid) {
        has_exited = true;
        break;
      }
    } else if (errno != EINTR) {
      // ECHILD: the host ignores SIGCHLD and the child has been reaped for
      // us; whether RTF was produced decides.
      return errno == ECHILD;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kWaitStep);
  }
  ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return has_exited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Streams the RTF file through the shared buffer: each piece fills at most
// the buffer (and never more than 8 KiB), is unlocked before the callback
// runs, and reports the share delivered so far.
std::int16_t deliver_rtf(const std::string& rtf_path, VelloraGlobal buffer, VelloraConverterOutput output) {
  const UniqueFd rtf(::open(rtf_path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!rtf.is_open() || ::fstat(rtf.get(), &st) != 0 || !S_ISREG(st.st_mode)) return kOfficeFailed;
  std::uint8_t start[kRtfStart.size()] = {};
  if (pread_fully(rtf.get(), start, 0) != static_cast<long>(sizeof start) ||
      std::string_view(reinterpret_cast<const char*>(start), sizeof start) != kRtfStart)
    return kOfficeFailed;
  const std::int64_t total_bytes = st.st_size;
  const std::size_t piece_max_bytes = std::min(kMaxPieceBytes, vellora_global_size(buffer));
  if (piece_max_bytes == 0) return kBadArguments;

  std::int64_t delivered_bytes = 0;
  for (;;) {
    auto* bytes = static_cast<std::uint8_t*>(vellora_global_lock(buffer));
    if (bytes == nullptr) return kBadArguments;
    const long got = read_fully(rtf.get(), {bytes, piece_max_bytes});
    vellora_global_unlock(buffer);
    if (got < 0) return kOfficeFailed;
    if (got == 0) break;
    delivered_bytes += got;
    // The file may have grown since it was measured: never past 100.
    const std::int64_t percent = std::min<std::int64_t>(100, delivered_bytes * 100 / total_bytes);
    if (output(static_cast<std::int32_t>(got), static_cast<std::int32_t>(percent)) != 0) return kCancelled;
  }
  return kOk;
}

std::int16_t convert_to_rtf(VelloraGlobal file, VelloraGlobal buffer, VelloraConverterOutput output) {
  if (buffer == nullptr || output == nullptr) return kBadArguments;
  const auto source = block_string(file);
  if (!source) return kInputUnreadable;
  const auto program = find_office_program();
  if (!program) return kNoOffice;

  remove_leftover_workspaces();
  const Workspace workspace;
  if (!workspace.is_ready()) return kNoWorkspace;
  // A plain name: LibreOffice names its output after the input, and the
  // user's file name may hold anything.
  const std::string input = workspace / "input.doc";
  std::error_code error;
  if (!fs::copy_file(*source, input, error)) return kInputUnreadable;

  const std::string out_folder = workspace / "out";
  const std::vector<std::string> arguments = {
      "-env:UserInstallation=" + file_url(workspace / "profile"),
      "--headless",
      "--convert-to",
      "rtf",
      "--outdir",
      out_folder,
      input,
  };
  if (!run_to_completion(*program, arguments, time_limit(), workspace.lock_descriptor())) return kOfficeFailed;
  return deliver_rtf(out_folder + "/input.rtf", buffer, output);
}

}  // namespace

extern "C" {

int32_t InitConverter32(void* window, char* application) {
  (void)window;
  (void)application;
  return 0;
}

int16_t IsFormatCorrect32(VelloraGlobal file, VelloraGlobal class_name) {
  (void)class_name;
  try {
    const auto path = block_string(file);
    return path && has_compound_file_signature(*path) && find_office_program() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int16_t ForeignToRtf32(VelloraGlobal file, void* storage, VelloraGlobal buffer, VelloraGlobal class_name,
                       VelloraGlobal subset, VelloraConverterOutput output) {
  (void)storage;
  (void)class_name;
  (void)subset;
  try {
    return convert_to_rtf(file, buffer, output);
  } catch (...) {
    // Out of memory in a string or path: the conversion simply fails.
    return kOfficeFailed;
  }
}

int16_t RtfToForeign32(VelloraGlobal, void*, VelloraGlobal, VelloraGlobal, VelloraConverterOutput) {
  return kNotSupported;
}

}  // extern "C"
