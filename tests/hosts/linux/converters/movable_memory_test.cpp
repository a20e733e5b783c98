// libvellora-memory, called directly as a converter does: lock counts,
// when a block can be freed, handles that are null, stale or foreign, and
// two threads sharing blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "vellora/converter.h"

namespace {

enum class Op { lock, unlock, free, size };

struct Step {
  Op op;
  // lock: 1 for bytes, 0 for NULL; unlock: the result; free: 1 when freed
  // (NULL returned), 0 when the block comes back; size: the size.
  std::size_t expect;
};

struct Case {
  const char* name;
  std::size_t bytes;
  std::vector<Step> steps;  // the block is freed afterwards if it still lives
};

const Case kCases[] = {
    {"an unlocked block frees, then is gone",
     16,
     {{Op::size, 16}, {Op::free, 1}, {Op::lock, 0}, {Op::unlock, 0}, {Op::size, 0}, {Op::free, 0}}},
    {"locks nest; unlock says whether one is left",
     16,
     {{Op::lock, 1}, {Op::lock, 1}, {Op::unlock, 1}, {Op::unlock, 0}, {Op::free, 1}}},
    {"an unlock too many is harmless",
     16,
     {{Op::unlock, 0}, {Op::lock, 1}, {Op::unlock, 0}, {Op::unlock, 0}, {Op::lock, 1}, {Op::unlock, 0}}},
    {"a locked block is not freed", 16, {{Op::lock, 1}, {Op::free, 0}, {Op::size, 16}, {Op::unlock, 0}, {Op::free, 1}}},
    {"an empty block still locks", 0, {{Op::size, 0}, {Op::lock, 1}, {Op::unlock, 0}, {Op::free, 1}}},
    {"a buffer-sized block", 8192, {{Op::size, 8192}, {Op::lock, 1}, {Op::unlock, 0}}},
};

TEST(MovableMemory, LockCountsAndFreeing) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    VelloraGlobal block = vellora_global_alloc(c.bytes);
    ASSERT_NE(block, nullptr);
    bool is_freed = false;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i + 1));
      const Step& step = c.steps[i];
      switch (step.op) {
        case Op::lock: EXPECT_EQ(vellora_global_lock(block) != nullptr, step.expect == 1); break;
        case Op::unlock: EXPECT_EQ(static_cast<std::size_t>(vellora_global_unlock(block) != 0), step.expect); break;
        case Op::free: {
          const VelloraGlobal left = vellora_global_free(block);
          EXPECT_EQ(left == nullptr, step.expect == 1);
          if (left != nullptr) {
            EXPECT_EQ(left, block);  // failure hands the block back
          }
          is_freed = is_freed || left == nullptr;
          break;
        }
        case Op::size: EXPECT_EQ(vellora_global_size(block), step.expect); break;
      }
    }
    if (!is_freed) {
      while (vellora_global_unlock(block) != 0) {}
      EXPECT_EQ(vellora_global_free(block), nullptr);
    }
  }
}

TEST(MovableMemory, NullAndForeignHandlesAreRefusedUntouched) {
  int not_a_block = 0;
  for (VelloraGlobal handle : {static_cast<VelloraGlobal>(nullptr), static_cast<VelloraGlobal>(&not_a_block)}) {
    EXPECT_EQ(vellora_global_lock(handle), nullptr);
    EXPECT_EQ(vellora_global_unlock(handle), 0);
    EXPECT_EQ(vellora_global_size(handle), 0u);
    EXPECT_EQ(vellora_global_free(handle), handle);
  }
  EXPECT_EQ(not_a_block, 0);
}

TEST(MovableMemory, BlocksAreZeroFilledAndKeepTheirBytes) {
  // Allocate and free a dirty block first so a reused allocation would show.
  VelloraGlobal dirty = vellora_global_alloc(4096);
  std::fill_n(static_cast<unsigned char*>(vellora_global_lock(dirty)), 4096, 0xAB);
  vellora_global_unlock(dirty);
  vellora_global_free(dirty);

  VelloraGlobal block = vellora_global_alloc(4096);
  auto* bytes = static_cast<unsigned char*>(vellora_global_lock(block));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::count(bytes, bytes + 4096, 0), 4096);
  bytes[0] = 'R';
  bytes[4095] = 'F';
  EXPECT_EQ(vellora_global_unlock(block), 0);
  const auto* again = static_cast<const unsigned char*>(vellora_global_lock(block));
  EXPECT_EQ(again[0], 'R');
  EXPECT_EQ(again[4095], 'F');
  vellora_global_unlock(block);
  EXPECT_EQ(vellora_global_free(block), nullptr);
}

TEST(MovableMemory, AbsurdSizesAreRefused) {
  EXPECT_EQ(vellora_global_alloc(SIZE_MAX), nullptr);
  EXPECT_EQ(vellora_global_alloc((std::size_t{1} << 30) + 1), nullptr);
}

TEST(MovableMemory, TwoThreadsShareBlocks) {
  // The conduit's thread and the converter thread lock one buffer while
  // each also allocates and frees blocks of its own.
  VelloraGlobal shared = vellora_global_alloc(8192);
  ASSERT_NE(shared, nullptr);
  constexpr int kRounds = 20000;
  const auto work = [shared](unsigned char mark) {
    for (int i = 0; i < kRounds; ++i) {
      auto* bytes = static_cast<unsigned char*>(vellora_global_lock(shared));
      if (bytes == nullptr) return false;
      bytes[mark] = mark;
      vellora_global_unlock(shared);
      VelloraGlobal own = vellora_global_alloc(32);
      if (own == nullptr || vellora_global_free(own) != nullptr) return false;
    }
    return true;
  };
  bool first_ok = false;
  bool second_ok = false;
  std::thread first([&] { first_ok = work(1); });
  std::thread second([&] { second_ok = work(2); });
  first.join();
  second.join();
  EXPECT_TRUE(first_ok);
  EXPECT_TRUE(second_ok);
  // Every lock was matched, so the count is back to zero and it frees.
  EXPECT_EQ(vellora_global_free(shared), nullptr);
}

}  // namespace
