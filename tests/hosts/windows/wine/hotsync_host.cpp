// A minimal HotSync host for the Windows tests: loads the conduit library
// by path with LoadLibraryA and drives it as the manager does, through
// GetProcAddress of the six exports: name, version, the info query for the
// display name (type 0, input record (1, 80)), then OpenConduit with a
// non-null progress argument, once per session asked for, all in one load
// of the library. Prints one line per result; the exit status is the last
// OpenConduit's result (or 100 + step when a step cannot run).
//
// Usage: hotsync-host.exe DLL|--registered CREATOR [--sessions N] [--answers yn...]
//
// With --registered the library is found as the manager finds it: the
// conduit key under HKCU\Software\U.S. Robotics\Pilot Desktop whose
// Creator is CREATOR packed big-endian names it in its Conduit value.
//
// The conduit's message boxes are answered by the host: its import of
// MessageBoxA is pointed at a recorder that prints each box's caption,
// style and text, and answers Yes/No boxes with the next letter of
// --answers (y or n; No once they run out) and every other box with OK.
// The boxes are the conduit's own calls, with the exact arguments it
// passes; only the window is not drawn.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace {

using OpenConduitCall = std::int32_t (*)(void*, void*);
using GetConduitNameCall = std::int32_t (*)(char*, std::uint16_t);
using GetConduitVersionCall = std::uint32_t (*)();
using ConfigureConduitCall = std::int32_t (*)(void*);
using GetConduitInfoCall = std::int32_t (*)(std::int32_t, void*, void*, std::uint32_t*);
using CfgConduitCall = std::int32_t (*)(std::int32_t, void*, std::uint32_t*);

constexpr const char* kExports[] = {"OpenConduit",      "GetConduitName", "GetConduitVersion",
                                    "ConfigureConduit", "GetConduitInfo", "CfgConduit"};
constexpr UINT kYesNoButtons = 0x04;
constexpr UINT kButtonMask = 0x0F;

// The manager's progress callback is opaque to the conduit, which only
// checks that one was given.
void progress_stand_in() {}

std::string answers;
std::size_t next_answer = 0;

int WINAPI answer_box(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  const bool is_question = (style & kButtonMask) == kYesNoButtons;
  int answer = IDOK;
  if (is_question) answer = next_answer < answers.size() && answers[next_answer++] == 'y' ? IDYES : IDNO;
  std::printf("box: owner %s, caption \"%s\", style 0x%02X, text \"%s\" -> %s\n", owner == nullptr ? "none" : "set",
              caption == nullptr ? "(null)" : caption, style, text == nullptr ? "(null)" : text,
              answer == IDYES  ? "yes"
              : answer == IDNO ? "no"
                               : "ok");
  std::fflush(stdout);
  return answer;
}

// Points the module's import of USER32!MessageBoxA at answer_box.
bool answer_boxes_of(HMODULE module) {
  auto* base = reinterpret_cast<std::uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); library->Name != 0;
       ++library) {
    if (_stricmp(reinterpret_cast<const char*>(base + library->Name), "user32.dll") != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), "MessageBoxA") != 0) continue;
      DWORD old_protection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old_protection))
        return false;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(&answer_box);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old_protection, &old_protection);
      return true;
    }
  }
  return false;
}

constexpr const char* kDesktopKey = "Software\\U.S. Robotics\\Pilot Desktop";

// The Conduit value of the Application<N> key registered for `creator`, or
// "" when there is none.
std::string registered_conduit(const char* creator) {
  if (std::strlen(creator) != 4) return "";
  DWORD id = 0;
  for (int i = 0; i < 4; ++i) id = id << 8 | static_cast<unsigned char>(creator[i]);
  HKEY desktop = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_READ, &desktop) != ERROR_SUCCESS) return "";
  std::string conduit;
  char name[256];
  for (DWORD index = 0; conduit.empty(); ++index) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(desktop, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (std::strncmp(name, "Application", 11) != 0) continue;
    DWORD found = 0, found_size = sizeof found;
    if (RegGetValueA(desktop, name, "Creator", RRF_RT_REG_DWORD, nullptr, &found, &found_size) != ERROR_SUCCESS ||
        found != id)
      continue;
    char path[MAX_PATH] = {};
    DWORD path_size = sizeof path;
    if (RegGetValueA(desktop, name, "Conduit", RRF_RT_REG_SZ, nullptr, path, &path_size) == ERROR_SUCCESS) {
      conduit = path;
      std::printf("registered: %s, Conduit \"%s\"\n", name, path);
    }
  }
  RegCloseKey(desktop);
  return conduit;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = argc > 1 ? argv[1] : "VelloraConduit.dll";
  int first_option = 2;
  if (path == "--registered") {
    const char* creator = argc > 2 ? argv[2] : "";
    path = registered_conduit(creator);
    if (path.empty()) {
      std::printf("no conduit registered for %s\n", creator);
      return 104;
    }
    first_option = 3;
  }
  int sessions = 1;
  for (int i = first_option; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--sessions") == 0) sessions = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--answers") == 0) answers = argv[i + 1];
  }
  HMODULE conduit = LoadLibraryA(path.c_str());
  if (conduit == nullptr) {
    std::printf("load %s: error %lu\n", path.c_str(), static_cast<unsigned long>(GetLastError()));
    return 101;
  }
  if (!answer_boxes_of(conduit)) {
    std::printf("the conduit imports no MessageBoxA to answer\n");
    return 103;
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

  std::int32_t open_result = 0;
  for (int session = 0; session < sessions; ++session) {
    std::uint8_t properties[64] = {};
    open_result = open_conduit(reinterpret_cast<void*>(&progress_stand_in), properties);
    std::printf("OpenConduit: %ld\n", static_cast<long>(open_result));
    std::fflush(stdout);
  }
  FreeLibrary(conduit);
  return static_cast<int>(open_result);
}
