// Which text codec a command uses: --encoding, else TextEncoding in the
// registry file, else the locale, as every Unix text tool follows it.
#pragma once

#include <string>

#include "platform/registry.h"
#include "platform/text_codec.h"

namespace vellora::cli {

inline constexpr const char* kEncodingHelp =
    "Text encoding on this PC: utf-8 transcodes to and from the handheld's character set, cp1252 passes "
    "bytes unchanged (default: TextEncoding from the settings, else the locale)";

// The codec for `flag` ("utf-8", "cp1252" or empty), the registry's
// TextEncoding value or the locale (LC_ALL, LC_CTYPE, LANG): utf-8 when it
// names UTF-8. Null with a one-line reason when the setting is unusable.
const TextCodec* choose_codec(const std::string& flag, const Registry* registry, std::string& why_not);

// The same for a command that reads no other setting: the registry is the
// default registry file, when it is there and parses.
const TextCodec* choose_codec(const std::string& flag, std::string& why_not);

}  // namespace vellora::cli
