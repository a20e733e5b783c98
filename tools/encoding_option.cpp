// The --encoding flag, the TextEncoding setting and the locale.
#include "tools/encoding_option.h"

#include <cstdlib>
#include <optional>

#include "base/ascii.h"
#include "conduit/settings.h"
#include "hosts/linux/registry_file.h"
#include "hosts/linux/utf8_codec.h"
#include "hosts/linux/xdg_paths.h"

namespace vellora::cli {

namespace {

std::optional<bool> is_utf8_name(std::string_view name) {
  const std::string lower = to_lower_ascii(name);
  if (lower == "utf-8" || lower == "utf8") return true;
  if (lower == "cp1252" || lower == "windows-1252") return false;
  return std::nullopt;
}

// The locale's character type names UTF-8: "en_GB.UTF-8", "C.utf8".
bool locale_is_utf8() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    const std::string lower = to_lower_ascii(value);
    return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
  }
  return false;
}

}  // namespace

const TextCodec* choose_codec(const std::string& flag, const Registry* registry, std::string& why_not) {
  static const linux_host::Utf8Codec utf8;
  std::optional<bool> is_utf8;
  if (!flag.empty()) {
    is_utf8 = is_utf8_name(flag);
    if (!is_utf8) {
      why_not = "--encoding " + flag + ": say utf-8 or cp1252";
      return nullptr;
    }
  } else if (registry != nullptr) {
    if (const auto value = registry->read_string(RegistryHive::current_user, kSettingsKey, "TextEncoding")) {
      is_utf8 = is_utf8_name(*value);
      if (!is_utf8) {
        why_not = "the setting TextEncoding is \"" + *value + "\"; say utf-8 or cp1252";
        return nullptr;
      }
    } else if (registry->read_dword(RegistryHive::current_user, kSettingsKey, "TextEncoding")) {
      why_not = "the setting TextEncoding is a number; say utf-8 or cp1252";
      return nullptr;
    }
  }
  if (!is_utf8) is_utf8 = locale_is_utf8();
  return *is_utf8 ? static_cast<const TextCodec*>(&utf8) : &TextCodec::identity();
}

const TextCodec* choose_codec(const std::string& flag, std::string& why_not) {
  linux_host::RegistryFile registry;
  const auto file = linux_host::default_registry_file();
  const bool has_settings = flag.empty() && file && registry.load(*file);
  return choose_codec(flag, has_settings ? &registry : nullptr, why_not);
}

}  // namespace vellora::cli
