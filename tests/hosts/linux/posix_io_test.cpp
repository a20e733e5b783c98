// The Linux host's file plumbing: the limits of small files, transfers cut
// into pieces, atomic replacement and descriptors that close once.
#include "hosts/linux/posix_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::TempDir;
using Failure = SmallFileResult::Failure;

constexpr std::string_view kTempPrefix = ".test-tmp-";

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(PosixIo, SmallFileAtItsLimitIsReadAndOneByteMoreIsRefused) {
  TempDir folder;
  ::vellora::testing::write_file(folder / "ten", std::string("0123456789"));
  std::string text = "kept:";
  ASSERT_TRUE(read_small_regular_file(folder / "ten", 10, text));
  EXPECT_EQ(text, "kept:0123456789");

  std::string refused;
  const auto result = read_small_regular_file(folder / "ten", 9, refused);
  EXPECT_EQ(result.failure, Failure::too_large);
  EXPECT_EQ(result.size_bytes, 10u);

  const auto missing = read_small_regular_file(folder / "absent", 10, refused);
  EXPECT_EQ(missing.failure, Failure::cannot_open);
  EXPECT_EQ(missing.error, ENOENT);
}

TEST(PosixIo, SmallFileReadRefusesAFifoWithoutWaitingForAWriter) {
  TempDir folder;
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  std::string text;
  EXPECT_EQ(read_small_regular_file(folder / "fifo", 10, text).failure, Failure::not_regular);
  EXPECT_EQ(read_small_regular_file(folder.path(), 10, text).failure, Failure::not_regular);
}

TEST(PosixIo, TransfersLargerThanAPipeArriveWhole) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd reading(ends[0]);
  UniqueFd writing(ends[1]);
  // More than a pipe holds, so both sides see short transfers.
  std::vector<std::uint8_t> sent(300 * 1000);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 7);
  bool is_written = false;
  std::thread writer([&] {
    is_written = write_fully(writing.get(), sent);
    writing.reset();
  });
  std::vector<std::uint8_t> received(sent.size() + 100);
  const long got = read_fully(reading.get(), received);
  writer.join();
  EXPECT_TRUE(is_written);
  ASSERT_EQ(got, static_cast<long>(sent.size()));  // short only at the end
  received.resize(sent.size());
  EXPECT_EQ(received, sent);
}

TEST(PosixIo, AtomicWriteJoinsItsPartsAndCreateNewLeavesATakenPathAlone) {
  TempDir folder;
  const auto path = folder / "file";
  const std::span<const std::uint8_t> first[] = {bytes_of("ab"), {}, bytes_of("cd")};
  ASSERT_TRUE(write_file_atomically(path, kTempPrefix, first, RenameMode::create_new, true));

  const std::span<const std::uint8_t> second[] = {bytes_of("other")};
  const auto refused = write_file_atomically(path, kTempPrefix, second, RenameMode::create_new, false);
  EXPECT_EQ(refused.failure, AtomicWriteResult::Failure::exists);
  EXPECT_EQ(refused.error, EEXIST);
  EXPECT_EQ(::vellora::testing::read_file(path), std::vector<std::uint8_t>({'a', 'b', 'c', 'd'}));
  EXPECT_EQ(::vellora::testing::file_names(folder.path()), std::vector<std::string>{"file"});

  const auto missing =
      write_file_atomically(folder / "absent" / "file", kTempPrefix, second, RenameMode::replace, true);
  EXPECT_EQ(missing.failure, AtomicWriteResult::Failure::cannot_create_temp);
  EXPECT_EQ(missing.error, ENOENT);
}

TEST(PosixIo, UniqueFdClosesWhatItHeldWhenGivenAnother) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd held(ends[0]);
  UniqueFd other(ends[1]);
  held = std::move(other);
  EXPECT_EQ(held.get(), ends[1]);
  EXPECT_FALSE(other.is_open());
  EXPECT_EQ(::fcntl(ends[0], F_GETFD), -1);
  EXPECT_TRUE(held.close());
  EXPECT_FALSE(held.is_open());
  EXPECT_EQ(::fcntl(ends[1], F_GETFD), -1);
}

}  // namespace
}  // namespace vellora::linux_host
