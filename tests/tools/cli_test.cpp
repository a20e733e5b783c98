// The vellora command as a user runs it: exit status, one-line errors, and
// the files it leaves.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "docmodel/staging.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

struct Run {
  int status = -1;
  std::string out;  // stdout and stderr together
};

Run vellora(const std::string& args) {
  Run run;
  const std::string command = std::string(VELLORA_CLI) + " " + args + " 2>&1";
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
  testing::write_file(dir / "page.htm", "<p>hi</p>");
  testing::write_file(dir / "picture.gif", "GIF89a");
  testing::write_file(dir / "broken.pdb", "not a database at all");
  std::filesystem::create_directory(dir / "folder.txt");
  const std::pair<std::string, std::string> cases[] = {
      {"convert " + at("absent.txt") + " -o " + at("x.pdb"), "absent.txt: no such file"},
      {"convert " + at("page.htm") + " -o " + at("x.pdb"), "page.htm: .htm files are not supported yet"},
      {"convert " + at("picture.gif") + " -o " + at("x.pdb"), "picture.gif: not a document type"},
      {"convert " + at("folder.txt") + " -o " + at("x.pdb"), "folder.txt: is a folder"},
      {"stage " + at("page.htm"), "page.htm: .htm files are not supported yet"},
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

}  // namespace
}  // namespace vellora
