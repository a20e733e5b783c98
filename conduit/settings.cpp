// Loading the settings from the registry at the start of a session; every
// value that is missing, of the wrong type or too long gets its default.
#include "conduit/settings.h"

#include <filesystem>
#include <system_error>

#include "base/files.h"

namespace vellora {

namespace {

std::string read_setting(const Registry& registry, std::string_view value, std::string* problem = nullptr) {
  auto text = registry.read_string(RegistryHive::current_user, kSettingsKey, value);
  std::string why;
  std::string result;
  if (!text) {
    why = registry.read_dword(RegistryHive::current_user, kSettingsKey, value) ? " is a number, not a folder"
                                                                               : " is not set";
  } else if (text->size() > kMaxSettingChars) {
    why = " is longer than " + std::to_string(kMaxSettingChars) + " characters";
  } else {
    // The conduit keeps the text up to its first zero, as a C string would.
    result = text->substr(0, text->find('\0'));
    if (result.empty()) why = " is empty";
  }
  if (problem != nullptr && !why.empty()) *problem = std::string(value) + why;
  return result;
}

std::uint32_t read_number(const Registry& registry, std::string_view value, std::uint32_t fallback) {
  return registry.read_dword(RegistryHive::current_user, kSettingsKey, value).value_or(fallback);
}

}  // namespace

std::string folder_problem(const std::string& folder, const std::string& setting_problem) {
  if (!setting_problem.empty()) return setting_problem;
  if (folder.empty()) return "no folder is set";
  std::error_code error;
  const std::filesystem::path path = host_path(folder);
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return folder + ": no such folder";
  if (!std::filesystem::is_directory(status)) return folder + ": not a folder";
  std::filesystem::directory_iterator probe(path, error);
  if (error) return folder + ": cannot be read: " + error.message();
  return {};
}

Settings load_settings(const Registry& registry) {
  Settings settings;
  settings.send_folder = read_setting(registry, "FolderForSFiles", &settings.send_folder_problem);
  settings.receive_folder = read_setting(registry, "FolderForRFiles", &settings.receive_folder_problem);
  settings.font_name = read_setting(registry, "FontName");
  settings.receive_policy = read_number(registry, "FromPalmToPC", kAskBeforeOverwrite);
  settings.send_policy = read_number(registry, "FromPCToPalm", kAskBeforeOverwrite);
  settings.font_size = read_number(registry, "FontSize", kDefaultFontSize);
  return settings;
}

}  // namespace vellora
