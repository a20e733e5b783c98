// Registry reads, message boxes, log entries and the language library on
// Windows.
#include "hosts/windows/desktop_services.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "hosts/windows/palm_libraries.h"

namespace vellora::win32 {

namespace {

constexpr DWORD kStringBufferBytes = 260;

HKEY root_of(RegistryHive hive) { return hive == RegistryHive::current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

// An open key, closed when it goes out of scope.
class OpenKey {
 public:
  OpenKey(RegistryHive hive, std::string_view path) {
    const std::string zero_terminated(path);
    if (RegOpenKeyExA(root_of(hive), zero_terminated.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  // Reads the value into `buffer` when it has the type `expected_type`.
  bool read(std::string_view value, DWORD expected_type, void* buffer, DWORD& size) const {
    if (key_ == nullptr) return false;
    const std::string name(value);
    DWORD type = 0;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, static_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
      return false;
    return type == expected_type;
  }

 private:
  HKEY key_ = nullptr;
};

ModuleHandle module_handle(void* pointer) { return reinterpret_cast<ModuleHandle>(pointer); }
void* module_pointer(ModuleHandle handle) { return reinterpret_cast<void*>(handle); }

}  // namespace

std::optional<std::string> WindowsRegistry::read_string(RegistryHive hive, std::string_view key,
                                                        std::string_view value) const {
  char buffer[kStringBufferBytes + 1] = {};  // one spare byte: the value may lack its terminator
  DWORD size = kStringBufferBytes;
  if (!OpenKey(hive, key).read(value, REG_SZ, buffer, size)) return std::nullopt;
  return std::string(buffer, strnlen(buffer, size));
}

std::optional<std::uint32_t> WindowsRegistry::read_dword(RegistryHive hive, std::string_view key,
                                                         std::string_view value) const {
  DWORD number = 0;
  DWORD size = sizeof number;
  if (!OpenKey(hive, key).read(value, REG_DWORD, &number, size) || size != sizeof number) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

int WindowsMessageBoxes::show(std::string_view text, std::string_view caption, std::uint32_t style) {
  const std::string zero_terminated_text(text);
  const std::string zero_terminated_caption(caption);
  return MessageBoxA(nullptr, zero_terminated_text.c_str(), zero_terminated_caption.c_str(), style);
}

void PalmHotSyncLog::add_entry(std::string_view text, std::int32_t activity) {
  const std::string zero_terminated(text);
  ::LogAddEntry(zero_terminated.c_str(), activity, 0);
}

ModuleHandle PalmLanguageLibrary::load(std::string_view file_name, ModuleHandle instance, int* scratch) {
  const std::string zero_terminated(file_name);
  std::uint32_t version = 0;
  void* library = ::PalmLoadLanguage(zero_terminated.c_str(), module_pointer(instance), &version);
  if (scratch != nullptr) *scratch = static_cast<int>(version);
  return module_handle(library);
}

void PalmLanguageLibrary::release(ModuleHandle library, ModuleHandle instance) {
  ::PalmFreeLanguage(module_pointer(library), module_pointer(instance));
}

}  // namespace vellora::win32
