// A scriptable text converter for tests of the Word import path. It is
// built several times from this source (test_converter_six.so,
// test_converter_eight.so and test_converter_no_check.so, which has no
// IsFormatCorrect32); VELLORA_TEST_CONVERTER_NAME gives each its name.
// What it does is read from the input file itself, so tests need no
// environment and can run side by side. The file's first line is
//
//   TEST-CONVERTER word word ...
//
// and everything after that line is the RTF to deliver, with every @NAME@
// replaced by the converter's name, so a test can tell which converter
// ran. The words:
//   accept=NAME,...   only these converters (six, eight, no_check, or none)
//                     recognise the file; by default every one does
//   check=N           what a recognising IsFormatCorrect32 answers (default 1)
//   pieces=N,...      bytes per callback, the list repeated to the end;
//                     each is capped at the buffer size and 8192, and 0
//                     calls the callback with no bytes; not all zero
//                     (default: whole buffers)
//   fail-after=N      return -3 once the Nth callback has returned (at
//                     once for 0), even when that was the last piece
//   fail-now          return -2 without calling the callback
//   delay-ms=N        sleep N milliseconds before each piece
//   needs-init        refuse (IsFormatCorrect32 0, ForeignToRtf32 -4) unless
//                     InitConverter32 has been called on this loaded copy
// A file without the line is not recognised, but ForeignToRtf32 delivers
// it whole. A misspelt word makes the file unrecognised and ForeignToRtf32
// return -5, so a typo in a test shows.
//
// ForeignToRtf32 results: 0 success, -1 the file cannot be read, -2 and -3
// as asked, -4 not initialised, -5 bad first line, -6 the callback asked
// to stop, -7 no usable buffer or callback. RtfToForeign32 returns -8.
// Built for Windows, ForeignToRtf32 also returns -9 unless it runs on a
// thread other than the one that asked IsFormatCorrect32, with OLE
// initialised on it, as the conduit promises converters.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "windows_converter.h"  // the Windows tests' converter DLL
#else
#include "vellora/converter.h"
#define VELLORA_CONVERTER_ENTRY
#endif

#ifndef VELLORA_TEST_CONVERTER_NAME
#error "VELLORA_TEST_CONVERTER_NAME must name the converter"
#endif

namespace {

constexpr std::string_view kName = VELLORA_TEST_CONVERTER_NAME;
constexpr std::string_view kDirective = "TEST-CONVERTER";
constexpr std::string_view kNamePlaceholder = "@NAME@";
constexpr std::size_t kMaxPieceBytes = 8192;
// Test inputs are small; a bigger file is a mistake in the test.
constexpr std::size_t kMaxInputBytes = 64u << 20;
constexpr int kMaxNumber = 1 << 20;

constexpr std::int16_t kUnreadable = -1;
constexpr std::int16_t kFailedAtOnce = -2;
constexpr std::int16_t kFailedMidway = -3;
constexpr std::int16_t kNotInitialised = -4;
constexpr std::int16_t kBadDirective = -5;
constexpr std::int16_t kCancelled = -6;
constexpr std::int16_t kBadArguments = -7;
constexpr std::int16_t kNotSupported = -8;
constexpr std::int16_t kNotOnAConverterThread = -9;

std::atomic<bool> is_initialised{false};
#ifdef _WIN32
std::atomic<DWORD> checking_thread{0};
#endif

struct Script {
  bool is_valid = true;
  bool is_recognised = true;  // by this converter
  std::int16_t check_answer = 1;
  std::vector<std::size_t> pieces;  // empty: whole buffers
  std::optional<int> fail_after;
  bool fail_now = false;
  int delay_ms = 0;
  bool needs_init = false;
  std::string payload;
};

std::optional<int> number(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > kMaxNumber) return std::nullopt;
  return value;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// Applies one word of the directive line; false when it is not one.
bool apply_word(std::string_view word, Script& script) {
  const std::size_t equals = word.find('=');
  const std::string_view key = word.substr(0, equals);
  const std::string_view value = equals == std::string_view::npos ? "" : word.substr(equals + 1);
  if (word == "fail-now") {
    script.fail_now = true;
  } else if (word == "needs-init") {
    script.needs_init = true;
  } else if (key == "accept" && !value.empty()) {
    script.is_recognised = false;
    for (const std::string_view name : split(value, ','))
      if (name == kName) script.is_recognised = true;
  } else if (key == "check") {
    const auto answer = number(value);
    if (!answer || *answer > 0x7FFF) return false;
    script.check_answer = static_cast<std::int16_t>(*answer);
  } else if (key == "pieces") {
    bool has_bytes = false;
    for (const std::string_view size : split(value, ',')) {
      const auto bytes = number(size);
      if (!bytes) return false;
      script.pieces.push_back(static_cast<std::size_t>(*bytes));
      has_bytes = has_bytes || *bytes > 0;
    }
    return has_bytes;  // all zeros would never finish
  } else if (key == "fail-after") {
    script.fail_after = number(value);
    return script.fail_after.has_value();
  } else if (key == "delay-ms") {
    const auto delay = number(value);
    if (!delay) return false;
    script.delay_ms = *delay;
  } else {
    return false;
  }
  return true;
}

void replace_names(std::string& text) {
  for (std::size_t at = text.find(kNamePlaceholder); at != std::string::npos;
       at = text.find(kNamePlaceholder, at + kName.size()))
    text.replace(at, kNamePlaceholder.size(), kName);
}

Script read_script(std::string_view input) {
  Script script;
  const std::size_t end_of_line = input.find('\n');
  std::string_view first = input.substr(0, end_of_line);
  if (!first.starts_with(kDirective)) {
    script.is_recognised = false;
    script.payload = input;
  } else {
    first.remove_prefix(kDirective.size());
    if (first.ends_with('\r')) first.remove_suffix(1);
    for (const std::string_view word : split(first, ' '))
      if (!word.empty() && !apply_word(word, script)) script.is_valid = false;
    script.payload = end_of_line == std::string_view::npos ? "" : input.substr(end_of_line + 1);
  }
  replace_names(script.payload);
  return script;
}

std::optional<std::string> block_string(VelloraGlobal block) {
  const std::size_t size_bytes = vellora_global_size(block);
  const auto* bytes = static_cast<const char*>(vellora_global_lock(block));
  if (bytes == nullptr) return std::nullopt;
  std::optional<std::string> text;
  if (const void* nul = std::memchr(bytes, '\0', size_bytes); nul != nullptr)
    text.emplace(bytes, static_cast<const char*>(nul));
  vellora_global_unlock(block);
  return text;
}

std::optional<std::string> read_input(VelloraGlobal file) {
  const auto path = block_string(file);
  if (!path) return std::nullopt;
  std::ifstream in(*path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  char chunk[4096];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > kMaxInputBytes) return std::nullopt;
  }
  return bytes;
}

