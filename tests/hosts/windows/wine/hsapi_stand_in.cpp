// HsApi.dll for the installer tests: a HotSync manager that is only a
// word in a file, so installer, uninstaller and test see the same one. The
// file named by VELLORA_HOTSYNC_STATE holds "running", "syncing" or
// anything else (or is missing): not running. Closing a syncing manager
// fails, as the real one refuses to quit in the middle of a sync.
//
// Every call is appended to the file named by VELLORA_HSAPI_LOG as
// "Name(arguments) = result". VELLORA_HSAPI_FAIL=NAME[=CODE] makes that
// function fail with CODE (0x10000003, a general failure, by default) and
// change nothing. Windows (stdcall) convention, plain names.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/hosts/windows/wine/stand_in_calls.h"

namespace {

constexpr long kHotSyncNotFound = 0x10000001;
constexpr long kFailure = 0x10000003;
constexpr long kUnableToClose = 0x10000006;
constexpr DWORD kApiVersion2 = 0x00010002;
constexpr DWORD kIdle = 0;
constexpr DWORD kSyncing = 1;
enum AppStatus : int { kCloseApp = 0, kStartApp = 1, kRestart = 2 };

std::string read_state() {
  const char* path = std::getenv("VELLORA_HOTSYNC_STATE");
  if (path == nullptr || *path == '\0') return "";
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return "";
  char word[16] = {};
  const std::size_t read = std::fread(word, 1, sizeof word - 1, file);
  std::fclose(file);
  std::string state(word, read);
  while (!state.empty() && (state.back() == '\n' || state.back() == '\r')) state.pop_back();
  return state;
}

void write_state(const char* state) {
  const char* path = std::getenv("VELLORA_HOTSYNC_STATE");
  if (path == nullptr || *path == '\0') return;
  if (std::FILE* file = std::fopen(path, "wb")) {
    std::fprintf(file, "%s\n", state);
    std::fclose(file);
  }
}

bool is_running() {
  const std::string state = read_state();
  return state == "running" || state == "syncing";
}

long answer(long result, const char* call) {
  stand_in::record_call("VELLORA_HSAPI_LOG", "%s = 0x%lX", call, result);
  return result;
}

bool injected_failure(const char* name, const std::string& call, long& result) {
  long code = kFailure;
  if (!stand_in::fails("VELLORA_HSAPI_FAIL", name, code)) return false;
  result = answer(code, (call + " [injected]").c_str());
  return true;
}

}  // namespace

#define STAND_IN_EXPORT extern "C" __declspec(dllexport)

STAND_IN_EXPORT long __stdcall HsGetApiVersion(DWORD* version) {
  long result = 0;
  if (injected_failure("HsGetApiVersion", "HsGetApiVersion()", result)) return result;
  if (version != nullptr) *version = kApiVersion2;
  return answer(0, "HsGetApiVersion()");
}

// 0 when the manager is running.
STAND_IN_EXPORT long __stdcall HsCheckApiStatus() {
  long result = 0;
  if (injected_failure("HsCheckApiStatus", "HsCheckApiStatus()", result)) return result;
  return answer(is_running() ? 0 : kHotSyncNotFound, "HsCheckApiStatus()");
}

STAND_IN_EXPORT long __stdcall HsGetSyncStatus(DWORD* status) {
  long result = 0;
  if (injected_failure("HsGetSyncStatus", "HsGetSyncStatus()", result)) return result;
  if (!is_running()) return answer(kHotSyncNotFound, "HsGetSyncStatus()");
  if (status != nullptr) *status = read_state() == "syncing" ? kSyncing : kIdle;
  return answer(0, "HsGetSyncStatus()");
}

STAND_IN_EXPORT long __stdcall HsSetAppStatus(int status, DWORD flags) {
  const std::string call = "HsSetAppStatus(" + std::to_string(status) + ", " + std::to_string(flags) + ")";
  long result = 0;
  if (injected_failure("HsSetAppStatus", call, result)) return result;
  switch (status) {
    case kCloseApp:
      if (read_state() == "syncing") return answer(kUnableToClose, call.c_str());
      write_state("stopped");
      return answer(0, call.c_str());
    case kStartApp:
    case kRestart: write_state("running"); return answer(0, call.c_str());
    default: return answer(kFailure, call.c_str());
  }
}

STAND_IN_EXPORT long __stdcall HsRefreshConduitInfo() {
  long result = 0;
  if (injected_failure("HsRefreshConduitInfo", "HsRefreshConduitInfo()", result)) return result;
  return answer(is_running() ? 0 : kHotSyncNotFound, "HsRefreshConduitInfo()");
}
