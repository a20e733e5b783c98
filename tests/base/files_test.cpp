// Names in the host's code page must come back from a folder listing as the
// same text they were created under, or the send pass lists a file it then
// cannot open. On Windows that is the ANSI code page (é is 0xE9 and € is
// 0x80 in Windows-1252), where the standard library's own conversions
// disagree with each other; on POSIX names are bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

TEST(HostNames, AFileCreatedUnderANameIsListedAndOpenedUnderTheSameName) {
  testing::TempDir dir;
  const std::vector<std::string> names = {"plain.txt", "caf\xe9.txt", "\x80uro notes.txt"};
  for (const std::string& name : names) {
    EXPECT_EQ(host_text(host_path(name)), name);
    ASSERT_TRUE(open_file(dir.path() / host_path(name), "wb")) << name;
  }
  std::vector<std::string> listed;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    listed.push_back(host_text(entry.path().filename()));
    EXPECT_TRUE(open_file(dir.path() / host_path(listed.back()), "rb")) << listed.back();
  }
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected = names;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  EXPECT_TRUE(host_path("").empty());
  EXPECT_EQ(host_text({}), "");
}

}  // namespace
}  // namespace vellora
