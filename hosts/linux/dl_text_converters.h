// The Linux host's TextConverterLibrary: converters are shared objects
// opened with dlopen, the movable global memory they share with the
// conduit comes from libvellora-memory, and the events the Word importer's
// reading side and converter thread wait on are plain condition variables.
#pragma once

#include "platform/text_converter.h"

namespace vellora::linux_host {

class DlTextConverterLibrary : public TextConverterLibrary {
 public:
  // Opened with RTLD_NOW, so a converter with a missing symbol fails here
  // rather than in the middle of a conversion, and RTLD_LOCAL, so several
  // converters exporting the same entry points do not meet.
  ModuleHandle load(const std::string& path) override;
  void* resolve(ModuleHandle library, const char* name) override;
  void free(ModuleHandle library) override;

  GlobalHandle allocate(std::size_t bytes) override;
  void* lock(GlobalHandle block) override;
  void unlock(GlobalHandle block) override;
  // A block that is still locked cannot be freed and is left as it is.
  void release(GlobalHandle block) override;

  std::unique_ptr<ConverterEvent> create_event() override;
};

}  // namespace vellora::linux_host
