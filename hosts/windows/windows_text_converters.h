// The Windows host's TextConverterLibrary: converters are DLLs loaded with
// LoadLibraryA, their strings and buffers are movable global memory, the
// converter thread runs with OLE initialised, and the waits between the
// reading side and the converter thread keep delivering messages sent to
// the waiting thread's windows, so a converter that talks to a window on
// the other thread cannot deadlock the session.
#pragma once

#include "platform/text_converter.h"

namespace vellora::win32 {

class WindowsTextConverterLibrary : public TextConverterLibrary {
 public:
  ModuleHandle load(const std::string& path) override;
  void* resolve(ModuleHandle library, const char* name) override;
  void free(ModuleHandle library) override;

  GlobalHandle allocate(std::size_t bytes) override;
  void* lock(GlobalHandle block) override;
  void unlock(GlobalHandle block) override;
  void release(GlobalHandle block) override;

  // Manual-reset events whose wait pumps sent messages.
  std::unique_ptr<ConverterEvent> create_event() override;

  // No window: the conduit runs inside the manager's session, which
  // offers none to converters.
  void* main_window() override { return nullptr; }
  void begin_converter_thread() override;
  void end_converter_thread() override;
  std::string to_oem(std::string_view ansi) override;
  std::string to_ansi(std::string_view oem) override;
};

}  // namespace vellora::win32
