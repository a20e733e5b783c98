// The language library on Linux: there is no resource library to load, so
// this stand-in loads nothing. It hands out a distinct non-zero handle per
// load, as the conduit expects of a loaded library, and records each call
// so tests can check that the conduit loads and releases it as it should.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/language_library.h"

namespace vellora::linux_host {

class LanguageStandIn : public LanguageLibrary {
 public:
  struct Call {
    bool is_load = false;   // load, else release
    std::string file_name;  // loads only
    ModuleHandle instance = 0;
    ModuleHandle library = 0;  // handed out by a load, passed to a release
    bool operator==(const Call&) const = default;
  };

  // Sets *scratch to 0 when it is given.
  ModuleHandle load(std::string_view file_name, ModuleHandle instance, int* scratch) override;
  void release(ModuleHandle library, ModuleHandle instance) override;

  const std::vector<Call>& calls() const { return calls_; }
  // Handles loaded and not yet released.
  std::size_t loaded_count() const { return loaded_.size(); }

 private:
  std::vector<Call> calls_;
  std::vector<ModuleHandle> loaded_;
  ModuleHandle next_handle_ = 0x10000;  // looks like a module base, never 0
};

}  // namespace vellora::linux_host
