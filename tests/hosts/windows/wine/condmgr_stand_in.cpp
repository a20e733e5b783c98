// CondMgr.dll for the installer tests: the conduit manager's calls an
// installer makes, writing the registry as the real library was measured
// to write it. A conduit is a key under HKCU\Software\U.S. Robotics\Pilot
// Desktop named Application<N> (type 1) or Component<N> (other types),
// holding Creator (the four characters packed big-endian) and the values
// each CmSetCreator... call names. Results as measured: 0 on success, 1
// from CmRemoveConduitByCreatorID, -1005 for a creator installed twice,
// -1012 for a malformed creator and for setting one not installed, -1003
// for removing one not installed.
//
// Every call is appended to the file named by VELLORA_CONDMGR_LOG as
// "Name(arguments) = result". VELLORA_CONDMGR_FAIL=NAME[=CODE] makes that
// function fail with CODE (-1006, a registry error, by default) and do
// nothing. Windows (stdcall) convention, exported under plain names.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/hosts/windows/wine/stand_in_calls.h"

namespace {

constexpr const char* kDesktopKey = "Software\\U.S. Robotics\\Pilot Desktop";
constexpr const char* kCoreKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
constexpr int kApplicationType = 1;

constexpr long kNoConduit = -1003;
constexpr long kCreatorInUse = -1005;
constexpr long kRegistryAccess = -1006;
constexpr long kBufferTooSmall = -1010;
constexpr long kValueNotFound = -1011;
constexpr long kInvalidCreator = -1012;
constexpr long kInvalidPointer = -1013;

// Logs the call and gives its result back, so each export ends in one line.
long answer(long result, const char* call) {
  stand_in::record_call("VELLORA_CONDMGR_LOG", "%s = %ld", call, result);
  return result;
}

bool injected_failure(const char* name, const std::string& call, long& result) {
  long code = kRegistryAccess;
  if (!stand_in::fails("VELLORA_CONDMGR_FAIL", name, code)) return false;
  result = answer(code, (call + " [injected]").c_str());
  return true;
}

bool parse_creator(const char* text, DWORD& id) {
  if (text == nullptr || std::strlen(text) != 4) return false;
  id = 0;
  for (int i = 0; i < 4; ++i) id = id << 8 | static_cast<unsigned char>(text[i]);
  return true;
}

bool is_conduit_key(const char* name) {
  return std::strncmp(name, "Application", 11) == 0 || std::strncmp(name, "Component", 9) == 0;
}

// The name of the conduit key holding `id`, or "" when none does.
std::string find_conduit(DWORD id) {
  HKEY desktop = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_READ, &desktop) != ERROR_SUCCESS) return "";
  std::string found;
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(desktop, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (!is_conduit_key(name)) continue;
    DWORD creator = 0, creator_size = sizeof creator, type = 0;
    if (RegGetValueA(desktop, name, "Creator", RRF_RT_REG_DWORD, &type, &creator, &creator_size) == ERROR_SUCCESS &&
        creator == id) {
      found = name;
      break;
    }
  }
  RegCloseKey(desktop);
  return found;
}

// The first free key name: Application<N> for applications, Component<N>
// otherwise. The real library starts at -1 when the Pilot Desktop key does
// not exist yet, and at 0 when it does.
std::string free_conduit_key(int type, bool desktop_existed) {
  const std::string prefix = type == kApplicationType ? "Application" : "Component";
  for (int n = desktop_existed ? 0 : -1;; ++n) {
    const std::string name = prefix + std::to_string(n);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kDesktopKey) + "\\" + name).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
      return name;
    RegCloseKey(key);
  }
}

long set_value(const char* creator, const char* value_name, DWORD type, const void* data, DWORD size) {
  DWORD id = 0;
  if (!parse_creator(creator, id)) return kInvalidCreator;
  const std::string key = find_conduit(id);
  if (key.empty()) return kInvalidCreator;
  const std::string path = std::string(kDesktopKey) + "\\" + key;
  return RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), value_name, type, data, size) == ERROR_SUCCESS
             ? 0
             : kRegistryAccess;
}

long set_string(const char* function, const char* creator, const char* value_name, const char* text) {
  const std::string call = std::string(function) + "(" + stand_in::shown(creator) + ", " + stand_in::shown(text) + ")";
  long result = 0;
  if (injected_failure(function, call, result)) return result;
  if (text == nullptr) return answer(kInvalidPointer, call.c_str());
  return answer(set_value(creator, value_name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1)), call.c_str());
}

long set_number(const char* function, const char* creator, const char* value_name, DWORD number) {
  const std::string call = std::string(function) + "(" + stand_in::shown(creator) + ", " + std::to_string(number) + ")";
  long result = 0;
  if (injected_failure(function, call, result)) return result;
  return answer(set_value(creator, value_name, REG_DWORD, &number, sizeof number), call.c_str());
}

long get_string(const char* function, const char* creator, const char* value_name, char* text, int* size) {
  const std::string call = std::string(function) + "(" + stand_in::shown(creator) + ")";
  long result = 0;
  if (injected_failure(function, call, result)) return result;
  if (text == nullptr || size == nullptr) return answer(kInvalidPointer, call.c_str());
  DWORD id = 0;
  if (!parse_creator(creator, id)) return answer(kInvalidCreator, call.c_str());
  const std::string key = find_conduit(id);
  if (key.empty()) return answer(kNoConduit, call.c_str());
  DWORD bytes = static_cast<DWORD>(*size);
  const LSTATUS status = RegGetValueA(HKEY_CURRENT_USER, (std::string(kDesktopKey) + "\\" + key).c_str(), value_name,
                                      RRF_RT_REG_SZ, nullptr, text, &bytes);
  *size = static_cast<int>(bytes);
  if (status == ERROR_MORE_DATA) return answer(kBufferTooSmall, call.c_str());
  return answer(status == ERROR_SUCCESS ? 0 : kValueNotFound, call.c_str());
}

