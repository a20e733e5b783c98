// What the test converter is built against on Windows: the converter
// interface as a Windows converter DLL sees it. Strings and buffers are
// the system's movable global memory, and the entry points and the
// conduit's callback use the standard calling convention. The names match
// those of the Linux converter header, so one source builds for both.
#pragma once

#include <cstddef>
#include <cstdint>

#define WIN32_LEAN_AND_MEAN
#include <objbase.h>
#include <windows.h>

#define VELLORA_CONVERTER_ENTRY __stdcall

using VelloraGlobal = void*;
using VelloraConverterOutput = std::int32_t(__stdcall*)(std::int32_t byte_count, std::int32_t percent);

inline void* vellora_global_lock(VelloraGlobal block) { return block == nullptr ? nullptr : ::GlobalLock(block); }
inline int vellora_global_unlock(VelloraGlobal block) { return ::GlobalUnlock(block) ? 1 : 0; }
inline std::size_t vellora_global_size(VelloraGlobal block) { return block == nullptr ? 0 : ::GlobalSize(block); }

// Whether OLE is initialised, single-threaded, on the calling thread: a
// converter that embeds objects needs it where it converts.
inline bool has_ole() {
  const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(result)) ::CoUninitialize();  // balances this call only
  return result == S_FALSE;
}

extern "C" {
__declspec(dllexport) std::int32_t __stdcall InitConverter32(void* window, char* application);
__declspec(dllexport) std::int16_t __stdcall IsFormatCorrect32(VelloraGlobal file, VelloraGlobal class_name);
__declspec(dllexport) std::int16_t
    __stdcall ForeignToRtf32(VelloraGlobal file, void* storage, VelloraGlobal buffer, VelloraGlobal class_name,
                             VelloraGlobal subset, VelloraConverterOutput output);
__declspec(dllexport) std::int16_t __stdcall RtfToForeign32(VelloraGlobal file, void* storage, VelloraGlobal buffer,
                                                            VelloraGlobal class_name, VelloraConverterOutput input);
}
