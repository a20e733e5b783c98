// LanguageStandIn: a language library that loads nothing and remembers
// what it was asked.
#include "hosts/linux/language_stand_in.h"

#include <algorithm>

namespace vellora::linux_host {

namespace {
constexpr ModuleHandle kHandleStep = 0x10000;
}  // namespace

ModuleHandle LanguageStandIn::load(std::string_view file_name, ModuleHandle instance, int* scratch) {
  if (scratch != nullptr) *scratch = 0;
  const ModuleHandle handle = next_handle_;
  next_handle_ += kHandleStep;
  loaded_.push_back(handle);
  calls_.push_back(Call{.is_load = true, .file_name = std::string(file_name), .instance = instance, .library = handle});
  return handle;
}

void LanguageStandIn::release(ModuleHandle library, ModuleHandle instance) {
  calls_.push_back(Call{.is_load = false, .file_name = {}, .instance = instance, .library = library});
  if (const auto it = std::find(loaded_.begin(), loaded_.end(), library); it != loaded_.end()) loaded_.erase(it);
}

}  // namespace vellora::linux_host
