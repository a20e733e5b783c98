// The dlopen'd text converters: loading and resolving, two converters with
// the same entry points side by side, what the scriptable test converter
// does with each first-line word (through the host's memory), and the
// manual-reset event across threads.
#include "hosts/linux/dl_text_converters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/test_converter/converter_run.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::LoadedConverter;
using ::vellora::testing::TempDir;
using ::vellora::testing::write_file;

constexpr const char* kSix = VELLORA_TEST_CONVERTER_SIX;
constexpr const char* kEight = VELLORA_TEST_CONVERTER_EIGHT;
constexpr const char* kNoCheck = VELLORA_TEST_CONVERTER_NO_CHECK;

TEST(DlTextConverters, ResolvesTheEntryPointsAConverterHas) {
  struct Row {
    const char* library;
    const char* entry;
    bool is_present;
  };
  const Row rows[] = {
      {kSix, kInitConverterName, true},        {kSix, kIsFormatCorrectName, true},
      {kSix, kForeignToRtfName, true},         {kSix, kRtfToForeignName, true},
      {kSix, "ForeignToRtf", false},           {kSix, "foreigntortf32", false},
      {kNoCheck, kIsFormatCorrectName, false}, {kNoCheck, kForeignToRtfName, true},
      {kNoCheck, kInitConverterName, true},    {kNoCheck, kRtfToForeignName, true},
  };
  DlTextConverterLibrary library;
  for (const Row& row : rows) {
    const LoadedConverter converter(library, row.library);
    ASSERT_TRUE(converter.is_loaded()) << row.library;
    EXPECT_EQ(converter.entry(row.entry) != nullptr, row.is_present) << row.library << " " << row.entry;
  }
}

TEST(DlTextConverters, WhatCannotBeLoadedIsZero) {
  const TempDir dir;
  write_file(dir / "notes.so", std::string("not a shared object\n"));
  write_file(dir / "empty.so", std::string());
  DlTextConverterLibrary library;
  for (const std::string& path : {(dir / "missing.so").string(), (dir / "notes.so").string(),
                                  (dir / "empty.so").string(), dir.path().string(), std::string()})
    EXPECT_EQ(library.load(path), 0u) << path;
  EXPECT_EQ(library.resolve(0, kForeignToRtfName), nullptr);
  library.free(0);  // harmless
}

TEST(DlTextConverters, TwoConvertersWithTheSameEntryPointsStayApart) {
  const TempDir dir;
  write_file(dir / "both.doc", std::string("TEST-CONVERTER accept=six,eight\n{\\rtf1 by @NAME@}"));
  write_file(dir / "eight.doc", std::string("TEST-CONVERTER accept=eight check=2\n{\\rtf1 @NAME@}"));
  DlTextConverterLibrary library;
  const LoadedConverter six(library, kSix);
  const LoadedConverter eight(library, kEight);
  ASSERT_TRUE(six.is_loaded() && eight.is_loaded());
  EXPECT_NE(six.entry(kForeignToRtfName), eight.entry(kForeignToRtfName));
  EXPECT_EQ(six.convert((dir / "both.doc").string()).rtf, "{\\rtf1 by six}");
  EXPECT_EQ(eight.convert((dir / "both.doc").string()).rtf, "{\\rtf1 by eight}");
  EXPECT_EQ(six.check((dir / "eight.doc").string()), 0);
  EXPECT_EQ(eight.check((dir / "eight.doc").string()), 2);
}

