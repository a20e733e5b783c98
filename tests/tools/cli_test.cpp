// The vellora command as a user runs it: exit status, one-line errors, and
// the files it leaves.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "docmodel/staging.h"
#include "hosts/linux/work_folder.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

struct CliRun {
  int status = -1;
  std::string out;  // stdout and stderr together
};

// `environment` ("LC_ALL=C ...") is set for the command alone, and so is
// `umask` ("077") when given; `limits` are shell commands run first
// ("ulimit -f 64").
CliRun vellora(const std::string& args, const std::string& environment = "", const std::string& umask = "",
               const std::string& limits = "") {
  CliRun run;
  const std::string command = (limits.empty() ? "" : limits + "; ") + (umask.empty() ? "" : "umask " + umask + "; ") +
                              (environment.empty() ? "" : "env " + environment + " ") + std::string(VELLORA_CLI) + " " +
                              args + " 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, got);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::size_t line_count(const std::string& text) {
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

class Cli : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return "'" + (dir / name).string() + "'"; }
  testing::TempDir dir;
};

TEST_F(Cli, ConvertThenDumpARealTextFile) {
  testing::write_file(dir / "Read Me.TXT", "Hello handheld\n\n\tindented line\n");
  const auto converted = vellora("convert " + at("Read Me.TXT") + " -o " + at("out.pdb"));
  ASSERT_EQ(converted.status, 0) << converted.out;
  EXPECT_NE(converted.out.find("\"read me.txt\", 3 paragraphs, 4 records"), std::string::npos) << converted.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "Read Me.TXT"));  // convert never deletes its source
  // Only the output is left behind: no staging files, no working folders.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2u);

  const auto dump = vellora("dump " + at("out.pdb"));
  ASSERT_EQ(dump.status, 0) << dump.out;
  EXPECT_NE(dump.out.find("type VLTx, creator bhV1, version 2"), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("\"Hello handheld\""), std::string::npos);
  EXPECT_NE(dump.out.find("empty line, height 8"), std::string::npos);
  EXPECT_NE(dump.out.find("layout check: ok"), std::string::npos);

  const auto json = vellora("dump --json " + at("out.pdb"));
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(json.out.rfind("{\"file\":", 0), 0u);
  EXPECT_NE(json.out.find("\"name\":\"read me.txt\""), std::string::npos);
  EXPECT_NE(json.out.find("\"kind\":\"header\",\"tag\":2,\"line_total\":3"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"problems\":[]"), std::string::npos);
}

TEST_F(Cli, StageLeavesBothStagingFiles) {
  testing::write_file(dir / "a.txt", "one\ntwo\n");
  std::filesystem::create_directory(dir / "out");
  const auto staged = vellora("stage " + at("a.txt") + " -C " + at("out"));
  ASSERT_EQ(staged.status, 0) << staged.out;
  EXPECT_EQ(testing::read_file(dir / "out" / kStagingSizesFile).size(), 4u);
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / kStagingDataFile));
}

