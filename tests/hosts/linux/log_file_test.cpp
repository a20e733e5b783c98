// The log file: line format, appending across objects, and failures that
// stay warnings.
#include "hosts/linux/log_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::TempDir;
using ::vellora::testing::write_file;

std::string text_of(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LogFile, LineHasLocalTimeActivityAndOneLineOfText) {
  ::setenv("TZ", "UTC", 1);  // the test binary runs nothing else that cares
  ::tzset();
  EXPECT_EQ(log_line(1700000000, "OK Vellora", kLogActivitySyncStart), "2023-11-14 22:13:20\t19\tOK Vellora\n");
  EXPECT_EQ(log_line(0, "a\nb\tc\r\x7F", -1), "1970-01-01 00:00:00\t-1\ta b c  \n");
}

TEST(LogFile, AppendsAndCreatesFolders) {
  TempDir folder;
  const auto path = folder / "state/vellora/hotsync.log";
  LogFile(path).add_entry("first", kLogActivitySyncStart);
  LogFile log(path);
  log.add_entry("second", kLogActivitySyncEnd);
  EXPECT_EQ(log.last_error(), "");
  const std::regex entries(
      "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\t19\tfirst\n"
      "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\t20\tsecond\n");
  EXPECT_TRUE(std::regex_match(text_of(path), entries)) << text_of(path);
}

TEST(LogFile, FailuresAreKeptAsWarnings) {
  TempDir folder;
  write_file(folder / "file", "not a folder");
  LogFile blocked(folder / "file/hotsync.log");
  blocked.add_entry("lost", kLogActivitySyncStart);
  EXPECT_TRUE(blocked.last_error().starts_with((folder / "file").string() + ": cannot create folder: "))
      << blocked.last_error();

  LogFile full("/dev/full");
  full.add_entry("lost", kLogActivitySyncStart);
  EXPECT_EQ(full.last_error(), "/dev/full: cannot write: No space left on device");
  full.add_entry("lost again", kLogActivitySyncEnd);
  EXPECT_FALSE(full.last_error().empty());
}

}  // namespace
}  // namespace vellora::linux_host
