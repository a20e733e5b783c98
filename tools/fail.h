// How every subcommand of `vellora` fails: one line on stderr, "vellora: "
// and the reason, and exit status 1. A command that would write over its
// own input refuses before it reads anything.
#pragma once

#include <filesystem>
#include <string>

namespace vellora::cli {

// Prints "vellora: <what>: <reason>" to stderr and returns 1.
int fail(const std::string& what, const std::string& reason);
// The same for a reason that already names its file ("path: why").
int fail(const std::string& reason_naming_the_file);

// Whether `input` and `output` are one file (the same device and inode,
// whatever the names or links that lead there). A command that wrote the
// output would then replace or truncate its own input, so it refuses with
// fail_same_file instead. An output that does not exist yet is never the
// input.
bool is_same_file(const std::filesystem::path& input, const std::filesystem::path& output);
// "vellora: IN and OUT are the same file; ..." on stderr; returns 1.
int fail_same_file(const std::filesystem::path& input, const std::filesystem::path& output);

}  // namespace vellora::cli
