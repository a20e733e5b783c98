// Work folders: held while their maker lives, removed when it is done, and
// those left by a dead maker found and removed without following a link or
// touching anything else.
#include "hosts/linux/work_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

namespace fs = std::filesystem;
using ::vellora::testing::file_names;
using ::vellora::testing::TempDir;
using ::vellora::testing::write_file;

constexpr std::string_view kPrefix = "w-";

// A work folder made by hand: `files` inside, and an unheld lock file when
// `has_lock`.
fs::path make_folder(const fs::path& parent, const std::string& name, bool has_lock,
                     const std::vector<std::string>& files = {"scratch"}) {
  fs::create_directory(parent / name);
  if (has_lock) write_file(parent / name / std::string(kWorkFolderLockName), std::string());
  for (const std::string& file : files) write_file(parent / name / file, std::string("x"));
  return parent / name;
}

// Links inside a leftover, to a file and a folder outside it.
void plant_links(const fs::path& folder, const fs::path& outside) {
  fs::create_directory(folder / "deeper");
  fs::create_symlink(outside / "precious.txt", folder / "deeper" / "file-link");
  fs::create_directory_symlink(outside, folder / "folder-link");
}

class WorkFolders : public ::testing::Test {
 protected:
  WorkFolders() {
    write_file(outside / "precious.txt", std::string("keep me"));
    write_file(outside / "also.txt", std::string("and me"));
  }
  void expect_outside_untouched() {
    EXPECT_EQ(file_names(outside.path()), (std::vector<std::string>{"also.txt", "precious.txt"}));
    const auto kept = ::vellora::testing::read_file(outside / "precious.txt");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");
  }
  TempDir dir;
  TempDir outside;
};

TEST_F(WorkFolders, AFolderIsPrivateHeldWhileInUseAndRemovedWhenDone) {
  fs::path made;
  {
    const WorkFolder folder(dir.path(), kPrefix);
    ASSERT_TRUE(folder) << folder.error();
    made = folder.path();
    const std::string name = made.filename().string();
    EXPECT_EQ(name.size(), kPrefix.size() + 6);
    EXPECT_EQ(made.parent_path(), dir.path());
    struct stat st {};
    ASSERT_EQ(::lstat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    // Another descriptor of the lock file cannot take it while the folder is held.
    const UniqueFd other(::open((made / std::string(kWorkFolderLockName)).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(other.is_open());
    EXPECT_NE(::flock(other.get(), LOCK_EX | LOCK_NB), 0);

    plant_links(made, outside.path());
    remove_stale_work_folders(dir.path(), kPrefix, LocklessFolders::holding_only_files);
    remove_stale_work_folders(dir.path(), kPrefix, LocklessFolders::a_day_old);
    EXPECT_TRUE(fs::exists(made / "deeper" / "file-link")) << "a folder in use was removed";
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(made)));
  expect_outside_untouched();
}

TEST_F(WorkFolders, OnlyLeftoversOfThisUserThatNobodyHoldsAreRemoved) {
  // A maker that died without cleaning up.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const WorkFolder folder(dir.path(), kPrefix);
    write_file(folder.path() / "half-written", std::string("x"));
    plant_links(folder.path(), outside.path());
    ::_exit(folder ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(file_names(dir.path()).size(), 1u);

  // A maker still at work: its lock is held here.
  make_folder(dir.path(), "w-Held01", true);
  const UniqueFd held(::open((dir / "w-Held01" / std::string(kWorkFolderLockName)).c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
  // Lockless folders of older makers: files only, or a folder inside.
  make_folder(dir.path(), "w-Old001", false, {"a", "b"});
  make_folder(dir.path(), "w-Empty1", false, {});
  plant_links(make_folder(dir.path(), "w-Old002", false), outside.path());
  // Names that are not the pattern, a link of the pattern's name, a file.
  make_folder(dir.path(), "w-Old0030", true);
  make_folder(dir.path(), "w-Old!03", true);
  make_folder(dir.path(), "x-Old004", true);
  fs::create_directory_symlink(make_folder(outside.path(), "w-Aim001", true), dir / "w-Link01");
  write_file(dir / "w-File01", std::string("x"));
  std::vector<std::string> expected = {"w-Held01",  "w-Link01", "w-Old!03", "w-Old002",
                                       "w-Old0030", "w-File01", "x-Old004"};
  // Another user's folder, when this test may give one away.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(make_folder(dir.path(), "w-Else01", true).c_str(), 12345, 12345), 0);
    expected.push_back("w-Else01");
  }
  std::sort(expected.begin(), expected.end());

  remove_stale_work_folders(dir.path(), kPrefix, LocklessFolders::holding_only_files);
  EXPECT_EQ(file_names(dir.path()), expected);
  EXPECT_EQ(file_names(dir / "w-Held01"), (std::vector<std::string>{std::string(kWorkFolderLockName), "scratch"}));
  EXPECT_EQ(file_names(dir / "w-Old002"), (std::vector<std::string>{"deeper", "folder-link", "scratch"}));
  EXPECT_EQ(file_names(outside / "w-Aim001"), (std::vector<std::string>{std::string(kWorkFolderLockName), "scratch"}));
  fs::remove_all(outside / "w-Aim001");
  expect_outside_untouched();
}

TEST_F(WorkFolders, LocklessFoldersCanBeLeftoversByAge) {
  plant_links(make_folder(dir.path(), "w-Day001", false), outside.path());
  make_folder(dir.path(), "w-New001", false);
  // A day and an hour ago.
  const timespec times[2] = {{std::time(nullptr) - 25 * 3600, 0}, {std::time(nullptr) - 25 * 3600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "w-Day001").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  remove_stale_work_folders(dir.path(), kPrefix, LocklessFolders::a_day_old);
  EXPECT_EQ(file_names(dir.path()), std::vector<std::string>{"w-New001"});
  expect_outside_untouched();
}

}  // namespace
}  // namespace vellora::linux_host
