// The bundled office converter, loaded as the conduit loads it. Stand-in
// office programs (small shell scripts) show what it recognises, how it
// runs the program and streams the result, and that failures, time limits
// and refusals leave nothing behind; real LibreOffice runs on .doc files
// made from the system's licence texts check the words that come out.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hosts/linux/converters/office/office_results.h"
#include "hosts/linux/dl_text_converters.h"
#include "hosts/linux/posix_io.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_converter/converter_run.h"
#include "vellora/converter.h"

namespace vellora::linux_host {
namespace {

namespace fs = std::filesystem;
using ::vellora::testing::file_names;
using ::vellora::testing::LoadedConverter;
using ::vellora::testing::TempDir;
using ::vellora::testing::write_file;

constexpr const char* kOffice = VELLORA_OFFICE_CONVERTER;
using namespace ::vellora::office;
const std::string kSignature = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

// Sets (or with nullopt unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

void write_program(const fs::path& path, const std::string& script) {
  write_file(path, script);
  fs::permissions(path, fs::perms::owner_all);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes "{\rtf1 " + the input + "}" where LibreOffice would put its RTF,
// after logging its arguments and how it was started.
constexpr const char* kCopyingStandIn = R"SH(#!/bin/sh
stdin=$(readlink /proc/$$/fd/0)
stdout=$(readlink /proc/$$/fd/1)
stderr=$(readlink /proc/$$/fd/2)
{
  for a in "$@"; do printf 'arg %s\n' "$a"; done
  printf 'stdio %s %s %s\n' "$stdin" "$stdout" "$stderr"
  printf 'pid %s group %s\n' "$$" "$(cut -d' ' -f5 /proc/$$/stat)"
  if [ -e /proc/$$/fd/@FD@ ]; then echo 'inherited a descriptor'; fi
  printf 'lock %s\n' "$(readlink /proc/$$/fd/3)"
} > '@LOG@'
prev=
for a in "$@"; do
  if [ "$prev" = --outdir ]; then out=$a; fi
  prev=$a
  input=$a
done
mkdir -p "$out"
{ printf '{\\rtf1 '; cat "$input"; printf '}'; } > "$out/input.rtf"
@AFTER@
)SH";

class OfficeConverter : public ::testing::Test {
 protected:
  OfficeConverter() : converter_(library_, kOffice) {}

  void SetUp() override { ASSERT_TRUE(converter_.is_loaded()) << kOffice; }

  // A copying stand-in of its own, with `after` as its last line.
  std::string copying_stand_in(const std::string& after = "exit 0") {
    const fs::path program = programs_ / ("copying-office-" + std::to_string(++stand_ins_));
    std::string script = replaced(kCopyingStandIn, "@LOG@", (programs_ / "log").string());
    script = replaced(script, "@FD@", std::to_string(kHostFd));
    write_program(program, replaced(script, "@AFTER@", after));
    return program.string();
  }

  std::string log() const { return read_text(programs_ / "log"); }

  // A .doc-looking file: the signature, then `bytes` of text.
  std::string compound_file(const std::string& name, std::size_t bytes) {
    std::string content = kSignature;
    for (std::size_t i = 0; content.size() < bytes + kSignature.size(); ++i)
      content += "word" + std::to_string(i) + (i % 12 == 11 ? "\n" : " ");
    content.resize(bytes + kSignature.size());
    write_file(files_ / name, content);
    return (files_ / name).string();
  }

