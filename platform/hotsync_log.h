// The HotSync log: the conduit writes a start and an end entry per session.
#pragma once

#include <cstdint>
#include <string_view>

namespace vellora {

constexpr std::int32_t kLogActivitySyncStart = 19;
constexpr std::int32_t kLogActivitySyncEnd = 20;

class HotSyncLog {
 public:
  virtual ~HotSyncLog() = default;
  virtual void add_entry(std::string_view text, std::int32_t activity) = 0;
};

}  // namespace vellora
