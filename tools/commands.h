// The subcommands of the `vellora` tool. Each returns the process exit
// status: 0 on success, 1 with a one-line message on stderr otherwise.
#pragma once

#include <filesystem>
#include <string>

namespace vellora::cli {

int stage_command(const std::filesystem::path& file, const std::filesystem::path& folder);
int convert_command(const std::filesystem::path& file, const std::filesystem::path& output);
int dump_command(const std::filesystem::path& file, bool as_json);

// Prints "vellora: <what>: <reason>" to stderr and returns 1.
int fail(const std::string& what, const std::string& reason);

}  // namespace vellora::cli
