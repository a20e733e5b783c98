// The font settings of `vellora export`: each flag wins, then the value in
// the registry file, then an empty font name and 10 points, the defaults a
// session would use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "exporters/export_options.h"

namespace vellora::cli {

struct ExportCommandOptions {
  std::string registry;                    // empty: the default registry file
  std::optional<std::string> font_name;    // unset: FontName from the registry file, else empty
  std::optional<std::uint32_t> font_size;  // unset: FontSize from the registry file, else 10
  std::string encoding;                    // empty: TextEncoding from the registry file, else the locale
};

// `default_registry` is the registry file used when the options name none.
// A registry file named with --registry must exist; any registry file that
// exists must parse. Otherwise false with a one-line reason naming the file.
bool resolve_export_options(const ExportCommandOptions& options,
                            const std::optional<std::filesystem::path>& default_registry, ExportOptions& out,
                            std::string& why_not);

}  // namespace vellora::cli
