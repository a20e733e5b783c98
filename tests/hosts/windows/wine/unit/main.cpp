// GoogleTest's main for the Windows builds of the unit tests, leaving out
// the tests that rest on POSIX file-system behaviour, whatever filter the
// command line gives.
#include <string>

#include <gtest/gtest.h>

namespace {

constexpr const char* kPosixOnly[] = {
    // Makes a symbolic link, which Windows grants only to administrators
    // and Wine does not implement.
    "SendJournal.OnlyWholeLinesOfAJournalOfOursCount",
    // Needs Twin.txt and twin.txt side by side in one folder.
    "SendPass.KeepsFilesThatCannotBecomeACompleteDocument",
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A filter has at most one negative part, after the first '-'.
  std::string filter = GTEST_FLAG_GET(filter);
  for (const char* test : kPosixOnly) {
    filter += filter.find('-') == std::string::npos ? "-" : ":";
    filter += test;
  }
  GTEST_FLAG_SET(filter, filter);
  return RUN_ALL_TESTS();
}
