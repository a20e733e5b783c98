// What the stand-ins of the installer's two libraries share: each call is
// appended as one line to the file an environment variable names, and
// another variable makes one function fail, so a test can read what the
// installer asked and try each failure through it.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace stand_in {

// Appends one formatted line to the file named by `log_variable`; nothing
// when it is unset.
inline void record_call(const char* log_variable, const char* format, ...) {
  const char* path = std::getenv(log_variable);
  if (path == nullptr || *path == '\0') return;
  std::FILE* log = std::fopen(path, "ab");
  if (log == nullptr) return;
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(log, format, arguments);
  va_end(arguments);
  std::fputc('\n', log);
  std::fclose(log);
}

// Whether `name` is to fail: `fail_variable` holds NAME or NAME=CODE.
// Sets `code` to CODE when one is given; it keeps its value otherwise.
inline bool fails(const char* fail_variable, const char* name, long& code) {
  const char* setting = std::getenv(fail_variable);
  if (setting == nullptr) return false;
  const std::size_t length = std::strlen(name);
  if (std::strncmp(setting, name, length) != 0) return false;
  if (setting[length] == '=') code = std::strtol(setting + length + 1, nullptr, 0);
  return setting[length] == '\0' || setting[length] == '=';
}

// A string argument as the log shows it: "(null)" for a null pointer.
inline const char* shown(const char* text) { return text == nullptr ? "(null)" : text; }

}  // namespace stand_in
