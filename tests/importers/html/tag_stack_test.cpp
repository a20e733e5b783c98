// The HTML importer's tag stack against the closing rule done the plain
// way: search from the newest entry, hand the restored current attribute
// and visible flag to every newer entry, remove the found one.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "importers/html/html_state.h"

namespace vellora::html_import {
namespace {

struct PlainTagStack {
  struct Entry {
    std::size_t tag;
    StyleState style;
    bool is_recorded;  // false: opened on a full stack, only counted
  };
  std::vector<Entry> entries;
  std::size_t recorded = 0;

  void push(std::size_t tag, const StyleState& style) {
    const bool has_room = recorded < kMaxTagStackEntries;
    entries.push_back({tag, style, has_room});
    recorded += has_room;
  }
  bool pop(std::size_t tag, StyleState& saved) {
    for (std::size_t i = entries.size(); i-- > 0;) {
      if (entries[i].tag != tag) continue;
      const bool was_recorded = entries[i].is_recorded;
      if (was_recorded) {
        saved = entries[i].style;
        for (std::size_t newer = i + 1; newer < entries.size(); ++newer) {
          entries[newer].style.current = saved.current;
          entries[newer].style.is_visible = saved.is_visible;
        }
        --recorded;
      }
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      return was_recorded;
    }
    return false;
  }
};

StyleState random_style(std::mt19937& random) {
  StyleState style;
  style.current.colour = static_cast<std::uint8_t>(random());
  style.current.font = static_cast<std::int32_t>(random() % 3);
  style.is_visible = random() % 2 == 0;
  style.list_counter = static_cast<std::uint16_t>(random());
  style.is_block = random() % 2 == 0;
  return style;
}

void run_against_plain_stack(std::uint32_t seed, std::size_t operations, std::size_t tags, int push_percent) {
  std::mt19937 random(seed);
  TagStack stack;
  PlainTagStack plain;
  for (std::size_t op = 0; op < operations; ++op) {
    const std::size_t tag = random() % tags;
    if (static_cast<int>(random() % 100) < push_percent) {
      const StyleState style = random_style(random);
      stack.push(tag, style);
      plain.push(tag, style);
    } else {
      StyleState got;
      StyleState want;
      const bool found = stack.pop(tag, got);
      ASSERT_EQ(found, plain.pop(tag, want)) << "operation " << op;
      if (found) {
        ASSERT_TRUE(got == want) << "operation " << op;
      }
    }
    ASSERT_EQ(stack.size(), plain.recorded) << "operation " << op;
  }
}

TEST(HtmlTagStack, ClosesAsTheClosingRuleSays) {
  run_against_plain_stack(1, 200000, 3, 50);  // shallow, mostly out of order
  run_against_plain_stack(2, 200000, 8, 60);  // growing, many names
  run_against_plain_stack(3, 50000, kTagCount, 45);
}

// Past the limit a tag is only counted: its closing tag restores nothing,
// and the closing tags of older entries still find them.
TEST(HtmlTagStack, RecordsAtMost65536EntriesAndCountsTheRest) {
  run_against_plain_stack(4, 200000, 2, 90);  // reaches the limit and keeps pushing
  run_against_plain_stack(5, 400000, 4, 60);  // hovers at the limit, out of order
  TagStack stack;
  StyleState outer;
  outer.list_counter = 7;
  stack.push(1, outer);
  for (std::size_t i = 1; i < kMaxTagStackEntries + 10; ++i) stack.push(0, StyleState{});
  EXPECT_EQ(stack.size(), kMaxTagStackEntries);
  StyleState saved;
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(stack.pop(0, saved));
  EXPECT_TRUE(stack.pop(0, saved));
  EXPECT_TRUE(stack.pop(1, saved));
  EXPECT_EQ(saved.list_counter, 7);
}

}  // namespace
}  // namespace vellora::html_import