  static constexpr int kHostFd = 200;
  int stand_ins_ = 0;
  DlTextConverterLibrary library_;
  LoadedConverter converter_;
  TempDir programs_;
  TempDir files_;
  // Conversions work under this TMPDIR, so a test can see them clean up.
  TempDir temp_;
  ScopedEnv tmpdir_{"TMPDIR", temp_.path().string()};
};

TEST_F(OfficeConverter, RecognisesCompoundFilesWhenTheOfficeProgramIsThere) {
  const std::string office = copying_stand_in();
  write_program(programs_ / "soffice", "#!/bin/sh\n");
  write_program(programs_ / "my-office", "#!/bin/sh\n");
  write_file(programs_ / "not-runnable", std::string("#!/bin/sh\n"));
  const std::string doc = compound_file("letter.doc", 100);
  write_file(files_ / "exact.doc", kSignature);
  write_file(files_ / "short.doc", kSignature.substr(0, 7));
  write_file(files_ / "notes.txt", std::string("Plain words, not a compound file at all.\n"));
  write_file(files_ / "empty.doc", std::string());
  fs::create_directory(files_ / "folder.doc");
  ASSERT_EQ(::mkfifo((files_ / "pipe.doc").c_str(), 0600), 0);
  const std::string programs = programs_.path().string();

  struct Row {
    const char* name;
    std::string file;
    std::optional<std::string> soffice;  // VELLORA_SOFFICE
    std::optional<std::string> path;     // PATH; nullopt keeps it
    std::int16_t answer;
  };
  const Row rows[] = {
      {"a compound file", doc, office, std::nullopt, 1},
      {"the signature alone", (files_ / "exact.doc").string(), office, std::nullopt, 1},
      {"seven bytes of it", (files_ / "short.doc").string(), office, std::nullopt, 0},
      {"a text file", (files_ / "notes.txt").string(), office, std::nullopt, 0},
      {"an empty file", (files_ / "empty.doc").string(), office, std::nullopt, 0},
      {"a missing file", (files_ / "missing.doc").string(), office, std::nullopt, 0},
      {"a folder", (files_ / "folder.doc").string(), office, std::nullopt, 0},
      {"a FIFO, without blocking", (files_ / "pipe.doc").string(), office, std::nullopt, 0},
      {"no such program", doc, "/nonexistent/soffice", std::nullopt, 0},
      {"a program that cannot run", doc, (programs_ / "not-runnable").string(), std::nullopt, 0},
      {"soffice found on PATH", doc, std::nullopt, "relative:" + programs, 1},
      {"a named program found on PATH", doc, "my-office", "/nonexistent:" + programs, 1},
      {"no soffice on PATH", doc, std::nullopt, "/nonexistent", 0},
      {"only relative PATH entries", doc, std::nullopt, ".:relative", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ScopedEnv soffice("VELLORA_SOFFICE", row.soffice);
    const std::optional<std::string> old_path =
        std::getenv("PATH") != nullptr ? std::optional<std::string>(std::getenv("PATH")) : std::nullopt;
    const ScopedEnv path("PATH", row.path ? row.path : old_path);
    EXPECT_EQ(converter_.check(row.file), row.answer);
  }
}

TEST_F(OfficeConverter, BadHandlesAreNotTheFormat) {
  const ScopedEnv soffice("VELLORA_SOFFICE", copying_stand_in());
  auto* check = reinterpret_cast<IsFormatCorrectEntry>(converter_.entry(kIsFormatCorrectName));
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(check(nullptr, nullptr), 0);
  // A name without its terminating NUL inside the block.
  const std::string doc = compound_file("letter.doc", 10);
  const GlobalHandle unterminated = library_.allocate(doc.size());
  std::memcpy(library_.lock(unterminated), doc.data(), doc.size());
  library_.unlock(unterminated);
  EXPECT_EQ(check(unterminated, nullptr), 0);
  library_.release(unterminated);
}

TEST_F(OfficeConverter, RunsTheProgramPrivatelyAndStreamsItsRtf) {
  // Spaces in the temporary folder and the file name must survive the
  // profile URL and the copy.
  const TempDir spaced_root;
  fs::create_directory(spaced_root / "tmp dir");
  const ScopedEnv tmpdir("TMPDIR", (spaced_root / "tmp dir").string());
  const ScopedEnv soffice("VELLORA_SOFFICE", copying_stand_in());
  const std::string doc = compound_file("my letter (1).doc", 20000);
  const std::string want = "{\\rtf1 " + read_text(doc) + "}";
  // A descriptor the host left inheritable must not reach the program.
  const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int host_fd = ::fcntl(null_fd, F_DUPFD, kHostFd);
  ::close(null_fd);
  ASSERT_EQ(host_fd, kHostFd);

  struct Row {
    std::size_t buffer_bytes;
    std::vector<std::int32_t> counts;
  };
  const std::int32_t last = static_cast<std::int32_t>(want.size() - 2 * 8192);
  const Row rows[] = {
      {8192, {8192, 8192, last}},
      {65536, {8192, 8192, last}},  // never more than 8 KiB at a time
      {7000, {7000, 7000, 6016}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.buffer_bytes);
    const auto delivery = converter_.convert(doc, row.buffer_bytes);
    EXPECT_EQ(delivery.result, 0);
    EXPECT_EQ(delivery.counts, row.counts);
    EXPECT_TRUE(delivery.rtf == want) << "delivered " << delivery.rtf.size() << " of " << want.size();
    std::vector<std::int32_t> percents;
    std::int64_t so_far = 0;
    for (const std::int32_t count : row.counts)
      percents.push_back(static_cast<std::int32_t>((so_far += count) * 100 / static_cast<std::int64_t>(want.size())));
    EXPECT_EQ(delivery.percents, percents);
    EXPECT_TRUE(file_names(spaced_root / "tmp dir").empty());
  }
  ::close(host_fd);

  const std::string log = this->log();
  std::istringstream lines(log);
  std::vector<std::string> args;
  std::string line;
  while (std::getline(lines, line))
    if (line.starts_with("arg ")) args.push_back(line.substr(4));
  ASSERT_EQ(args.size(), 7u) << log;
  // The private folder: <TMPDIR>/vellora-office-XXXXXX.
  const std::string root = args[5].substr(0, args[5].size() - std::string("/out").size());
  EXPECT_EQ(fs::path(root).parent_path(), spaced_root / "tmp dir");
  EXPECT_TRUE(fs::path(root).filename().string().starts_with("vellora-office-")) << root;
  EXPECT_EQ(args[0], "-env:UserInstallation=file://" + replaced(root, " ", "%20") + "/profile");
  EXPECT_EQ(args[1], "--headless");
  EXPECT_EQ(args[2], "--convert-to");
  EXPECT_EQ(args[3], "rtf");
  EXPECT_EQ(args[4], "--outdir");
  EXPECT_EQ(args[5], root + "/out");
  EXPECT_EQ(args[6], root + "/input.doc");
  EXPECT_NE(log.find("stdio /dev/null /dev/null /dev/null\n"), std::string::npos) << log;
  const std::size_t pid_at = log.find("pid ");
  ASSERT_NE(pid_at, std::string::npos);
  std::istringstream ids(log.substr(pid_at));
  std::string word, pid, group;
  ids >> word >> pid >> word >> group;
  EXPECT_EQ(pid, group) << "not in a process group of its own";
  EXPECT_EQ(log.find("inherited"), std::string::npos) << log;
  // The workspace's lock, which keeps the folder held while the program runs.
  EXPECT_NE(log.find("lock " + root + "/.lock\n"), std::string::npos) << log;
}

TEST_F(OfficeConverter, ConversionsSideBySideKeepTheirOwnFiles) {
  const ScopedEnv soffice("VELLORA_SOFFICE", copying_stand_in());
  const std::string first = compound_file("first.doc", 30000);
  const std::string second = compound_file("second.doc", 9000);
  vellora::testing::Delivery got_first, got_second;
  std::thread other([&] { got_second = converter_.convert(second); });
  got_first = converter_.convert(first);
  other.join();
  EXPECT_EQ(got_first.result, 0);
  EXPECT_EQ(got_second.result, 0);
  EXPECT_TRUE(got_first.rtf == "{\\rtf1 " + read_text(first) + "}");
  EXPECT_TRUE(got_second.rtf == "{\\rtf1 " + read_text(second) + "}");
  EXPECT_TRUE(file_names(temp_.path()).empty());
}

TEST_F(OfficeConverter, FailuresDeliverNothingAndLeaveNothing) {
  const std::string doc = compound_file("letter.doc", 500);
  struct Row {
    const char* name;
    std::string file;
    std::string soffice;
    std::int16_t result;
  };
  const Row rows[] = {
      {"the program fails after writing", doc, copying_stand_in("exit 1"), kOfficeFailed},
      {"the program is killed", doc, copying_stand_in("kill -9 $$"), kOfficeFailed},
      {"no RTF written", doc, copying_stand_in("rm \"$out/input.rtf\""), kOfficeFailed},
      {"an empty file written", doc, copying_stand_in(": > \"$out/input.rtf\""), kOfficeFailed},
      {"something else written", doc, copying_stand_in("echo '<html>' > \"$out/input.rtf\""), kOfficeFailed},
      {"the input is missing", (files_ / "missing.doc").string(), copying_stand_in(), kInputUnreadable},
      {"the input is a folder", files_.path().string(), copying_stand_in(), kInputUnreadable},
      {"no office program", doc, "/nonexistent/soffice", kNoOffice},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ScopedEnv soffice("VELLORA_SOFFICE", row.soffice);
    const auto delivery = converter_.convert(row.file);
    EXPECT_EQ(delivery.result, row.result);
    EXPECT_TRUE(delivery.counts.empty());
    EXPECT_TRUE(file_names(temp_.path()).empty());
  }
}

TEST_F(OfficeConverter, CallbackRefusalStopsTheConversion) {
  const ScopedEnv soffice("VELLORA_SOFFICE", copying_stand_in());
  const std::string doc = compound_file("letter.doc", 40000);
  const auto delivery = converter_.convert(doc, 8192, 2);
  EXPECT_EQ(delivery.result, kCancelled);
  EXPECT_EQ(delivery.counts.size(), 2u);
  EXPECT_TRUE(file_names(temp_.path()).empty());
}

TEST_F(OfficeConverter, MissingBufferOrCallbackAndRtfToForeign) {
  const ScopedEnv soffice("VELLORA_SOFFICE", copying_stand_in());
  const std::string doc = compound_file("letter.doc", 100);
  auto* convert = reinterpret_cast<ForeignToRtfEntry>(converter_.entry(kForeignToRtfName));
  auto* back = reinterpret_cast<RtfToForeignEntry>(converter_.entry(kRtfToForeignName));
  ASSERT_TRUE(convert != nullptr && back != nullptr);
  const GlobalHandle name = converter_.string_block(doc);
  const GlobalHandle buffer = library_.allocate(8192);
  const auto never = [](std::int32_t, std::int32_t) -> std::int32_t { return 1; };
  EXPECT_EQ(convert(name, nullptr, nullptr, nullptr, nullptr, never), kBadArguments);
  EXPECT_EQ(convert(name, nullptr, buffer, nullptr, nullptr, nullptr), kBadArguments);
  EXPECT_EQ(convert(nullptr, nullptr, buffer, nullptr, nullptr, never), kInputUnreadable);
  EXPECT_NE(back(name, nullptr, buffer, nullptr, never), 0);
  EXPECT_EQ(converter_.init(), 0);
  library_.release(buffer);
  library_.release(name);
  EXPECT_TRUE(file_names(temp_.path()).empty());
}

// A host killed during a conversion leaves its workspace, holding a copy
// of the document; the next conversion removes it, and every other
// leftover that nobody holds, but no workspace in use and nothing else.
TEST_F(OfficeConverter, WorkspacesOfKilledHostsAreRemovedAtTheNextConversion) {
  const std::string doc = compound_file("letter.doc", 100);
  // Made before TMPDIR changed, so outside the temporary folder.
  const fs::path outside = files_.path();
  write_file(outside / "precious.txt", std::string("keep me"));
  // The program lets the workspace's lock go, then kills the host under it.
  const std::string killer = copying_stand_in("exec 3>&-\nkill -9 $PPID");
  const pid_t host = ::fork();
  ASSERT_GE(host, 0);
  if (host == 0) {
    ::setenv("VELLORA_SOFFICE", killer.c_str(), 1);
    (void)converter_.convert(doc);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(host, &status, 0), host);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the host was not killed";
  const std::vector<std::string> killed = file_names(temp_.path());
  ASSERT_EQ(killed.size(), 1u);
  ASSERT_TRUE(fs::exists(temp_ / killed.front() / "input.doc"));
  fs::create_symlink(outside / "precious.txt", temp_ / killed.front() / "link");

  // A conversion at work: its lock is held here.
  const auto folder = [&](const std::string& name, bool has_lock) {
    fs::create_directories(temp_ / name / "profile" / "user");
    write_file(temp_ / name / "input.doc", kSignature);
    if (has_lock) write_file(temp_ / name / ".lock", std::string());
    return temp_ / name;
  };
  folder("vellora-office-Busy01", true);
  const UniqueFd held(::open((temp_ / "vellora-office-Busy01" / ".lock").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
  // Lockless workspaces of older versions: one of two days ago, one new.
  folder("vellora-office-Old001", false);
  const timespec two_days_ago[2] = {{std::time(nullptr) - 2 * 86400, 0}, {std::time(nullptr) - 2 * 86400, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (temp_ / "vellora-office-Old001").c_str(), two_days_ago, AT_SYMLINK_NOFOLLOW), 0);
  folder("vellora-office-New001", false);
  // A link of the pattern's name to a workspace-like folder elsewhere.
  fs::create_directory_symlink(folder("elsewhere", true), temp_ / "vellora-office-Link01");
  std::vector<std::string> expected = {"elsewhere", "vellora-office-Busy01", "vellora-office-Link01",
                                       "vellora-office-New001"};
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(folder("vellora-office-Else01", true).c_str(), 12345, 12345), 0);
    expected.push_back("vellora-office-Else01");
  }
  std::sort(expected.begin(), expected.end());

  const ScopedEnv soffice("VELLORA_SOFFICE", copying_stand_in());
  EXPECT_EQ(converter_.convert(doc).result, 0);
  EXPECT_EQ(file_names(temp_.path()), expected);
  EXPECT_EQ(file_names(temp_ / "elsewhere"), (std::vector<std::string>{".lock", "input.doc", "profile"}));
  EXPECT_EQ(file_names(outside), (std::vector<std::string>{"letter.doc", "precious.txt"}));
  EXPECT_EQ(read_text(outside / "precious.txt"), "keep me");
}

bool is_running(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  const std::size_t state_at = text.rfind(')') + 2;
  return state_at < text.size() && text[state_at] != 'Z' && text[state_at] != 'X';
}

TEST_F(OfficeConverter, TimeLimitKillsTheWholeProcessGroup) {
  const fs::path sleeper = programs_ / "sleeping-office";
  write_program(sleeper, "#!/bin/sh\nsleep 30 &\necho $! > '" + (programs_ / "child").string() + "'\nwait\n");
  const ScopedEnv soffice("VELLORA_SOFFICE", sleeper.string());
  const ScopedEnv timeout("VELLORA_OFFICE_TIMEOUT", "1");
  const std::string doc = compound_file("letter.doc", 100);
  const auto start = std::chrono::steady_clock::now();
  const auto delivery = converter_.convert(doc);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(delivery.result, kOfficeFailed);
  EXPECT_TRUE(delivery.counts.empty());
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_TRUE(file_names(temp_.path()).empty());
  // The shell's child died with it; give the kernel a moment to finish it.
  std::string child;
  std::istringstream(read_text(programs_ / "child")) >> child;
  ASSERT_FALSE(child.empty());
  for (int i = 0; i < 100 && is_running(child); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(is_running(child)) << "sleep " << child << " outlived the time limit";
}

// ---- Real LibreOffice on real documents -------------------------------

std::vector<std::string> words_of(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')) {
      word += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte);
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// True when `wanted` occurs in `words` in order, with at most `slack`
// other words in between in all (quotes, bullets and link fields).
bool occurs_in_order(const std::vector<std::string>& wanted, const std::vector<std::string>& words, std::size_t slack) {
  for (std::size_t start = 0; start < words.size(); ++start) {
    if (words[start] != wanted.front()) continue;
    std::size_t at = start;
    std::size_t matched = 0;
    while (matched < wanted.size() && at < words.size() && at - start - matched <= slack) {
      if (words[at] == wanted[matched]) ++matched;
      ++at;
    }
    if (matched == wanted.size() && at - start - matched <= slack) return true;
  }
  return false;
}

bool has_program(const char* name) {
  return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string command_output(const std::string& command) {
  std::string output;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return output;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;) output.append(chunk, got);
  return output;
}

// Two licence texts made into Word 97 documents by one LibreOffice run;
// one test, as every test process would make them again.
TEST_F(OfficeConverter, RealDocumentsConvertWithTheirWordsInOrder) {
  if (!has_program("soffice")) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
  if (!has_program("unrtf")) GTEST_SKIP() << "unrtf is not installed";
  const char* const licences[] = {"GPL-3", "Apache-2.0"};
  const TempDir& documents = files_;  // not under the TMPDIR the conversions use
  std::string command = "soffice -env:UserInstallation=file://" + documents.path().string() +
                        "/profile --headless --convert-to 'doc:MS Word 97' --outdir '" + documents.path().string() +
                        "'";
  for (const char* licence : licences) {
    const fs::path text = fs::path("/usr/share/common-licenses") / licence;
    if (!fs::is_regular_file(text)) GTEST_SKIP() << text.string() << " is missing";
    fs::copy_file(text, documents / (std::string(licence) + ".txt"));
    command += " '" + (documents / (std::string(licence) + ".txt")).string() + "'";
  }
  ASSERT_EQ(std::system((command + " >/dev/null 2>&1 </dev/null").c_str()), 0) << command;
  const auto doc = [&](const char* licence) { return (documents / (std::string(licence) + ".doc")).string(); };
  const auto text = [&](const char* licence) { return (documents / (std::string(licence) + ".txt")).string(); };

  for (const char* licence : licences) {
    EXPECT_EQ(converter_.check(doc(licence)), 1) << licence;
    EXPECT_EQ(converter_.check(text(licence)), 0) << licence;
  }
  {
    const ScopedEnv soffice("VELLORA_SOFFICE", "/nonexistent");
    EXPECT_EQ(converter_.check(doc(licences[0])), 0);
  }

  struct Row {
    const char* licence;
    std::size_t buffer_bytes;
  };
  for (const Row row : {Row{"GPL-3", 8192}, Row{"Apache-2.0", 1000}}) {
    SCOPED_TRACE(row.licence);
    const auto delivery = converter_.convert(doc(row.licence), row.buffer_bytes);
    ASSERT_EQ(delivery.result, 0);
    EXPECT_TRUE(delivery.rtf.starts_with("{\\rtf"));
    ASSERT_GT(delivery.counts.size(), 1u);
    for (const std::int32_t count : delivery.counts) {
      EXPECT_GT(count, 0);
      EXPECT_LE(static_cast<std::size_t>(count), row.buffer_bytes);
    }
    EXPECT_TRUE(std::is_sorted(delivery.percents.begin(), delivery.percents.end()));
    EXPECT_EQ(delivery.percents.back(), 100);
    EXPECT_TRUE(file_names(temp_.path()).empty());

    const fs::path rtf = files_ / (std::string(row.licence) + ".rtf");
    write_file(rtf, delivery.rtf);
    const auto got = words_of(command_output("unrtf --text '" + rtf.string() + "' 2>/dev/null"));
    auto wanted = words_of(read_text(text(row.licence)));
    ASSERT_GE(wanted.size(), 200u);
    wanted.resize(200);
    EXPECT_TRUE(occurs_in_order(wanted, got, 40))
        << "the first 200 words of " << row.licence << " are not in the RTF's text";
  }

  const auto refused = converter_.convert(doc("Apache-2.0"), 8192, 1);
  EXPECT_EQ(refused.result, kCancelled);
  EXPECT_EQ(refused.counts.size(), 1u);
  EXPECT_TRUE(file_names(temp_.path()).empty());
}

}  // namespace
}  // namespace vellora::linux_host
