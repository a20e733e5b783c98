// Default file locations from the XDG base directory variables.
#include "hosts/linux/xdg_paths.h"

#include <cstdlib>
#include <system_error>

namespace vellora::linux_host {

namespace {

constexpr const char* kAppFolder = "vellora";

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The XDG variable when it is absolute (relative values are to be
// ignored), else `fallback` under an absolute HOME.
std::optional<std::filesystem::path> base_folder(const std::string& xdg_value, const std::string& home,
                                                 const std::filesystem::path& fallback) {
  if (!xdg_value.empty() && xdg_value.front() == '/') return std::filesystem::path(xdg_value);
  if (!home.empty() && home.front() == '/') return std::filesystem::path(home) / fallback;
  return std::nullopt;
}

std::optional<std::filesystem::path> under(std::optional<std::filesystem::path> base, const char* leaf) {
  if (!base) return std::nullopt;
  return *base / kAppFolder / leaf;
}

}  // namespace

XdgEnvironment process_environment() {
  return XdgEnvironment{.home = variable("HOME"),
                        .config_home = variable("XDG_CONFIG_HOME"),
                        .state_home = variable("XDG_STATE_HOME"),
                        .data_home = variable("XDG_DATA_HOME")};
}

std::optional<std::filesystem::path> default_registry_file(const XdgEnvironment& env) {
  return under(base_folder(env.config_home, env.home, ".config"), "registry.reg");
}

std::optional<std::filesystem::path> default_log_file(const XdgEnvironment& env) {
  return under(base_folder(env.state_home, env.home, ".local/state"), "hotsync.log");
}

std::optional<std::filesystem::path> default_handheld_folder(const XdgEnvironment& env) {
  return under(base_folder(env.data_home, env.home, ".local/share"), "handheld");
}

std::optional<std::filesystem::path> bundled_office_converter(const std::filesystem::path& executable) {
  // The link is resolved so that a symlink to vellora (say in
  // /usr/local/bin) still finds the converter beside the real binary.
  std::error_code error;
  const std::filesystem::path binary = std::filesystem::canonical(executable, error);
  if (error) return std::nullopt;
  const std::filesystem::path converter =
      (binary.parent_path() / "../lib/vellora/converters/office.so").lexically_normal();
  if (!std::filesystem::is_regular_file(converter, error)) return std::nullopt;
  return converter;
}

}  // namespace vellora::linux_host
