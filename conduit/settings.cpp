// Loading the settings from the registry at the start of a session; every
// value that is missing, of the wrong type or too long gets its default.
#include "conduit/settings.h"

namespace vellora {

namespace {

std::string read_setting(const Registry& registry, std::string_view value) {
  auto text = registry.read_string(RegistryHive::current_user, kSettingsKey, value);
  if (!text || text->size() > kMaxSettingChars) return {};
  // The conduit keeps the text up to its first zero, as a C string would.
  return text->substr(0, text->find('\0'));
}

std::uint32_t read_number(const Registry& registry, std::string_view value, std::uint32_t fallback) {
  return registry.read_dword(RegistryHive::current_user, kSettingsKey, value).value_or(fallback);
}

}  // namespace

Settings load_settings(const Registry& registry) {
  Settings settings;
  settings.send_folder = read_setting(registry, "FolderForSFiles");
  settings.receive_folder = read_setting(registry, "FolderForRFiles");
  settings.font_name = read_setting(registry, "FontName");
  settings.receive_policy = read_number(registry, "FromPalmToPC", kAskBeforeOverwrite);
  settings.send_policy = read_number(registry, "FromPCToPalm", kAskBeforeOverwrite);
  settings.font_size = read_number(registry, "FontSize", kDefaultFontSize);
  return settings;
}

}  // namespace vellora