// Each first-line word of the test converter, through the host's memory
// and callback: what the converter answers and what reaches the callback.
TEST(DlTextConverters, TestConverterFollowsTheFirstLine) {
  struct Row {
    const char* name;
    std::string file;
    std::size_t buffer_bytes;
    int refuse_at_call;  // 0: the callback never refuses
    std::int16_t check;  // converter six
    std::int16_t result;
    std::vector<std::int32_t> counts;
    std::string rtf;
  };
  const std::string text = "{\\rtf1 abcdefgh}";  // 16 bytes
  const std::string big(20000, 'x');
  const Row rows[] = {
      {"plain", "TEST-CONVERTER\n" + text, 8192, 0, 1, 0, {16}, text},
      {"pieces cycle, 0 calls with none",
       "TEST-CONVERTER pieces=1,0,4\n" + text,
       8192,
       0,
       1,
       0,
       {1, 0, 4, 1, 0, 4, 1, 0, 4, 1},
       text},
      {"pieces never exceed the buffer", "TEST-CONVERTER pieces=8192\n" + text, 5, 0, 1, 0, {5, 5, 5, 1}, text},
      {"whole buffers, never above 8192", "TEST-CONVERTER\n" + big, 10000, 0, 1, 0, {8192, 8192, 3616}, big},
      {"fail after two pieces",
       "TEST-CONVERTER pieces=4 fail-after=2\n" + text,
       8192,
       0,
       1,
       -3,
       {4, 4},
       text.substr(0, 8)},
      {"fail after the last piece", "TEST-CONVERTER fail-after=1\n" + text, 8192, 0, 1, -3, {16}, text},
      {"fail at once", "TEST-CONVERTER fail-now check=2\n" + text, 8192, 0, 2, -2, {}, ""},
      {"callback refuses", "TEST-CONVERTER pieces=3\n" + text, 8192, 2, 1, -6, {3, 3}, text.substr(0, 6)},
      {"not for six", "TEST-CONVERTER accept=eight\n" + text, 8192, 0, 0, 0, {16}, text},
      {"for none", "TEST-CONVERTER accept=none\n" + text, 8192, 0, 0, 0, {16}, text},
      {"no first line", text, 8192, 0, 0, 0, {16}, text},
      {"CRLF first line", "TEST-CONVERTER check=3\r\n" + text, 8192, 0, 3, 0, {16}, text},
      {"name placeholder", "TEST-CONVERTER\n@NAME@/@NAME@", 8192, 0, 1, 0, {7}, "six/six"},
      {"misspelt word", "TEST-CONVERTER peices=3\n" + text, 8192, 0, 0, -5, {}, ""},
      {"all-zero pieces", "TEST-CONVERTER pieces=0,0\n" + text, 8192, 0, 0, -5, {}, ""},
      {"bad number", "TEST-CONVERTER check=-1\n" + text, 8192, 0, 0, -5, {}, ""},
      {"empty payload", "TEST-CONVERTER\n", 8192, 0, 1, 0, {}, ""},
  };
  const TempDir dir;
  DlTextConverterLibrary library;
  const LoadedConverter six(library, kSix);
  ASSERT_TRUE(six.is_loaded());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = (dir / "input.doc").string();
    write_file(path, row.file);
    EXPECT_EQ(six.check(path), row.check);
    const auto delivery = six.convert(path, row.buffer_bytes, row.refuse_at_call);
    EXPECT_EQ(delivery.result, row.result);
    EXPECT_EQ(delivery.counts, row.counts);
    EXPECT_EQ(delivery.rtf, row.rtf);
    EXPECT_FALSE(delivery.has_oversized_piece);
    if (!delivery.percents.empty() && delivery.result == 0) {
      EXPECT_EQ(delivery.percents.back(), 100);
    }
  }
  EXPECT_EQ(six.check((dir / "missing.doc").string()), 0);
  EXPECT_EQ(six.convert((dir / "missing.doc").string()).result, -1);
}

TEST(DlTextConverters, NeedsInitUntilInitConverterIsCalled) {
  // A private copy of the module is a fresh load whatever other tests did
  // with the original.
  const TempDir dir;
  const auto copy = dir / "eight_copy.so";
  std::filesystem::copy_file(kEight, copy);
  write_file(dir / "input.doc", std::string("TEST-CONVERTER needs-init\n{\\rtf1 }"));
  const std::string input = (dir / "input.doc").string();
  DlTextConverterLibrary library;
  const LoadedConverter eight(library, copy.string());
  ASSERT_TRUE(eight.is_loaded());
  EXPECT_EQ(eight.check(input), 0);
  EXPECT_EQ(eight.convert(input).result, -4);
  EXPECT_EQ(eight.init(), 0);
  EXPECT_EQ(eight.check(input), 1);
  EXPECT_EQ(eight.convert(input).rtf, "{\\rtf1 }");
}

// A waiter parked on the event: `has_passed` turns true once wait returns.
struct Waiter {
  std::atomic<bool> has_passed{false};
  std::thread thread;
  explicit Waiter(ConverterEvent& event)
      : thread([this, &event] {
          event.wait();
          has_passed = true;
        }) {}
  ~Waiter() {
    if (thread.joinable()) thread.join();
  }
};

constexpr auto kSettle = std::chrono::milliseconds(50);

TEST(ConverterEvent, SetReleasesEveryWaiterAndResetBlocksAgain) {
  DlTextConverterLibrary library;
  const auto event = library.create_event();
  {
    Waiter first(*event);
    Waiter second(*event);
    std::this_thread::sleep_for(kSettle);
    EXPECT_FALSE(first.has_passed);
    EXPECT_FALSE(second.has_passed);
    event->set();
    first.thread.join();
    second.thread.join();
    EXPECT_TRUE(first.has_passed && second.has_passed);
  }
  event->wait();  // manual reset: still set
  event->set();   // setting twice is harmless
  event->wait();
  event->reset();
  Waiter late(*event);
  std::this_thread::sleep_for(kSettle);
  EXPECT_FALSE(late.has_passed);
  event->set();
  late.thread.join();
  EXPECT_TRUE(late.has_passed);
}

TEST(ConverterEvent, ReaderAndConverterThreadsHandOffInTurns) {
  // The Word importer's pattern: the converter fills, sets "full" and waits
  // for "empty"; the reader waits for "full", takes, resets it, sets "empty".
  DlTextConverterLibrary library;
  const auto full = library.create_event();
  const auto empty = library.create_event();
  constexpr int kRounds = 2000;
  int shared = 0;
  std::vector<int> taken;
  std::thread converter([&] {
    for (int i = 1; i <= kRounds; ++i) {
      shared = i;
      empty->reset();
      full->set();
      empty->wait();
    }
  });
  for (int i = 1; i <= kRounds; ++i) {
    full->wait();
    full->reset();
    taken.push_back(shared);
    empty->set();
  }
  converter.join();
  ASSERT_EQ(taken.size(), static_cast<std::size_t>(kRounds));
  for (int i = 0; i < kRounds; ++i) ASSERT_EQ(taken[static_cast<std::size_t>(i)], i + 1);
}

}  // namespace
}  // namespace vellora::linux_host
