// What the receive pass hands every exporter besides the database: the
// font settings the user chose for documents written on the PC. Exporters
// that have no use for a setting ignore it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/text_codec.h"

namespace vellora {

constexpr std::uint32_t kDefaultFontSize = 10;

struct ExportOptions {
  std::string font_name;                       // FontName; may be empty
  std::uint32_t font_size = kDefaultFontSize;  // FontSize, in points
  // The flush is left pending for the caller, who flushes the file
  // together with others (the receive pass flushes its new files at
  // once); otherwise the exporter flushes it before it returns.
  bool leaves_flush_pending = false;
  // How the handheld's text is written on the PC; null writes its bytes.
  const TextCodec* codec = nullptr;
};

}  // namespace vellora
