// handheld.conf: the settings file in a handheld folder. Only "memory =
// BYTES" means anything today; other keys are ignored so the file can grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vellora::linux_host {

// Total memory when handheld.conf is missing or names none.
constexpr std::uint64_t kDefaultHandheldMemoryBytes = 8388608;
constexpr std::string_view kHandheldConfName = "handheld.conf";
constexpr std::size_t kMaxHandheldConfBytes = 64 * 1024;

struct HandheldConf {
  std::uint64_t memory_bytes = kDefaultHandheldMemoryBytes;
  std::string error;  // "path: line N: why" or "path: why"; empty when understood
};

// "key = value" lines; '#' starts a comment. A missing file means the
// defaults; one that is not a regular file of sensible size is an error
// rather than read, so a FIFO at that name cannot hang a session.
HandheldConf read_handheld_conf(const std::filesystem::path& path);

// Why `folder`'s handheld.conf cannot be used, or empty when it is fine or
// absent.
std::string handheld_conf_error(const std::filesystem::path& folder);

}  // namespace vellora::linux_host
