// A minimal HotSync host for the Windows tests: loads the conduit library
// by path with LoadLibraryA and drives it as the manager does, through
// GetProcAddress of the six exports: name, version, the info query for the
// display name (type 0, input record (1, 80)), then OpenConduit with a
// non-null progress argument. Prints one line per result; the exit status
// is OpenConduit's result (or 100 + step when a step cannot run).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <iterator>

namespace {

using OpenConduitCall = std::int32_t (*)(void*, void*);
using GetConduitNameCall = std::int32_t (*)(char*, std::uint16_t);
using GetConduitVersionCall = std::uint32_t (*)();
using ConfigureConduitCall = std::int32_t (*)(void*);
using GetConduitInfoCall = std::int32_t (*)(std::int32_t, void*, void*, std::uint32_t*);
using CfgConduitCall = std::int32_t (*)(std::int32_t, void*, std::uint32_t*);

constexpr const char* kExports[] = {"OpenConduit",      "GetConduitName", "GetConduitVersion",
                                    "ConfigureConduit", "GetConduitInfo", "CfgConduit"};

// The manager's progress callback is opaque to the conduit, which only
// checks that one was given.
void progress_stand_in() {}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "VelloraConduit.dll";
  HMODULE conduit = LoadLibraryA(path);
  if (conduit == nullptr) {
    std::printf("load %s: error %lu\n", path, static_cast<unsigned long>(GetLastError()));
    return 101;
  }
  FARPROC found[std::size(kExports)] = {};
  for (std::size_t i = 0; i < std::size(kExports); ++i) {
    found[i] = GetProcAddress(conduit, kExports[i]);
    std::printf("export %s: %s\n", kExports[i], found[i] != nullptr ? "found" : "missing");
    if (found[i] == nullptr) return 102;
  }
  const auto open_conduit = reinterpret_cast<OpenConduitCall>(reinterpret_cast<void*>(found[0]));
  const auto get_name = reinterpret_cast<GetConduitNameCall>(reinterpret_cast<void*>(found[1]));
  const auto get_version = reinterpret_cast<GetConduitVersionCall>(reinterpret_cast<void*>(found[2]));
  const auto get_info = reinterpret_cast<GetConduitInfoCall>(reinterpret_cast<void*>(found[4]));

  char name[256] = {};
  const std::int32_t name_result = get_name(name, sizeof name);
  std::printf("GetConduitName: %ld \"%s\"\n", static_cast<long>(name_result), name);
  std::printf("GetConduitVersion: 0x%08lX\n", static_cast<unsigned long>(get_version()));

  // Type 0 asks for the display name; the input record carries the
  // manager's record version (1) and its name buffer size (80).
  std::uint32_t input[2] = {1, 80};
  char display_name[80] = {};
  std::uint32_t size = sizeof display_name;
  const std::int32_t info_result = get_info(0, input, display_name, &size);
  std::printf("GetConduitInfo(0): %ld \"%s\"\n", static_cast<long>(info_result), display_name);

  std::uint8_t properties[64] = {};
  const std::int32_t open_result =
      open_conduit(reinterpret_cast<void*>(&progress_stand_in), properties);
  std::printf("OpenConduit: %ld\n", static_cast<long>(open_result));
  FreeLibrary(conduit);
  return static_cast<int>(open_result);
}
