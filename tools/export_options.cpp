// Font settings for `vellora export`, from flags and the registry file.
#include "tools/export_options.h"

#include "conduit/settings.h"
#include "hosts/linux/registry_file.h"
#include "hosts/linux/xdg_paths.h"
#include "tools/encoding_option.h"
#include "tools/registry_option.h"

namespace vellora::cli {

bool resolve_export_options(const ExportCommandOptions& options,
                            const std::optional<std::filesystem::path>& default_registry, ExportOptions& out,
                            std::string& why_not) {
  linux_host::RegistryFile registry(linux_host::bundled_office_converter());
  if (!load_registry(options.registry, default_registry, registry, why_not)) return false;
  const Settings settings = load_settings(registry);
  out.font_name = options.font_name.value_or(settings.font_name);
  out.font_size = options.font_size.value_or(settings.font_size);
  out.codec = choose_codec(options.encoding, &registry, why_not);
  return out.codec != nullptr;
}

}  // namespace vellora::cli
