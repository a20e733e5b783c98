// The conduit's settings, read from the current user's registry at the
// start of every session: the two folders, the two overwrite policies and
// the font the exporters write into documents.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "exporters/export_options.h"
#include "platform/registry.h"

namespace vellora {

inline constexpr std::string_view kSettingsKey = "Software\\Brisholm\\Vellora";

// Overwrite policies: what to do when the target of a copy already exists.
constexpr std::uint32_t kNeverOverwrite = 1;
constexpr std::uint32_t kAskBeforeOverwrite = 2;  // any other value overwrites without asking

// Registry strings are read into 260-byte buffers, so longer values do not
// fit; such a value counts as missing rather than being cut to another path.
constexpr std::size_t kMaxSettingChars = 259;

struct Settings {
  std::string send_folder;                             // FolderForSFiles
  std::string receive_folder;                          // FolderForRFiles
  std::string font_name;                               // FontName
  std::uint32_t receive_policy = kAskBeforeOverwrite;  // FromPalmToPC
  std::uint32_t send_policy = kAskBeforeOverwrite;     // FromPCToPalm
  std::uint32_t font_size = kDefaultFontSize;          // FontSize
  // Why a folder setting reads as empty ("FolderForSFiles is not set"),
  // so that a pass that does nothing can say why; empty when it is set.
  std::string send_folder_problem;
  std::string receive_folder_problem;
};

// Missing values, values of the wrong type and strings too long for the
// conduit's buffers read as empty folders and font name, policy 2 (ask)
// and font size 10.
Settings load_settings(const Registry& registry);

// Why a pass cannot work in `folder`: the setting's own problem, or that
// the folder is missing, not a folder or unreadable. Empty when usable.
std::string folder_problem(const std::string& folder, const std::string& setting_problem);

}  // namespace vellora
