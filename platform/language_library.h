// The conduit's language resource library, loaded when the conduit library
// is attached and released when it is detached. Nothing is taken from it;
// the conduit holds it loaded as the desktop software expects.
#pragma once

#include <cstdint>
#include <string_view>

namespace vellora {

using ModuleHandle = std::uintptr_t;

inline constexpr std::string_view kLanguageLibraryName = "VELLORACONDUITLANG.DLL";

class LanguageLibrary {
 public:
  virtual ~LanguageLibrary() = default;
  // `scratch` receives a value the conduit does not use.
  virtual ModuleHandle load(std::string_view file_name, ModuleHandle instance, int* scratch) = 0;
  virtual void release(ModuleHandle library, ModuleHandle instance) = 0;
};

}  // namespace vellora
