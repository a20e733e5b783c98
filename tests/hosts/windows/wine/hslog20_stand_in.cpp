// HSLOG20.dll for the Windows tests: each entry is appended as one line,
// "activity<TAB>timestamp flag<TAB>text", to the file named by the
// environment variable VELLORA_HOTSYNC_LOG (nowhere when it is unset).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" __declspec(dllexport) std::int32_t
    LogAddEntry(const char* text, std::int32_t activity, std::int32_t timestamp) {
  const char* path = std::getenv("VELLORA_HOTSYNC_LOG");
  if (path == nullptr || *path == '\0') return 0;
  std::FILE* log = std::fopen(path, "ab");
  if (log == nullptr) return 1;
  std::fprintf(log, "%ld\t%ld\t%s\n", static_cast<long>(activity), static_cast<long>(timestamp),
               text == nullptr ? "" : text);
  return std::fclose(log) == 0 ? 0 : 1;
}
