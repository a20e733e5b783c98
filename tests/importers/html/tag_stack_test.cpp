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
  std::vector<std::pair<std::size_t, StyleState>> entries;

  void push(std::size_t tag, const StyleState& style) {
    if (entries.size() < kMaxTagStackEntries) entries.emplace_back(tag, style);
  }
  bool pop(std::size_t tag, StyleState& saved) {
    for (std::size_t i = entries.size(); i-- > 0;) {
      if (entries[i].first != tag) continue;
      saved = entries[i].second;
      for (std::size_t newer = i + 1; newer < entries.size(); ++newer) {
        entries[newer].second.current = saved.current;
        entries[newer].second.is_visible = saved.is_visible;
      }
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
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
    ASSERT_EQ(stack.size(), plain.entries.size()) << "operation " << op;
  }
}

TEST(HtmlTagStack, ClosesAsTheClosingRuleSays) {
  run_against_plain_stack(1, 200000, 3, 50);   // shallow, mostly out of order
  run_against_plain_stack(2, 200000, 8, 60);   // growing, many names
  run_against_plain_stack(3, 50000, kTagCount, 45);
}

TEST(HtmlTagStack, RecordsAtMost65536Entries) {
  run_against_plain_stack(4, 200000, 2, 90);  // reaches the limit and keeps pushing
  TagStack stack;
  for (std::size_t i = 0; i < kMaxTagStackEntries + 10; ++i) stack.push(0, StyleState{});
  EXPECT_EQ(stack.size(), kMaxTagStackEntries);
}

}  // namespace
}  // namespace vellora::html_import
