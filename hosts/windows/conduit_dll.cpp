// VelloraConduit.dll: the six functions the HotSync manager calls, with its
// names and its calling convention (C names, the C calling convention),
// and the library's attach and detach. Each export forwards to the plain
// function of conduit/entry_points.h over the one Conduit object that
// lives while the library is loaded. No exception leaves an export or
// DllMain: the manager is not C++ code of this library's compiler.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "conduit/entry_points.h"
#include "hosts/windows/desktop_services.h"
#include "hosts/windows/palm_sync_manager.h"
#include "hosts/windows/windows_text_converters.h"

namespace {

using namespace vellora;

// What the manager gets when a C++ failure reaches an export.
constexpr std::int32_t kUnexpectedFailure = -1;

// The Windows platform and the conduit that works on it, created when the
// library is attached to the process and destroyed when it is detached.
struct LoadedConduit {
  explicit LoadedConduit(HINSTANCE instance)
      : conduit(Platform{sync, registry, message_boxes, log, language, converters},
                reinterpret_cast<ModuleHandle>(instance)) {}

  win32::PalmSyncManager sync;
  win32::WindowsRegistry registry;
  win32::WindowsMessageBoxes message_boxes;
  win32::PalmHotSyncLog log;
  win32::PalmLanguageLibrary language;
  win32::WindowsTextConverterLibrary converters;
  Conduit conduit;
};

std::unique_ptr<LoadedConduit> loaded;

template <typename Call>
std::int32_t without_exceptions(Call call) {
  try {
    return call();
  } catch (...) {
    return kUnexpectedFailure;
  }
}

bool attach(HINSTANCE instance) {
  try {
    if (!loaded) loaded = std::make_unique<LoadedConduit>(instance);
    loaded->conduit.attach();
    return true;
  } catch (...) {
    loaded.reset();
    return false;
  }
}

void detach() {
  try {
    if (!loaded) return;
    loaded->conduit.detach();
    if (loaded->conduit.use_count <= 0) loaded.reset();
  } catch (...) {
    // Detaching must finish whatever happens; nothing is left to report to.
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: DisableThreadLibraryCalls(instance); return attach(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH: detach(); return TRUE;
    default: return TRUE;
  }
}

// The manager passes its progress callback first and its sync properties
// second; only the first is looked at (null means "do not run").
extern "C" __declspec(dllexport) std::int32_t OpenConduit(void* progress, void* /*properties*/) {
  return without_exceptions([&] {
    if (!loaded) return kUnexpectedFailure;
    return vellora::OpenConduit(progress, loaded->conduit);
  });
}

extern "C" __declspec(dllexport) std::int32_t GetConduitName(char* buffer, std::uint16_t length) {
  return without_exceptions([&] { return vellora::GetConduitName(buffer, length); });
}

extern "C" __declspec(dllexport) std::uint32_t GetConduitVersion() { return vellora::GetConduitVersion(); }

extern "C" __declspec(dllexport) std::int32_t ConfigureConduit(void* /*preferences*/) {
  return vellora::ConfigureConduit();
}

extern "C" __declspec(dllexport) std::int32_t
    GetConduitInfo(std::int32_t info_type, void* input, void* output, std::uint32_t* output_size) {
  return without_exceptions([&] { return vellora::GetConduitInfo(info_type, input, output, output_size); });
}

extern "C" __declspec(dllexport) std::int32_t
    CfgConduit(std::int32_t config_type, void* argument, std::uint32_t* argument_size) {
  return without_exceptions([&] { return vellora::CfgConduit(config_type, argument, argument_size); });
}
