// The subcommands of `vellora`. Each file adds its own to the program's
// parser, with its options held by the function that runs it, so main
// only parses and hands over. Each runs to the process exit status: 0 on
// success, 1 with a one-line message on stderr otherwise (and sync 3 for
// a session with problems).
#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <functional>
#include <string>

namespace vellora::cli {

struct Subcommand {
  CLI::App* command;         // parsed: the user chose this one
  std::function<int()> run;  // the exit status
};

Subcommand add_sync(CLI::App& app);
Subcommand add_device(CLI::App& app);
Subcommand add_stage(CLI::App& app);
Subcommand add_convert(CLI::App& app);
Subcommand add_dump(CLI::App& app);
Subcommand add_preview(CLI::App& app);
Subcommand add_export(CLI::App& app);
Subcommand add_mark(CLI::App& app);

// Draws `screens` (a number from 1, or "all") screens of `database` into
// the PNG file `output`, as `vellora preview` does: the exit status.
int draw_preview(const std::filesystem::path& database, const std::filesystem::path& output, const std::string& screens,
                 int scale);

// What --encoding accepts on every subcommand that takes it.
inline CLI::IsMember encoding_choices() { return CLI::IsMember({"utf-8", "cp1252"}); }

// The help of --registry where it only brings the text converters.
inline constexpr const char* kConverterRegistryHelp =
    "Registry file with the text converters for .doc files (default: $XDG_CONFIG_HOME/vellora/registry.reg)";

}  // namespace vellora::cli