TEST_F(Cli, BadInputGivesOneLineNamingTheFile) {
  testing::write_file(dir / "page.htm", "<p>hi</p>");  // no <html>: no text is read
  testing::write_file(dir / "notes.doc", "\xD0\xCF\x11\xE0");
  testing::write_file(dir / "picture.gif", "GIF89a");
  testing::write_file(dir / "broken.pdb", "not a database at all");
  std::filesystem::create_directory(dir / "folder.txt");
  std::filesystem::create_symlink("/dev/zero", dir / "zero.txt");
  ASSERT_EQ(::mkfifo((dir / "fifo.txt").c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"convert " + at("zero.txt") + " -o " + at("x.pdb"), "zero.txt: is a character device, not a regular file"},
      {"convert " + at("fifo.txt") + " -o " + at("x.pdb"), "fifo.txt: is a FIFO, not a regular file"},
      {"convert " + at("absent.txt") + " -o " + at("x.pdb"), "absent.txt: no such file"},
      {"convert " + at("notes.doc") + " -o " + at("x.pdb"), "notes.doc: no text converter takes it, and it is not RTF"},
      {"convert " + at("page.htm") + " -o " + at("x.pdb"), "page.htm: no text could be read from it"},
      {"convert " + at("picture.gif") + " -o " + at("x.pdb"), "picture.gif: not a document type"},
      {"convert " + at("folder.txt") + " -o " + at("x.pdb"), "folder.txt: is a folder"},
      {"stage " + at("notes.doc"), "notes.doc: no text converter takes it, and it is not RTF"},
      {"dump " + at("broken.pdb"), "broken.pdb: "},
      {"dump " + at("absent.pdb"), "absent.pdb: "},
  };
  for (const auto& [args, message] : cases) {
    const auto run = vellora(args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_EQ(line_count(run.out), 1u) << run.out;
    EXPECT_EQ(run.out.rfind("vellora: ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(message), std::string::npos) << run.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "x.pdb"));
  EXPECT_EQ(vellora("convert").status, 1);
  EXPECT_EQ(vellora("--help").status, 0);
}

// A database that cannot be written (here for a limit on file sizes, as a
// full disk would) is the output's failure, in the system's words.
TEST_F(Cli, ADatabaseThatCannotBeWrittenSaysWhy) {
  std::string big;
  for (int i = 0; big.size() < 200'000; ++i) big += "line " + std::to_string(i) + " of a long text\n";
  testing::write_file(dir / "big.txt", big);
  const auto run = vellora("convert " + at("big.txt") + " -o " + at("big.pdb"), "", "", "trap '' XFSZ; ulimit -f 64");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "vellora: " + (dir / "big.pdb").string() + ": cannot write: File too large\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "big.pdb"));
}

// A command whose output is its own input, by any name or link, would
// destroy the input: it is refused with one line and nothing changes.
TEST_F(Cli, AnOutputThatIsTheInputIsRefusedAndNothingChanges) {
  testing::write_file(dir / "a.txt", "the only copy\n");
  ASSERT_EQ(vellora("convert " + at("a.txt") + " -o " + at("a.pdb")).status, 0);
  std::filesystem::create_hard_link(dir / "a.txt", dir / "twin.txt");
  std::filesystem::create_symlink(dir / "a.txt", dir / "link.txt");
  std::filesystem::create_directory(dir / "stage");
  std::filesystem::create_hard_link(dir / "a.txt", dir / "stage" / kStagingDataFile);
  const auto text_before = testing::read_file(dir / "a.txt");
  const auto database_before = testing::read_file(dir / "a.pdb");
  const std::string cases[] = {
      "convert " + at("a.txt") + " -o " + at("a.txt"),
      "convert " + at("a.txt") + " -o " + at("twin.txt"),
      "convert " + at("link.txt") + " -o " + at("a.txt"),
      "convert " + at("a.txt") + " -o " + at("b.pdb") + " --preview " + at("a.txt"),
      "export " + at("a.pdb") + " --to txt -o " + at("a.pdb"),
      "preview " + at("a.pdb") + " -o " + at("a.pdb"),
      "stage " + at("a.txt") + " -C " + at("stage"),
  };
  for (const auto& args : cases) {
    const auto run = vellora(args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_EQ(line_count(run.out), 1u) << run.out;
    EXPECT_EQ(run.out.rfind("vellora: ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(" are the same file"), std::string::npos) << run.out;
  }
  EXPECT_EQ(testing::read_file(dir / "a.txt"), text_before);
  EXPECT_EQ(testing::read_file(dir / "a.pdb"), database_before);
  EXPECT_EQ(testing::file_names(dir.path()),
            (std::vector<std::string>{"a.pdb", "a.txt", "link.txt", "stage", "twin.txt"}));
  EXPECT_EQ(testing::file_names(dir / "stage"), std::vector<std::string>{kStagingDataFile});

  // A new output, or another file, is written as before.
  EXPECT_EQ(vellora("export " + at("a.pdb") + " --to txt -o " + at("back.txt")).status, 0);
  EXPECT_EQ(vellora("convert " + at("back.txt") + " -o " + at("a.pdb")).status, 0);
}

}  // namespace
}  // namespace vellora

namespace vellora {
namespace {

class CliSync : public Cli {
 protected:
  CliSync() {
    for (const char* folder : {"send", "receive", "handheld"}) std::filesystem::create_directory(dir / folder);
    testing::write_file(dir / "registry.reg",
                        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n"
                        "\"FolderForSFiles\"=\"" +
                            (dir / "send").string() +
                            "\"\n"
                            "\"FolderForRFiles\"=\"" +
                            (dir / "receive").string() + "\"\n");
  }
  CliRun run_sync(const std::string& answer) {
    return vellora("sync --registry " + at("registry.reg") + " --handheld " + at("handheld") + " --log " +
                   at("hotsync.log") + " --answer " + answer + " < /dev/null");
  }
};

TEST_F(CliSync, SendsReceivesAndAsksBeforeOverwriting) {
  testing::write_file(dir / "note.txt", "on the handheld\n");
  ASSERT_EQ(vellora("convert " + at("note.txt") + " -o " + at("handheld/note.pdb")).status, 0);
  ASSERT_EQ(vellora("mark note.txt --handheld " + at("handheld")).status, 0);
  testing::write_file(dir / "send" / "Report.TXT", "to the handheld\n");

  const auto first = run_sync("no");
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_NE(first.out.find("received note.txt -> "), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("sent     Report.TXT -> handheld \"report.txt\""), std::string::npos) << first.out;
  EXPECT_EQ(testing::read_file(dir / "receive" / "note.txt").size(), 16u);
  EXPECT_TRUE(std::filesystem::exists(dir / "handheld" / "report.txt.pdb"));
  EXPECT_FALSE(std::filesystem::exists(dir / "send" / "Report.TXT"));
  const auto log = testing::read_file(dir / "hotsync.log");
  EXPECT_EQ(line_count(std::string(log.begin(), log.end())), 2u);

  // The same name again: "no" keeps the file, "yes" replaces the database.
  testing::write_file(dir / "send" / "report.txt", "second version\n");
  const auto declined = run_sync("no");
  EXPECT_NE(declined.out.find("File report.txt already exists on your Palm Device! Overwrite? -> no"),
            std::string::npos)
      << declined.out;
  EXPECT_NE(declined.out.find("kept     report.txt: "), std::string::npos) << declined.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "send" / "report.txt"));
  const auto accepted = run_sync("yes");
  EXPECT_NE(accepted.out.find("sent     report.txt"), std::string::npos) << accepted.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "send" / "report.txt"));
  EXPECT_EQ(vellora("export " + at("handheld/report.txt.pdb") + " --to txt -o " + at("back.txt")).status, 0);
  EXPECT_EQ(testing::read_file(dir / "back.txt").size(), 15u);  // "second version\n"
}

TEST_F(CliSync, HtmlTravelsBothWays) {
  testing::write_file(dir / "send" / "Page.HTML",
                      "<html><head><title>T</title></head><body><h1>Hello</h1><p>world</p></body></html>");
  const auto sent = run_sync("no");
  ASSERT_EQ(sent.status, 0) << sent.out;
  EXPECT_NE(sent.out.find("sent     page.htm -> handheld \"page.htm\""), std::string::npos) << sent.out;
  ASSERT_TRUE(std::filesystem::exists(dir / "handheld" / "page.htm.pdb"));

  ASSERT_EQ(vellora("mark page.htm --handheld " + at("handheld")).status, 0);
  const auto received = run_sync("no");
  EXPECT_NE(received.out.find("received page.htm -> "), std::string::npos) << received.out;
  const auto html = testing::read_file(dir / "receive" / "page.htm");
  const std::string text(html.begin(), html.end());
  EXPECT_EQ(text.rfind("<!DOCTYPE HTML PUBLIC", 0), 0u) << text;
  EXPECT_NE(text.find("<title>T</title>"), std::string::npos) << text;
  EXPECT_NE(text.find(">Hello</font>"), std::string::npos) << text;

  ASSERT_EQ(vellora("export " + at("handheld/page.htm.pdb") + " --to htm -o " + at("again.htm") +
                    " --font-name Arial --registry " + at("registry.reg"))
                .status,
            0);
  const auto again = testing::read_file(dir / "again.htm");
  EXPECT_NE(std::string(again.begin(), again.end()).find("<basefont face=\"Arial\">"), std::string::npos);
}

// A .doc target is written as RTF as well.
TEST_F(CliSync, RtfTravelsBothWays) {
  testing::write_file(dir / "send" / "Notes.RTF",
                      "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;}\\qc\\b Hello\\b0\\par {\\cf1 world}\\par}");
  const auto sent = run_sync("no");
  ASSERT_EQ(sent.status, 0) << sent.out;
  EXPECT_NE(sent.out.find("sent     Notes.RTF -> handheld \"notes.rtf\""), std::string::npos) << sent.out;

  for (const std::string as : {"rtf", "doc"}) {
    ASSERT_EQ(vellora("mark notes.rtf --as " + as + " --handheld " + at("handheld")).status, 0);
    const auto received = run_sync("no");
    EXPECT_NE(received.out.find("received notes.rtf -> "), std::string::npos) << received.out;
    const auto rtf = testing::read_file(dir / "receive" / ("notes." + as));
    const std::string text(rtf.begin(), rtf.end());
    EXPECT_EQ(text.rfind("{\\rtf1\\ansi", 0), 0u) << text;
    EXPECT_NE(text.find("{\\pard\\qc\\plain {\\plain\\cf0 \\fs24 \\b Hello}\\par}"), std::string::npos) << text;
    EXPECT_NE(text.find("\\red255\\green0\\blue0;"), std::string::npos) << text;
  }

  ASSERT_EQ(vellora("export " + at("handheld/notes.rtf.pdb") + " --to rtf -o " + at("again.rtf") +
                    " --font-name Arial --font-size 12 --registry " + at("registry.reg"))
                .status,
            0);
  const auto again = testing::read_file(dir / "again.rtf");
  const std::string text(again.begin(), again.end());
  EXPECT_NE(text.find("{\\fonttbl{\\f0\\fnil Arial;}}"), std::string::npos) << text;
  EXPECT_NE(text.find("\\fs28 \\b Hello"), std::string::npos) << text;
}

// With or without --flush, convert writes the same bytes, replaces an
// older output in one rename and leaves nothing else behind, not even in
// the temporary folder.
TEST_F(Cli, ConvertReplacesTheOutputWithTheSameBytesWhetherFlushedOrNot) {
  std::filesystem::create_directories(dir / "tmp");
  testing::write_file(dir / "notes.htm", "<html><body><h1>Notes</h1><p>Some <b>bold</b> text</p>");
  testing::write_file(dir / "out.pdb", "an older file");
  const std::string environment = "TMPDIR=" + (dir / "tmp").string();
  const auto plain = vellora("convert " + at("notes.htm") + " -o " + at("out.pdb"), environment);
  ASSERT_EQ(plain.status, 0) << plain.out;
  const auto unflushed = testing::read_file(dir / "out.pdb");
  const auto flushed = vellora("convert --flush " + at("notes.htm") + " -o " + at("flushed.pdb"), environment);
  ASSERT_EQ(flushed.status, 0) << flushed.out;
  // Only the header's three dates (bytes 36 to 47) may differ: the runs
  // can fall in different seconds.
  const auto with_flush = testing::read_file(dir / "flushed.pdb");
  ASSERT_EQ(unflushed.size(), with_flush.size());
  EXPECT_TRUE(std::equal(unflushed.begin(), unflushed.begin() + 36, with_flush.begin()));
  EXPECT_TRUE(std::equal(unflushed.begin() + 48, unflushed.end(), with_flush.begin() + 48));
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
    left.push_back(std::filesystem::relative(entry.path(), dir.path()).string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"flushed.pdb", "notes.htm", "out.pdb", "tmp"}));
}

// A convert killed mid-way leaves its scratch folder; the next convert
// into that folder removes it, and leaves alone one still in use.
TEST_F(Cli, ConvertRemovesTheScratchFoldersOfKilledRunsOnly) {
  testing::write_file(dir / "notes.txt", "notes\n");
  testing::write_file(dir / "outside.txt", "outside\n");
  const pid_t killed = ::fork();
  ASSERT_GE(killed, 0);
  if (killed == 0) {
    // What a convert holds when it is killed: its folder, and a link to a
    // file outside that must survive the clean-up.
    const linux_host::WorkFolder scratch(dir.path(), ".vellora-");
    testing::write_file(scratch.path() / ".vellora-tmp-AbCdEf", "half a database");
    std::filesystem::create_symlink(dir / "outside.txt", scratch.path() / "link");
    ::_exit(scratch ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // One of a convert still at work, and one from before scratch folders
  // had locks.
  std::filesystem::create_directory(dir / ".vellora-Busy01");
  testing::write_file(dir / ".vellora-Busy01" / ".lock", "");
  const int held = ::open((dir / ".vellora-Busy01" / ".lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::filesystem::create_directory(dir / ".vellora-Old001");
  testing::write_file(dir / ".vellora-Old001" / "$$!!doc_file_temp!!$$.tmp", "{\\rtf1 x}");
  ASSERT_EQ(testing::file_names(dir.path()).size(), 5u);

  const auto run = vellora("convert " + at("notes.txt") + " -o " + at("notes.pdb"));
  ::close(held);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(testing::file_names(dir.path()),
            (std::vector<std::string>{".vellora-Busy01", "notes.pdb", "notes.txt", "outside.txt"}));
  EXPECT_EQ(testing::read_file(dir / "outside.txt").size(), 8u);
}

unsigned mode_of(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000u;
}

// What a command writes new is as open as the umask lets it be; a file it
// replaces keeps its mode, however open the umask.
TEST_F(Cli, NewOutputsFollowTheUmaskAndReplacedOnesKeepTheirMode) {
  testing::write_file(dir / "a.txt", "hello\n");
  ASSERT_EQ(vellora("convert " + at("a.txt") + " -o " + at("a.pdb") + " --preview " + at("a.png"), "", "077").status,
            0);
  ASSERT_EQ(vellora("export " + at("a.pdb") + " --to htm -o " + at("a.htm"), "", "077").status, 0);
  ASSERT_EQ(vellora("convert " + at("a.txt") + " -o " + at("b.pdb"), "", "027").status, 0);
  EXPECT_EQ(mode_of(dir / "a.pdb"), 0600u);
  EXPECT_EQ(mode_of(dir / "a.png"), 0600u);
  EXPECT_EQ(mode_of(dir / "a.htm"), 0600u);
  EXPECT_EQ(mode_of(dir / "b.pdb"), 0640u);

  std::filesystem::permissions(dir / "b.pdb", std::filesystem::perms(0640));
  for (const char* name : {"a.pdb", "a.png", "a.htm"})
    std::filesystem::permissions(dir / name, std::filesystem::perms(0600));
  ASSERT_EQ(vellora("convert " + at("a.txt") + " -o " + at("a.pdb") + " --preview " + at("a.png"), "", "022").status,
            0);
  ASSERT_EQ(vellora("export " + at("a.pdb") + " --to htm -o " + at("a.htm"), "", "022").status, 0);
  ASSERT_EQ(vellora("convert " + at("a.txt") + " -o " + at("b.pdb"), "", "077").status, 0);
  EXPECT_EQ(mode_of(dir / "a.pdb"), 0600u);
  EXPECT_EQ(mode_of(dir / "a.png"), 0600u);
  EXPECT_EQ(mode_of(dir / "a.htm"), 0600u);
  EXPECT_EQ(mode_of(dir / "b.pdb"), 0640u);
}

// Nesting far past the RTF reader's depth limit loses no text; an RTF file
// whose parse ends before its text does is kept back with the reason, and
// never deleted.
TEST_F(CliSync, DeepRtfNestingArrivesWholeAndACutRtfStays) {
  testing::write_file(dir / "send" / "deep.rtf", "{\\rtf1 visible start. " + std::string(4100, '{') +
                                                     "SECRET-TAIL text" + std::string(4100, '}') + " end\\par}");
  testing::write_file(dir / "send" / "stray.rtf", "{\\rtf1 a}} more text\\par}");
  const auto sent = run_sync("no");
  ASSERT_EQ(sent.status, 0) << sent.out;
  EXPECT_NE(sent.out.find("sent     deep.rtf"), std::string::npos) << sent.out;
  EXPECT_NE(sent.out.find("kept     stray.rtf: the RTF is read only up to a closing brace with no group open at "
                          "offset 9;"),
            std::string::npos)
      << sent.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "send" / "stray.rtf"));
  ASSERT_EQ(vellora("export " + at("handheld/deep.rtf.pdb") + " --to txt -o " + at("deep.txt")).status, 0);
  const auto text = testing::read_file(dir / "deep.txt");
  EXPECT_EQ(std::string(text.begin(), text.end()), "visible start. SECRET-TAIL text end\n");

  const auto converted = vellora("convert " + at("send/stray.rtf") + " -o " + at("stray.pdb"));
  EXPECT_EQ(converted.status, 0) << converted.out;
  EXPECT_NE(converted.out.find("(incomplete: the RTF is read only up to"), std::string::npos) << converted.out;
}

// Every file the send pass does not send gets a line saying why.
TEST_F(CliSync, EveryFilePassedOverIsReported) {
  for (const char* name : {"trail.txt ", "...", "picture.gif", "empty.txt"})
    testing::write_file(dir / "send" / name, std::string(name) == "empty.txt" ? "" : "x\n");
  ASSERT_EQ(::mkfifo((dir / "send" / "fifo.txt").c_str(), 0600), 0);
  std::filesystem::create_symlink("/etc/hostname", dir / "send" / "link.txt");
  const auto run = run_sync("no");
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* line :
       {"kept     trail.txt : its name ends in a space or a dot, so it is not taken for a .txt file; "
        "rename it to trail.txt to send it",
        "kept     ...: not a document type the handheld takes",
        "kept     picture.gif: not a document type the handheld takes", "kept     empty.txt: is empty",
        "kept     fifo.txt: is a FIFO; only regular files are sent",
        "kept     link.txt: is a symbolic link; only regular files are sent", "session done: 0 sent, 6 kept back"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  EXPECT_EQ(testing::file_names(dir / "send").size(), 6u);
}

// The registry file names the converter; the sync says which converter
// took a .doc file before it converts, and a failed conversion keeps it.
TEST_F(CliSync, DocFilesGoThroughTheRegisteredConverter) {
  testing::write_file(dir / "registry.reg",
                      std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n") +
                          "\"FolderForSFiles\"=\"" + (dir / "send").string() + "\"\n" +
                          "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord6]\n"
                          "\"Path\"=\"" +
                          VELLORA_TEST_CONVERTER_SIX + "\"\n");
  testing::write_file(dir / "send" / "Report.doc", "TEST-CONVERTER pieces=1,0,100\n{\\rtf1 Converted by @NAME@\\par}");
  testing::write_file(dir / "send" / "broken.doc", "TEST-CONVERTER fail-after=1\n{\\rtf1 Half\\par}");
  const auto run = run_sync("no");
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string converter = VELLORA_TEST_CONVERTER_SIX;
  EXPECT_NE(run.out.find("convert  Report.doc: with the text converter " + converter +
                         "\nsent     Report.doc -> handheld \"report.doc\""),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("kept     broken.doc: " + (dir / "send" / "broken.doc").string() + ": the text converter " +
                         converter + " failed"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(testing::file_names(dir / "send"), std::vector<std::string>{"broken.doc"});
  const auto dump = vellora("dump " + at("handheld/report.doc.pdb"));
  EXPECT_NE(dump.out.find("\"Converted by six\""), std::string::npos) << dump.out;

  testing::write_file(dir / "Letter.DOC", "TEST-CONVERTER\n{\\rtf1 A letter\\par}");
  const auto converted =
      vellora("convert " + at("Letter.DOC") + " -o " + at("letter.pdb") + " --registry " + at("registry.reg"));
  ASSERT_EQ(converted.status, 0) << converted.out;
  EXPECT_EQ(converted.out.rfind("converting with the text converter " + converter + "\n", 0), 0u) << converted.out;
  EXPECT_NE(converted.out.find("\"letter.doc\", 1 paragraph, 2 records"), std::string::npos) << converted.out;
}

// A sync killed while a converter ran leaves its private folder in the
// send folder, and older versions an empty temporary file; the next sync
// removes both, and never a user's file of that name elsewhere.
TEST_F(CliSync, WhatAKilledWordConversionLeftIsRemoved) {
  std::filesystem::create_directory(dir / "send" / ".vellora-word-AbCdEf");
  testing::write_file(dir / "send" / ".vellora-word-AbCdEf" / "$$!!doc_file_temp!!$$.tmp", "{\\rtf1 half");
  testing::write_file(dir / "send" / "$$!!doc_file_temp!!$$.tmp", "");
  testing::write_file(dir / "send" / "a.txt", "a\n");
  const auto run = run_sync("no");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(std::filesystem::is_empty(dir / "send")) << run.out;
}

TEST_F(CliSync, NamesReachTheTerminalEscaped) {
  testing::write_file(dir / "send" / "red\x1b[31m.txt", "x\n");
  testing::write_file(dir / "send" / "two\nlines.txt", "y\n");
  const auto run = run_sync("no");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("sent     red\\x1B[31m.txt -> "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("sent     two\\x0Alines.txt -> "), std::string::npos) << run.out;
}

TEST_F(Cli, TheFlagTheSettingAndTheLocaleChooseTheEncoding) {
  testing::write_file(dir / "note.txt", "café €\n");
  for (const char* value : {"utf-8", "cp1252", "latin9"})
    testing::write_file(dir / (std::string(value) + ".reg"),
                        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n\"TextEncoding\"=\"" +
                            std::string(value) + "\"\n");
  const std::string clean = "-u LC_ALL -u LC_CTYPE -u LANG XDG_CONFIG_HOME=" + at("config") + " ";
  const struct {
    std::string environment, flags;
    bool transcodes;
  } cases[] = {
      {"LANG=en_GB.UTF-8", "", true},
      {"LC_CTYPE=C.utf8 LANG=C", "", true},
      {"LC_ALL=C LANG=C.UTF-8", "", false},
      {"", "", false},
      {"LC_ALL=C", "--registry " + at("utf-8.reg"), true},
      {"LC_ALL=C.UTF-8", "--registry " + at("cp1252.reg"), false},
      {"LC_ALL=C", "--registry " + at("cp1252.reg") + " --encoding utf-8", true},
  };
  for (const auto& c : cases) {
    const auto run =
        vellora("convert " + at("note.txt") + " -o " + at("note.pdb") + " " + c.flags, clean + c.environment);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("(transcoded from UTF-8)") != std::string::npos, c.transcodes)
        << c.environment << c.flags << run.out;
  }
  const auto bad =
      vellora("convert " + at("note.txt") + " -o " + at("note.pdb") + " --registry " + at("latin9.reg"), clean);
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(line_count(bad.out), 1u);
  EXPECT_NE(bad.out.find("TextEncoding is \"latin9\""), std::string::npos) << bad.out;
}

TEST_F(CliSync, AUtf8NoteTravelsBothWaysWithItsName) {
  const std::string note = "Café crème “brûlée” €4 漢\n";
  testing::write_file(dir / "send" / "Café.txt", note);
  const std::string utf8 = "LC_ALL=C.UTF-8";
  const auto sent = vellora("sync --registry " + at("registry.reg") + " --handheld " + at("handheld") + " --log " +
                                at("hotsync.log") + " < /dev/null",
                            utf8);
  ASSERT_EQ(sent.status, 0) << sent.out;
  EXPECT_NE(
      sent.out.find("sent     Café.txt -> handheld \"café.txt\" (transcoded from UTF-8, 1 character replaced by '?')"),
      std::string::npos)
      << sent.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "handheld" / "caf%E9.txt.pdb"));
  const auto dump = vellora("dump " + at("handheld/caf%E9.txt.pdb"), utf8);
  EXPECT_NE(dump.out.find("“brûlée” €4 ?"), std::string::npos) << dump.out;

  ASSERT_EQ(vellora("mark café.txt --handheld " + at("handheld"), utf8).status, 0);
  const auto received = vellora("sync --registry " + at("registry.reg") + " --handheld " + at("handheld") + " --log " +
                                    at("hotsync.log") + " < /dev/null",
                                utf8);
  ASSERT_EQ(received.status, 0) << received.out;
  const auto back = testing::read_file(dir / "receive" / "café.txt");
  std::string expected = note;
  expected.replace(expected.find("漢"), 3, "?");
  EXPECT_EQ(std::string(back.begin(), back.end()), expected);
}

TEST_F(Cli, ExportAndMarkNameTheTypesTheyTake) {
  testing::write_file(dir / "a.txt", "hello\n");
  ASSERT_EQ(vellora("convert " + at("a.txt") + " -o " + at("a.pdb")).status, 0);
  std::filesystem::create_directory(dir / "handheld");
  EXPECT_EQ(vellora("export " + at("a.pdb") + " --to doc -o " + at("a.doc")).out,
            "vellora: doc: not an export type (txt, htm or rtf)\n");
  EXPECT_EQ(vellora("export " + at("a.pdb") + " --to DOC -o " + at("a.doc")).out,
            "vellora: DOC: not an export type (txt, htm or rtf)\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "a.doc"));
  EXPECT_EQ(vellora("mark notes --as pdf --handheld " + at("handheld")).out,
            "vellora: notes: say which type to receive it as: --as txt, htm, doc or rtf\n");
  EXPECT_NE(vellora("export --help").out.find("File type to write: txt, htm or rtf"), std::string::npos);
  EXPECT_NE(vellora("mark --help").out.find("Type to receive it as: txt, htm, doc or rtf (default: from the name)"),
            std::string::npos);
  const auto exported = vellora("export " + at("a.pdb") + " --to HTML -o " + at("a.htm"));
  EXPECT_EQ(exported.status, 0) << exported.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "a.htm"));
}

TEST_F(Cli, TheManPageNamesEverySubcommandAndOptionOfTheHelp) {
  const auto page_bytes = testing::read_file(std::filesystem::path(VELLORA_SOURCE_DIR) / "docs/vellora.1");
  std::string page(page_bytes.begin(), page_bytes.end());
  for (std::size_t at; (at = page.find("\\-")) != std::string::npos;) page.replace(at, 2, "-");
  const auto words_after = [](const std::string& text, const std::string& heading) {
    std::vector<std::string> words;
    std::istringstream lines(text.substr(text.find(heading) + heading.size()));
    for (std::string line; std::getline(lines, line) && !line.empty();) {
      std::istringstream fields(line);
      std::string word;
      fields >> word;
      if (!word.empty() && word.back() == ',') word.pop_back();
      words.push_back(word);
    }
    return words;
  };
  const auto subcommands = words_after(vellora("--help").out, "Subcommands:\n");
  ASSERT_GE(subcommands.size(), 7u);
  for (const std::string& subcommand : subcommands) {
    if (subcommand.empty() || subcommand.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos) continue;
    EXPECT_NE(page.find(".B " + subcommand), std::string::npos) << subcommand;
    for (std::string option : words_after(vellora(subcommand + " --help").out, "Options:\n")) {
      // "-o,--output" names two spellings; "-h,--help" every command has.
      for (std::size_t comma; (comma = option.find(',')) != std::string::npos;) {
        if (option.substr(0, comma) != "-h") {
          EXPECT_NE(page.find(option.substr(0, comma)), std::string::npos) << subcommand << " " << option;
        }
        option.erase(0, comma + 1);
      }
      if (option != "--help" && option.rfind("-", 0) == 0) {
        EXPECT_NE(page.find(option), std::string::npos) << subcommand << " " << option;
      }
    }
  }
  EXPECT_NE(vellora("--version").out.find("vellora " + std::string(VELLORA_VERSION)), std::string::npos);
}

TEST_F(CliSync, ADamagedCatalogIsReportedAndNeverReplaced) {
  testing::write_file(dir / "note.txt", "on the handheld\n");
  ASSERT_EQ(vellora("convert " + at("note.txt") + " -o " + at("handheld/note.pdb")).status, 0);
  ASSERT_EQ(vellora("mark note.txt --handheld " + at("handheld")).status, 0);
  const auto catalog = dir / "handheld" / "Vellora file DB.pdb";
  auto bytes = testing::read_file(catalog);
  bytes.resize(bytes.size() - 10);  // cut into its one record
  testing::write_file(catalog, bytes);

  const auto run = run_sync("no");
  EXPECT_EQ(run.status, 3) << run.out;  // the session ran, with a problem
  EXPECT_NE(run.out.find("problem  Vellora file DB: damaged, so it was left as it is: record 0 is 30 bytes"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(std::filesystem::is_empty(dir / "receive"));
  EXPECT_EQ(testing::read_file(catalog), bytes);

  const auto mark = vellora("mark note.txt --handheld " + at("handheld"));
  EXPECT_EQ(mark.status, 1);
  EXPECT_EQ(line_count(mark.out), 1u) << mark.out;
  EXPECT_NE(mark.out.find("Vellora file DB.pdb"), std::string::npos) << mark.out;
  EXPECT_EQ(testing::file_names(dir / "handheld"),
            (std::vector<std::string>{".vellora.lock", "Vellora file DB.pdb", "note.pdb"}));

  // A catalog whose record list runs past its file is not a database at all.
  bytes.resize(80);
  testing::write_file(catalog, bytes);
  const auto again = run_sync("no");
  EXPECT_NE(again.out.find("problem  Vellora file DB: damaged or unreadable, so it was left as it is"),
            std::string::npos)
      << again.out;
  EXPECT_EQ(vellora("mark note.txt --handheld " + at("handheld")).status, 1);
  EXPECT_EQ(testing::read_file(catalog), bytes);
}

// A file sent whose deletion fails is a problem, not a file sent: its line
// goes to stderr, the summary counts it apart, and the status says so.
TEST_F(CliSync, ASentFileThatCannotBeDeletedIsAProblem) {
  testing::write_file(dir / "send" / "stuck.txt", "stays\n");
  testing::write_file(dir / "send" / "fine.txt", "goes\n");
  // An immutable file cannot be unlinked, even by root.
  const std::string stuck = at("send/stuck.txt");
  if (std::system(("chattr +i " + stuck + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "chattr +i is not possible here, so no file can be made undeletable";
  const std::string command = std::string(VELLORA_CLI) + " sync --registry " + at("registry.reg") + " --handheld " +
                              at("handheld") + " --log " + at("hotsync.log") + " < /dev/null > " + at("out") + " 2> " +
                              at("err");
  const int status = std::system(command.c_str());
  (void)std::system(("chattr -i " + stuck).c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  const auto out_bytes = testing::read_file(dir / "out");
  const auto err_bytes = testing::read_file(dir / "err");
  const std::string out(out_bytes.begin(), out_bytes.end()), err(err_bytes.begin(), err_bytes.end());
  EXPECT_NE(out.find("sent     fine.txt -> handheld \"fine.txt\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("sent     stuck.txt -> handheld \"stuck.txt\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("session done: 1 sent, 0 kept back, 0 received, 0 not received, 1 problem\n"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("problem"), out.find("problem\n")) << out;  // only the summary's word
  EXPECT_EQ(err, "problem  stuck.txt: sent, but the file could not be deleted: Operation not permitted\n");
  EXPECT_EQ(testing::file_names(dir / "send"), std::vector<std::string>{"stuck.txt"});
}

// A sync under umask 077 writes databases and received files for the user
// alone; a received file that replaces one keeps that one's mode.
TEST_F(CliSync, DatabasesAndReceivedFilesFollowTheUmask) {
  testing::write_file(dir / "registry.reg",
                      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n"
                      "\"FolderForSFiles\"=\"" +
                          (dir / "send").string() +
                          "\"\n"
                          "\"FolderForRFiles\"=\"" +
                          (dir / "receive").string() +
                          "\"\n"
                          "\"FromPalmToPC\"=dword:00000000\n");
  testing::write_file(dir / "note.txt", "on the handheld\n");
  testing::write_file(dir / "memo.txt", "on the handheld too\n");
  for (const char* name : {"note", "memo"}) {
    ASSERT_EQ(
        vellora("convert " + at(std::string(name) + ".txt") + " -o " + at("handheld/" + std::string(name) + ".pdb"))
            .status,
        0);
    ASSERT_EQ(vellora("mark " + std::string(name) + ".txt --handheld " + at("handheld")).status, 0);
  }
  testing::write_file(dir / "receive" / "memo.txt", "an older memo\n");
  std::filesystem::permissions(dir / "receive" / "memo.txt", std::filesystem::perms(0640));
  testing::write_file(dir / "send" / "new.txt", "to the handheld\n");
  const auto run = vellora("sync --registry " + at("registry.reg") + " --handheld " + at("handheld") + " --log " +
                               at("hotsync.log") + " < /dev/null",
                           "", "077");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(mode_of(dir / "handheld" / "new.txt.pdb"), 0600u);
  EXPECT_EQ(mode_of(dir / "receive" / "note.txt"), 0600u);
  EXPECT_EQ(mode_of(dir / "receive" / "memo.txt"), 0640u);
  EXPECT_EQ(testing::read_file(dir / "receive" / "memo.txt").size(), 20u);
}

TEST_F(CliSync, AHandheldConfThatIsNoFileIsAnErrorNotAHang) {
  ASSERT_EQ(::mkfifo((dir / "handheld" / "handheld.conf").c_str(), 0600), 0);
  const auto run = run_sync("no");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("handheld.conf: not a regular file"), std::string::npos) << run.out;
}

TEST_F(CliSync, ForeignDatabaseKeepsTheFileAndWarns) {
  testing::write_file(dir / "send" / "data.txt", "x");
  ASSERT_EQ(vellora("convert " + at("send/data.txt") + " -o " + at("handheld/data.pdb")).status, 0);
  // Give the database another application's creator code.
  auto bytes = testing::read_file(dir / "handheld" / "data.pdb");
  bytes[64] = 'z';
  testing::write_file(dir / "handheld" / "data.pdb", bytes);
  const auto run = run_sync("yes");
  EXPECT_NE(run.out.find("Warning: Not all files are sent on your Palm device"), std::string::npos) << run.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "send" / "data.txt"));
}

TEST_F(CliSync, UnusableSettingsOrHandheldStopWithOneLine) {
  const auto no_registry = vellora("sync --registry " + at("absent.reg") + " --handheld " + at("handheld"));
  EXPECT_EQ(no_registry.status, 1);
  EXPECT_EQ(line_count(no_registry.out), 1u) << no_registry.out;
  testing::write_file(dir / "bad.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=nonsense\n");
  const auto bad = vellora("sync --registry " + at("bad.reg") + " --handheld " + at("handheld"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("line 3"), std::string::npos) << bad.out;
  const auto no_handheld = vellora("sync --registry " + at("registry.reg") + " --handheld " + at("nowhere"));
  EXPECT_EQ(no_handheld.status, 1);
  EXPECT_NE(no_handheld.out.find("no such handheld folder"), std::string::npos);

  // A malformed handheld.conf stops the session before it starts, rather
  // than reading as a full handheld; nothing is sent.
  testing::write_file(dir / "send" / "a.txt", "text\n");
  testing::write_file(dir / "handheld" / "handheld.conf", "# sizes\nmemory = lots\n");
  const auto bad_conf = run_sync("no");
  EXPECT_EQ(bad_conf.status, 1);
  EXPECT_EQ(line_count(bad_conf.out), 1u) << bad_conf.out;
  EXPECT_NE(bad_conf.out.find("handheld.conf: line 2"), std::string::npos) << bad_conf.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "send" / "a.txt"));
}

}  // namespace
}  // namespace vellora

namespace vellora {
namespace {

// Two sessions started together that share a folder: with distinct
// handhelds they would interleave in the send or receive folder; each must
// instead wait for the other, and no file may be lost.
class CliTwoSessions : public Cli {
 protected:
  void write_registry(const std::string& name, const std::string& send, const std::string& receive) {
    testing::write_file(dir / name,
                        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n"
                        "\"FolderForSFiles\"=\"" +
                            (dir / send).string() +
                            "\"\n"
                            "\"FolderForRFiles\"=\"" +
                            (dir / receive).string() +
                            "\"\n"
                            "\"FromPCToPalm\"=dword:00000000\n\"FromPalmToPC\"=dword:00000000\n");
  }
  // Starts both sessions before reading either's output.
  std::pair<CliRun, CliRun> run_both() {
    const auto command = [&](int n) {
      return std::string(VELLORA_CLI) + " sync --registry " + at("r" + std::to_string(n) + ".reg") + " --handheld " +
             at("h" + std::to_string(n)) + " --log " + at("log" + std::to_string(n)) + " --wait 60 < /dev/null 2>&1";
    };
    std::FILE* first = ::popen(command(1).c_str(), "r");
    std::FILE* second = ::popen(command(2).c_str(), "r");
    const auto finish = [](std::FILE* pipe) {
      CliRun run;
      char buffer[4096];
      for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, got);
      const int status = ::pclose(pipe);
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return run;
    };
    CliRun a = finish(first);
    CliRun b = finish(second);
    return {a, b};
  }
};

TEST_F(CliTwoSessions, SharingASendFolderLosesNoFile) {
  for (const char* folder : {"send", "r1", "r2", "h1", "h2"}) std::filesystem::create_directory(dir / folder);
  write_registry("r1.reg", "send", "r1");
  write_registry("r2.reg", "send", "r2");
  constexpr int kFiles = 40;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < kFiles; ++i)
      testing::write_file(dir / "send" / ("f" + std::to_string(round) + "-" + std::to_string(i) + ".txt"),
                          "file " + std::to_string(i) + " of round " + std::to_string(round) + "\n");
    const auto [a, b] = run_both();
    ASSERT_EQ(a.status, 0) << a.out;
    ASSERT_EQ(b.status, 0) << b.out;
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "f" + std::to_string(round) + "-" + std::to_string(i) + ".txt";
      const bool kept = std::filesystem::exists(dir / "send" / name);
      const int on_handhelds =
          std::filesystem::exists(dir / "h1" / (name + ".pdb")) + std::filesystem::exists(dir / "h2" / (name + ".pdb"));
      EXPECT_TRUE(kept ? on_handhelds == 0 : on_handhelds == 1) << name << "\n" << a.out << b.out;
      if (kept || on_handhelds != 1) continue;
      const std::string from = std::filesystem::exists(dir / "h1" / (name + ".pdb")) ? "h1/" : "h2/";
      ASSERT_EQ(vellora("export " + at(from + name + ".pdb") + " --to txt -o " + at("check.txt")).status, 0);
      const auto text = testing::read_file(dir / "check.txt");
      EXPECT_EQ(std::string(text.begin(), text.end()),
                "file " + std::to_string(i) + " of round " + std::to_string(round) + "\n");
    }
  }
}

TEST_F(CliTwoSessions, SharingAReceiveFolderLosesNoDocument) {
  for (const char* folder : {"s1", "s2", "receive", "h1", "h2"}) std::filesystem::create_directory(dir / folder);
  write_registry("r1.reg", "s1", "receive");
  write_registry("r2.reg", "s2", "receive");
  constexpr int kDocuments = 12;
  for (int h = 1; h <= 2; ++h) {
    const std::string handheld = "h" + std::to_string(h);
    for (int i = 0; i < kDocuments; ++i) {
      const std::string name = handheld + "-" + std::to_string(i) + ".txt";
      testing::write_file(dir / name, "document " + name + "\n");
      ASSERT_EQ(vellora("convert " + at(name) + " -o " + at(handheld + "/" + name + ".pdb")).status, 0);
      ASSERT_EQ(vellora("mark " + name + " --handheld " + at(handheld)).status, 0);
    }
  }
  const auto [a, b] = run_both();
  ASSERT_EQ(a.status, 0) << a.out;
  ASSERT_EQ(b.status, 0) << b.out;
  for (int h = 1; h <= 2; ++h)
    for (int i = 0; i < kDocuments; ++i) {
      const std::string name = "h" + std::to_string(h) + "-" + std::to_string(i) + ".txt";
      const auto text = testing::read_file(dir / "receive" / name);
      EXPECT_EQ(std::string(text.begin(), text.end()), "document " + name + "\n") << a.out << b.out;
    }
}

TEST_F(CliTwoSessions, ASessionThatCannotGetAFolderStopsAndTouchesNothing) {
  for (const char* folder : {"send", "r1", "h1"}) std::filesystem::create_directory(dir / folder);
  write_registry("r1.reg", "send", "r1");
  testing::write_file(dir / "send" / "a.txt", "a\n");
  // Hold the send folder as another session would.
  const std::string hold = "flock " + at("send") + " sleep 3 &";
  ASSERT_EQ(std::system(hold.c_str()), 0);
  ::usleep(300 * 1000);
  const auto run = vellora("sync --registry " + at("r1.reg") + " --handheld " + at("h1") + " --log " + at("log") +
                           " --wait 0.2 < /dev/null");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("another session is still using this folder"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find((dir / "send").string()), std::string::npos) << run.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "send" / "a.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "log"));
}

}  // namespace
}  // namespace vellora
