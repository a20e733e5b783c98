// Real Word documents, written by a word processor from texts nobody here
// wrote, sent by `vellora sync` through the bundled office converter: the
// words arrive on the handheld in order, and every record keeps the
// layout rules.
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/programs.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using namespace testing;

std::string output_of(const std::string& command) {
  std::string out;
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  ::pclose(pipe);
  return out;
}

TEST(WordDocuments, SentThroughTheOfficeConverterTheyArriveWordForWord) {
  const auto soffice = find_program("soffice");
  if (!soffice) GTEST_SKIP() << "needs soffice (Debian package libreoffice-writer-nogui)";
  TempDir dir;
  for (const char* folder : {"send", "receive", "handheld", "texts"}) fs::create_directory(dir / folder);
  const char* const licences[] = {"Apache-2.0", "MPL-2.0"};
  std::string inputs;
  for (const char* name : licences) {
    fs::copy_file(fs::path("/usr/share/common-licenses") / name, dir / "texts" / (std::string(name) + ".txt"));
    inputs += " " + quoted(dir / "texts" / (std::string(name) + ".txt"));
  }
  ASSERT_TRUE(run_quietly(quoted(*soffice) + " -env:UserInstallation=file://" + (dir / "profile").string() +
                          " --headless --convert-to 'doc:MS Word 97' --outdir " + quoted(dir / "send") + inputs));
  // No converter registered: the bundled office converter answers.
  write_file(dir / "registry.reg",
             "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n"
             "\"FolderForSFiles\"=\"" +
                 (dir / "send").string() + "\"\n");
  const std::string sync =
      output_of(std::string(VELLORA_CLI) + " sync --registry " + quoted(dir / "registry.reg") + " --handheld " +
                quoted(dir / "handheld") + " --log " + quoted(dir / "log") + " </dev/null");
  for (const char* name : licences) {
    SCOPED_TRACE(name);
    const std::string doc = std::string(name) + ".doc";
    const std::string lower = [&] {
      std::string l = doc;
      for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return l;
    }();
    EXPECT_NE(sync.find("convert  " + doc + ": with the text converter "), std::string::npos) << sync;
    EXPECT_NE(sync.find("sent     " + doc + " -> handheld"), std::string::npos) << sync;
    const fs::path database = dir / "handheld" / (lower + ".pdb");
    ASSERT_TRUE(fs::exists(database)) << sync;
    EXPECT_NE(output_of(std::string(VELLORA_CLI) + " dump " + quoted(database)).find("layout check: ok"),
              std::string::npos);
    const fs::path text = dir / (lower + ".txt");
    ASSERT_EQ(output_of(std::string(VELLORA_CLI) + " export " + quoted(database) + " --to txt -o " + quoted(text))
                  .find("vellora:"),
              std::string::npos);
    const auto source = read_file(dir / "texts" / (std::string(name) + ".txt"));
    const auto arrived = read_file(text);
    EXPECT_EQ(word_differences(words_of({arrived.begin(), arrived.end()}), words_of({source.begin(), source.end()})),
              "");
  }
  EXPECT_TRUE(fs::is_empty(dir / "send")) << sync;
}

}  // namespace
}  // namespace vellora
