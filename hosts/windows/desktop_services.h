// The Windows host's registry, message boxes, HotSync log and language
// library: thin adapters from the core's interfaces to the Windows API and
// to the handheld maker's log and common libraries.
#pragma once

#include "platform/hotsync_log.h"
#include "platform/language_library.h"
#include "platform/message_box.h"
#include "platform/registry.h"

namespace vellora::win32 {

// Strings are read only as REG_SZ into a 260-byte buffer (longer values
// read as missing), numbers only as REG_DWORD; any other type reads as
// missing, as on Linux.
class WindowsRegistry : public Registry {
 public:
  std::optional<std::string> read_string(RegistryHive hive, std::string_view key,
                                         std::string_view value) const override;
  std::optional<std::uint32_t> read_dword(RegistryHive hive, std::string_view key,
                                          std::string_view value) const override;
};

// MessageBoxA with no owner window; returns the button pressed.
class WindowsMessageBoxes : public MessageBoxes {
 public:
  int show(std::string_view text, std::string_view caption, std::uint32_t style) override;
};

// Entries go to HSLOG20.dll without a time stamp.
class PalmHotSyncLog : public HotSyncLog {
 public:
  void add_entry(std::string_view text, std::int32_t activity) override;
};

// The language library through PalmCmn.dll.
class PalmLanguageLibrary : public LanguageLibrary {
 public:
  ModuleHandle load(std::string_view file_name, ModuleHandle instance, int* scratch) override;
  void release(ModuleHandle library, ModuleHandle instance) override;
};

}  // namespace vellora::win32