// CmGetCorePath and CmGetHotSyncExecPath: a Core value; with no Palm
// Desktop they answer 0 and an empty string, as the real library does.
long core_value(const char* function, const char* value_name, char* path, int* size) {
  long result = 0;
  if (injected_failure(function, function, result)) return result;
  if (path == nullptr || size == nullptr) return answer(kInvalidPointer, function);
  char value[MAX_PATH] = {};
  DWORD bytes = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, kCoreKey, value_name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
    value[0] = '\0';
  const int needed = static_cast<int>(std::strlen(value) + 1);
  if (*size < needed) {
    *size = needed;
    return answer(kBufferTooSmall, function);
  }
  std::memcpy(path, value, static_cast<std::size_t>(needed));
  *size = needed;
  return answer(0, function);
}

}  // namespace

#define STAND_IN_EXPORT extern "C" __declspec(dllexport)

STAND_IN_EXPORT WORD __stdcall CmGetLibVersion() {
  stand_in::record_call("VELLORA_CONDMGR_LOG", "CmGetLibVersion() = 3");
  return 3;
}

STAND_IN_EXPORT long __stdcall CmInstallCreator(const char* creator, int type) {
  const std::string call =
      std::string("CmInstallCreator(") + stand_in::shown(creator) + ", " + std::to_string(type) + ")";
  long result = 0;
  if (injected_failure("CmInstallCreator", call, result)) return result;
  DWORD id = 0;
  if (!parse_creator(creator, id)) return answer(kInvalidCreator, call.c_str());
  if (!find_conduit(id).empty()) return answer(kCreatorInUse, call.c_str());
  HKEY desktop = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &desktop, &disposition) !=
      ERROR_SUCCESS)
    return answer(kRegistryAccess, call.c_str());
  const std::string name = free_conduit_key(type, disposition == REG_OPENED_EXISTING_KEY);
  const LSTATUS status = RegSetKeyValueA(desktop, name.c_str(), "Creator", REG_DWORD, &id, sizeof id);
  RegCloseKey(desktop);
  return answer(status == ERROR_SUCCESS ? 0 : kRegistryAccess, call.c_str());
}

STAND_IN_EXPORT long __stdcall CmRemoveConduitByCreatorID(const char* creator) {
  const std::string call = std::string("CmRemoveConduitByCreatorID(") + stand_in::shown(creator) + ")";
  long result = 0;
  if (injected_failure("CmRemoveConduitByCreatorID", call, result)) return result;
  DWORD id = 0;
  if (!parse_creator(creator, id)) return answer(kInvalidCreator, call.c_str());
  const std::string key = find_conduit(id);
  if (key.empty()) return answer(kNoConduit, call.c_str());
  HKEY desktop = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_ALL_ACCESS, &desktop) != ERROR_SUCCESS)
    return answer(kRegistryAccess, call.c_str());
  const LSTATUS status = RegDeleteTreeA(desktop, key.c_str());
  RegCloseKey(desktop);
  return answer(status == ERROR_SUCCESS ? 1 : -1002, call.c_str());  // -1002: unable to delete
}

STAND_IN_EXPORT long __stdcall CmSetCreatorName(const char* creator, const char* conduit) {
  return set_string("CmSetCreatorName", creator, "Conduit", conduit);
}
STAND_IN_EXPORT long __stdcall CmSetCreatorTitle(const char* creator, const char* title) {
  return set_string("CmSetCreatorTitle", creator, "Name", title);
}
STAND_IN_EXPORT long __stdcall CmSetCreatorDirectory(const char* creator, const char* directory) {
  return set_string("CmSetCreatorDirectory", creator, "Directory", directory);
}
STAND_IN_EXPORT long __stdcall CmSetCreatorFile(const char* creator, const char* file) {
  return set_string("CmSetCreatorFile", creator, "File0", file);
}
STAND_IN_EXPORT long __stdcall CmSetCreatorRemote(const char* creator, const char* remote) {
  return set_string("CmSetCreatorRemote", creator, "Remote0", remote);
}
STAND_IN_EXPORT long __stdcall CmSetCreatorInfo(const char* creator, const char* info) {
  return set_string("CmSetCreatorInfo", creator, "Information", info);
}
STAND_IN_EXPORT long __stdcall CmSetCreatorPriority(const char* creator, DWORD priority) {
  return set_number("CmSetCreatorPriority", creator, "Priority", priority);
}
STAND_IN_EXPORT long __stdcall CmSetCreatorIntegrate(const char* creator, DWORD integrate) {
  return set_number("CmSetCreatorIntegrate", creator, "Integrate", integrate);
}

STAND_IN_EXPORT long __stdcall CmGetCreatorName(const char* creator, char* conduit, int* size) {
  return get_string("CmGetCreatorName", creator, "Conduit", conduit, size);
}
STAND_IN_EXPORT long __stdcall CmGetCreatorTitle(const char* creator, char* title, int* size) {
  return get_string("CmGetCreatorTitle", creator, "Name", title, size);
}
STAND_IN_EXPORT long __stdcall CmGetCreatorDirectory(const char* creator, char* directory, int* size) {
  return get_string("CmGetCreatorDirectory", creator, "Directory", directory, size);
}

STAND_IN_EXPORT long __stdcall CmGetCorePath(char* path, int* size) {
  return core_value("CmGetCorePath", "Path", path, size);
}
STAND_IN_EXPORT long __stdcall CmGetHotSyncExecPath(char* path, int* size) {
  return core_value("CmGetHotSyncExecPath", "HotSyncPath", path, size);
}
