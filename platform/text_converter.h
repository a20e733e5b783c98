// Installed text converters: libraries that implement the published
// text-converter interface and turn a word-processor document into RTF.
// The host loads them and resolves their entry points, supplies the
// movable global memory the interface passes its strings and buffers in,
// and the events on which the reading side and the converter thread wait
// for each other (on Windows those waits let window messages through).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/language_library.h"

#if defined(_WIN32)
#define VELLORA_CONVERTER_CALL __stdcall
#else
#define VELLORA_CONVERTER_CALL
#endif

namespace vellora {

// Where the Word converters are registered: under HKEY_LOCAL_MACHINE,
// value "Path", the full path of the converter library; Word 6 first.
inline constexpr std::string_view kWord6ConverterKey =
    "Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord6";
inline constexpr std::string_view kWord8ConverterKey =
    "Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord8";
inline constexpr std::string_view kConverterPathValue = "Path";

// A movable global memory block: lock it to reach its bytes.
using GlobalHandle = void*;

// The converter calls this with the number of RTF bytes it has put into
// the shared buffer and how far it has got (percent); 0 means go on.
using ConverterOutput = std::int32_t(VELLORA_CONVERTER_CALL*)(std::int32_t byte_count, std::int32_t percent);

using InitConverterEntry = std::int32_t(VELLORA_CONVERTER_CALL*)(void* window, char* application);
// 1 when the file (named in `file`) is in the converter's format.
using IsFormatCorrectEntry = std::int16_t(VELLORA_CONVERTER_CALL*)(GlobalHandle file, GlobalHandle class_name);
// 0 when the whole document was delivered through `output`.
using ForeignToRtfEntry = std::int16_t(VELLORA_CONVERTER_CALL*)(GlobalHandle file, void* storage, GlobalHandle buffer,
                                                                GlobalHandle class_name, GlobalHandle subset,
                                                                ConverterOutput output);
using RtfToForeignEntry = std::int16_t(VELLORA_CONVERTER_CALL*)(GlobalHandle file, void* storage, GlobalHandle buffer,
                                                                GlobalHandle class_name, ConverterOutput input);

inline constexpr const char* kInitConverterName = "InitConverter32";
inline constexpr const char* kIsFormatCorrectName = "IsFormatCorrect32";
inline constexpr const char* kForeignToRtfName = "ForeignToRtf32";
inline constexpr const char* kRtfToForeignName = "RtfToForeign32";

// A manual-reset event: set stays set until reset; wait returns at once
// while it is set.
class ConverterEvent {
 public:
  virtual ~ConverterEvent() = default;
  virtual void set() = 0;
  virtual void reset() = 0;
  virtual void wait() = 0;
};

class TextConverterLibrary {
 public:
  virtual ~TextConverterLibrary() = default;

  // 0 when the library cannot be loaded.
  virtual ModuleHandle load(const std::string& path) = 0;
  // The entry point of that name, or null.
  virtual void* resolve(ModuleHandle library, const char* name) = 0;
  virtual void free(ModuleHandle library) = 0;

  // Movable, zero-filled global memory; null when none can be had.
  virtual GlobalHandle allocate(std::size_t bytes) = 0;
  virtual void* lock(GlobalHandle block) = 0;
  virtual void unlock(GlobalHandle block) = 0;
  virtual void release(GlobalHandle block) = 0;

  virtual std::unique_ptr<ConverterEvent> create_event() = 0;

  // The calling thread's main window, or null where there is none.
  virtual void* main_window() { return nullptr; }
  // A converter thread starts and ends with these (OLE on Windows).
  virtual void begin_converter_thread() {}
  virtual void end_converter_thread() {}
  // File names as converters expect them: in the OEM code page, and back
  // to the ANSI code page. Linux uses one character set for both.
  virtual std::string to_oem(std::string_view ansi) { return std::string(ansi); }
  virtual std::string to_ansi(std::string_view oem) { return std::string(oem); }
};

}  // namespace vellora
