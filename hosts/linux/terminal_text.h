// Text bound for the terminal. Names come from file systems and from the
// handheld, and may hold any byte: a control byte written raw could move
// the cursor, recolour the terminal or split the one-line-per-file output,
// so every byte below 0x20 and 0x7F is shown as \xNN. Other bytes pass
// unchanged, so UTF-8 names stay readable.
#pragma once

#include <string>
#include <string_view>

#include "base/ascii.h"

namespace vellora::linux_host {

inline std::string terminal_safe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      append_hex_byte(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace vellora::linux_host