std::int16_t deliver(const Script& script, VelloraGlobal buffer, VelloraConverterOutput output) {
  const std::size_t cap_bytes = std::min(kMaxPieceBytes, vellora_global_size(buffer));
  if (cap_bytes == 0 || output == nullptr) return kBadArguments;
  const std::string& payload = script.payload;
  std::size_t delivered = 0;
  int calls = 0;
  if (script.fail_after == 0) return kFailedMidway;
  for (std::size_t turn = 0; delivered < payload.size(); ++turn) {
    if (script.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(script.delay_ms));
    const std::size_t wanted = script.pieces.empty() ? cap_bytes : script.pieces[turn % script.pieces.size()];
    const std::size_t count = std::min({wanted, cap_bytes, payload.size() - delivered});
    void* bytes = vellora_global_lock(buffer);
    if (bytes == nullptr) return kBadArguments;
    std::memcpy(bytes, payload.data() + delivered, count);
    vellora_global_unlock(buffer);
    delivered += count;
    ++calls;
    const auto percent = static_cast<std::int32_t>(delivered * 100 / payload.size());
    if (output(static_cast<std::int32_t>(count), percent) != 0) return kCancelled;
    if (script.fail_after == calls) return kFailedMidway;
  }
  return 0;
}

}  // namespace

extern "C" {

int32_t VELLORA_CONVERTER_ENTRY InitConverter32(void* window, char* application) {
  (void)window;
  (void)application;
  is_initialised = true;
  return 0;
}

#ifndef VELLORA_TEST_CONVERTER_WITHOUT_CHECK
int16_t VELLORA_CONVERTER_ENTRY IsFormatCorrect32(VelloraGlobal file, VelloraGlobal class_name) {
  (void)class_name;
#ifdef _WIN32
  checking_thread = ::GetCurrentThreadId();
#endif
  const auto input = read_input(file);
  if (!input) return 0;
  const Script script = read_script(*input);
  if (!script.is_valid || !script.is_recognised || (script.needs_init && !is_initialised)) return 0;
  return script.check_answer;
}
#endif

int16_t VELLORA_CONVERTER_ENTRY ForeignToRtf32(VelloraGlobal file, void* storage, VelloraGlobal buffer,
                                               VelloraGlobal class_name, VelloraGlobal subset,
                                               VelloraConverterOutput output) {
  (void)storage;
  (void)class_name;
  (void)subset;
#ifdef _WIN32
  if (::GetCurrentThreadId() == checking_thread || !has_ole()) return kNotOnAConverterThread;
#endif
  const auto input = read_input(file);
  if (!input) return kUnreadable;
  const Script script = read_script(*input);
  if (!script.is_valid) return kBadDirective;
  if (script.needs_init && !is_initialised) return kNotInitialised;
  if (script.fail_now) return kFailedAtOnce;
  return deliver(script, buffer, output);
}

int16_t VELLORA_CONVERTER_ENTRY RtfToForeign32(VelloraGlobal, void*, VelloraGlobal, VelloraGlobal,
                                               VelloraConverterOutput) {
  return kNotSupported;
}

}  // extern "C"
