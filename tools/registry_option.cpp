#include "tools/registry_option.h"

namespace vellora::cli {

bool load_registry(const std::string& named, const std::optional<std::filesystem::path>& default_file,
                   linux_host::RegistryFile& registry, std::string& why_not, bool* default_missing) {
  if (default_missing != nullptr) *default_missing = false;
  const std::filesystem::path path = !named.empty() ? std::filesystem::path(named)
                                     : default_file ? *default_file
                                                    : std::filesystem::path();
  if (path.empty()) return true;
  const auto loaded = registry.load(path);
  if (loaded.status == linux_host::RegistryFileStatus::missing_file) {
    if (!named.empty()) {
      why_not = path.string() + ": no such settings file";
      return false;
    }
    if (default_missing != nullptr) *default_missing = true;
    return true;
  }
  if (!loaded) {
    why_not = loaded.reason;
    return false;
  }
  return true;
}

}  // namespace vellora::cli
