// Where the Linux host keeps its files when the command line names none,
// following the XDG base directory rules: settings under the config home,
// the HotSync log under the state home, the handheld folder under the data
// home. Each *_HOME variable must hold an absolute path to count; otherwise
// the fallback under $HOME applies. What ships with vellora is found
// relative to the executable instead.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vellora::linux_host {

// The variables the defaults depend on; empty when unset.
struct XdgEnvironment {
  std::string home;         // $HOME
  std::string config_home;  // $XDG_CONFIG_HOME
  std::string state_home;   // $XDG_STATE_HOME
  std::string data_home;    // $XDG_DATA_HOME
};

XdgEnvironment process_environment();

// Each is nullopt when neither its XDG variable nor HOME is an absolute
// path, so the caller can ask for an explicit option instead of writing
// somewhere relative to the current directory.

// $XDG_CONFIG_HOME/vellora/registry.reg, else ~/.config/vellora/registry.reg
std::optional<std::filesystem::path> default_registry_file(const XdgEnvironment& env = process_environment());
// $XDG_STATE_HOME/vellora/hotsync.log, else ~/.local/state/vellora/hotsync.log
std::optional<std::filesystem::path> default_log_file(const XdgEnvironment& env = process_environment());
// $XDG_DATA_HOME/vellora/handheld, else ~/.local/share/vellora/handheld
std::optional<std::filesystem::path> default_handheld_folder(const XdgEnvironment& env = process_environment());

// The office converter installed beside vellora:
// <folder of the executable>/../lib/vellora/converters/office.so when that is
// a regular file, else nullopt. `executable` defaults to /proc/self/exe.
std::optional<std::filesystem::path> bundled_office_converter(
    const std::filesystem::path& executable = "/proc/self/exe");

}  // namespace vellora::linux_host
