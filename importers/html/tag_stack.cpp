// The HTML importer's tag stack. Entries live in a pool linked in stack
// order, so an entry closed out of order leaves without moving the others;
// each tag name has its own list of entries, so a closing tag finds its
// entry at once; and the current attribute and visible flag that a close
// hands to every newer entry are kept as spans over the stack, so that
// hand-over costs nothing per entry.
#include "importers/html/html_state.h"

#include <cstdint>

namespace vellora::html_import {

void TagStack::push(std::size_t tag, const StyleState& style) {
  auto& entries = by_tag_[tag];
  if (size_ >= kMaxTagStackEntries) {
    if (!entries.empty() && entries.back() < 0 && entries.back() > INT32_MIN)
      --entries.back();
    else
      entries.push_back(-1);
    return;
  }
  std::int32_t index;
  if (!free_.empty()) {
    index = free_.back();
    free_.pop_back();
  } else {
    index = static_cast<std::int32_t>(pool_.size());
    pool_.emplace_back();
  }
  Entry& entry = pool_[static_cast<std::size_t>(index)];
  entry.saved = style;
  entry.order = next_order_++;
  entry.older = newest_;
  entry.newer = -1;
  if (newest_ >= 0) pool_[static_cast<std::size_t>(newest_)].newer = index;
  newest_ = index;
  ++size_;
  entries.push_back(index);
  carries_.push_back(Carry{entry.order, style.current, style.is_visible});
}

bool TagStack::pop(std::size_t tag, StyleState& saved) {
  auto& entries = by_tag_[tag];
  if (entries.empty()) return false;
  if (entries.back() < 0) {
    if (++entries.back() == 0) entries.pop_back();
    return false;
  }
  const std::int32_t index = entries.back();
  entries.pop_back();
  Entry& entry = pool_[static_cast<std::size_t>(index)];

  // The span that holds this entry now reaches up to the newest entry: the
  // newer ones carry this entry's attribute and visible flag from here on.
  while (carries_.back().from_order > entry.order) carries_.pop_back();
  Carry& carry = carries_.back();
  saved = entry.saved;
  saved.current = carry.current;
  saved.is_visible = carry.is_visible;
  if (carry.from_order == entry.order) {
    if (entry.newer >= 0)
      carry.from_order = pool_[static_cast<std::size_t>(entry.newer)].order;
    else
      carries_.pop_back();
  }

  if (entry.older >= 0) pool_[static_cast<std::size_t>(entry.older)].newer = entry.newer;
  if (entry.newer >= 0)
    pool_[static_cast<std::size_t>(entry.newer)].older = entry.older;
  else
    newest_ = entry.older;
  free_.push_back(index);
  --size_;
  return true;
}

}  // namespace vellora::html_import
