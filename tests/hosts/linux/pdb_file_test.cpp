// PDB files: reading them, and the atomic writer.
#include "hosts/linux/pdb_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/pdb_samples.h"
#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::TempDir;

using ::vellora::testing::bytes_of;
using ::vellora::testing::sample_database;

TEST(PdbFile, ReadErrorsNameTheFile) {
  TempDir folder;
  PdbDatabase db;
  auto result = read_pdb_file(folder / "missing.pdb", db);
  EXPECT_EQ(result.status, PdbStatus::cannot_read);
  EXPECT_EQ(result.reason, (folder / "missing.pdb").string() + ": cannot open: No such file or directory");

  ::vellora::testing::write_file(folder / "short.pdb", bytes_of("tiny"));
  result = read_pdb_file(folder / "short.pdb", db);
  EXPECT_EQ(result.reason, (folder / "short.pdb").string() + ": header is 4 bytes, needs 78");
  PdbHeader header;
  std::uint16_t count = 0;
  EXPECT_EQ(read_pdb_header_file(folder / "short.pdb", header, count).reason, result.reason);
}

TEST(PdbFile, WriterReplacesOrRefusesAndLeavesNoTemporaryFile) {
  TempDir folder;
  const auto path = folder / "db.pdb";
  const auto first = sample_database();
  ASSERT_TRUE(write_pdb_file(path, first, PdbWriteMode::create_new));
  ::chmod(path.c_str(), 0600);

  auto second = sample_database();
  second.header.name = "second";
  const auto refused = write_pdb_file(path, second, PdbWriteMode::create_new);
  EXPECT_EQ(refused.status, PdbStatus::file_exists);
  PdbDatabase back;
  ASSERT_TRUE(read_pdb_file(path, back));
  EXPECT_EQ(back, first);

  ASSERT_TRUE(write_pdb_file(path, second));
  ASSERT_TRUE(read_pdb_file(path, back));
  EXPECT_EQ(back, second);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  second.header.name.clear();
  EXPECT_EQ(write_pdb_file(path, second).status, PdbStatus::bad_name);
  EXPECT_EQ(::vellora::testing::file_names(folder.path()), std::vector<std::string>{"db.pdb"});
}

// New databases get what the umask leaves of 0666, as any program's new
// files; a replaced database keeps its mode whatever the umask.
TEST(PdbFile, ANewDatabaseFollowsTheUmaskAndAReplacedOneKeepsItsMode) {
  TempDir folder;
  const mode_t saved = ::umask(022);
  const auto mode_of = [](const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000u;
  };
  for (const auto& [mask, mode] : {std::pair{0077u, 0600u}, {0022u, 0644u}, {0002u, 0664u}, {0027u, 0640u}}) {
    SCOPED_TRACE(mask);
    ::umask(mask);
    const auto path = folder / ("new-" + std::to_string(mask) + ".pdb");
    ASSERT_TRUE(write_pdb_file(path, sample_database(), PdbWriteMode::create_new, PdbFlush::pending));
    EXPECT_EQ(mode_of(path), mode);
  }
  ::umask(077);
  ::chmod((folder / "new-18.pdb").c_str(), 0640);  // made under 022
  ASSERT_TRUE(write_pdb_file(folder / "new-18.pdb", sample_database()));
  EXPECT_EQ(mode_of(folder / "new-18.pdb"), 0640u);
  ::umask(saved);
}

TEST(PdbFile, StaleTemporaryFilesGoButLiveOnesStay) {
  TempDir folder;
  const std::string stale = std::string(kPdbTempPrefix) + "stale1";
  const std::string live = std::string(kPdbTempPrefix) + "live01";
  ::vellora::testing::write_file(folder / stale, bytes_of("x"));
  ::vellora::testing::write_file(folder / live, bytes_of("y"));
  const int fd = ::open((folder / live).c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  remove_stale_pdb_temp_files(folder.path());
  ::close(fd);
  EXPECT_EQ(::vellora::testing::file_names(folder.path()), std::vector<std::string>{live});
}

}  // namespace
}  // namespace vellora::linux_host
