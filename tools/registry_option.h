// The registry file a command reads its settings and converter
// registrations from.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "hosts/linux/registry_file.h"

namespace vellora::cli {

// Loads the file named with --registry (`named`), which must exist, or
// else `default_file`, which may be missing: that is an empty registry,
// and `*default_missing` says so. Any file that exists must parse. False
// with a one-line reason naming the file otherwise.
bool load_registry(const std::string& named, const std::optional<std::filesystem::path>& default_file,
                   linux_host::RegistryFile& registry, std::string& why_not, bool* default_missing = nullptr);

}  // namespace vellora::cli
