// Read-only access to the registry values the conduit needs: its settings
// under HKEY_CURRENT_USER and the text converter registrations under
// HKEY_LOCAL_MACHINE. A value that is missing or of another type reads as
// nothing; key and value names match without regard to case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellora {

enum class RegistryHive { current_user, local_machine };

class Registry {
 public:
  virtual ~Registry() = default;
  // A string value (REG_SZ); `key` is a path such as "Software\\Brisholm\\Vellora".
  virtual std::optional<std::string> read_string(RegistryHive hive, std::string_view key,
                                                 std::string_view value) const = 0;
  // A 32-bit number (REG_DWORD).
  virtual std::optional<std::uint32_t> read_dword(RegistryHive hive, std::string_view key,
                                                  std::string_view value) const = 0;
};

}  // namespace vellora
