// PalmCmn.dll for the Windows tests: loading and freeing the language
// library are only recorded, one line each ("load NAME", "free"), in the
// file named by VELLORA_PALMCMN_LOG; the handle handed out is a fixed,
// never dereferenced value. Windows (stdcall) convention; the link drops
// the @n decoration so the names are plain, as the conduit imports them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Odd, so it can never be mistaken for a real module address.
void* const kFakeLanguage = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x4C41));

void record(const char* what, const char* name) {
  const char* path = std::getenv("VELLORA_PALMCMN_LOG");
  if (path == nullptr || *path == '\0') return;
  if (std::FILE* log = std::fopen(path, "ab")) {
    std::fprintf(log, "%s%s%s\n", what, name == nullptr ? "" : " ", name == nullptr ? "" : name);
    std::fclose(log);
  }
}

}  // namespace

extern "C" __declspec(dllexport) void* __stdcall PalmLoadLanguage(const char* file_name, void*,
                                                                  std::uint32_t* version) {
  record("load", file_name == nullptr ? "(null)" : file_name);
  if (version != nullptr) *version = 0;
  return kFakeLanguage;
}

extern "C" __declspec(dllexport) std::int32_t __stdcall PalmFreeLanguage(void* language, void*) {
  record("free", language == kFakeLanguage ? nullptr : "(unknown handle)");
  return 1;
}
