// Default file locations: the XDG variable when it is absolute, else the
// fallback under HOME, else none.
#include "hosts/linux/xdg_paths.h"

#include <gtest/gtest.h>

namespace vellora::linux_host {
namespace {

TEST(XdgPaths, AbsoluteXdgVariablesWin) {
  const XdgEnvironment env{.home = "/home/me", .config_home = "/cfg", .state_home = "/state", .data_home = "/data"};
  EXPECT_EQ(default_registry_file(env), "/cfg/vellora/registry.reg");
  EXPECT_EQ(default_log_file(env), "/state/vellora/hotsync.log");
  EXPECT_EQ(default_handheld_folder(env), "/data/vellora/handheld");
}

TEST(XdgPaths, UnsetOrRelativeVariablesFallBackToHomeIfAbsolute) {
  for (const char* ignored : {"", "relative/dir"}) {
    const XdgEnvironment env{.home = "/home/me", .config_home = ignored, .state_home = ignored, .data_home = ignored};
    EXPECT_EQ(default_registry_file(env), "/home/me/.config/vellora/registry.reg");
    EXPECT_EQ(default_log_file(env), "/home/me/.local/state/vellora/hotsync.log");
    EXPECT_EQ(default_handheld_folder(env), "/home/me/.local/share/vellora/handheld");
  }
  const XdgEnvironment no_base{.home = "me", .config_home = "cfg", .state_home = "", .data_home = ""};
  EXPECT_FALSE(default_registry_file(no_base));
  EXPECT_FALSE(default_log_file(no_base));
  EXPECT_FALSE(default_handheld_folder(no_base));
}

}  // namespace
}  // namespace vellora::linux_host
