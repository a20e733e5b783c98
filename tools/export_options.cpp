// Font settings for `vellora export`, from flags and the registry file.
#include "tools/export_options.h"

#include "conduit/settings.h"
#include "platform/posix/registry_file.h"

namespace vellora::cli {

bool resolve_export_options(const ExportCommandOptions& options,
                            const std::optional<std::filesystem::path>& default_registry,
                            ExportOptions& out, std::string& why_not) {
  const std::filesystem::path path = !options.registry.empty() ? std::filesystem::path(options.registry)
                                     : default_registry ? *default_registry
                                                        : std::filesystem::path();
  posix::RegistryFile registry;
  if (!path.empty()) {
    const auto loaded = registry.load(path);
    if (loaded.status == posix::RegistryFileStatus::missing_file) {
      if (!options.registry.empty()) {
        why_not = path.string() + ": no such settings file";
        return false;
      }
    } else if (!loaded) {
      why_not = loaded.reason;
      return false;
    }
  }
  const Settings settings = load_settings(registry);
  out.font_name = options.font_name.value_or(settings.font_name);
  out.font_size = options.font_size.value_or(settings.font_size);
  return true;
}

}  // namespace vellora::cli
