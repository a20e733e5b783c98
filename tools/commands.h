// The subcommands of the `vellora` tool. Each returns the process exit
// status: 0 on success, 1 with a one-line message on stderr otherwise (and
// sync 3 for a session with problems).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vellora::cli {

// `registry` names the registry file whose text converters read .doc files
// (empty: the default registry file).
// `encoding` is the --encoding flag ("utf-8", "cp1252" or empty: the
// setting, else the locale).
int stage_command(const std::filesystem::path& file, const std::filesystem::path& folder,
                  const std::string& registry, const std::string& encoding);
// `preview`, when not empty, is a PNG file for the database's first screens.
// With `flush` the database is on the disk before it takes the output's
// name; without, a crash may lose the new file, but the rename still leaves
// the old one or the new one whole, never part of either.
int convert_command(const std::filesystem::path& file, const std::filesystem::path& output,
                    const std::string& registry, const std::string& encoding,
                    const std::filesystem::path& preview = {}, bool flush = false);
int dump_command(const std::filesystem::path& file, bool as_json, const std::string& encoding);
// `screens` is a number from 1 or "all".
int preview_command(const std::filesystem::path& database, const std::filesystem::path& output,
                    const std::string& screens, int scale);
bool parse_screens(const std::string& text, long& screens);
struct ExportCommandOptions {
  std::string registry;                    // empty: the default registry file
  std::optional<std::string> font_name;    // unset: FontName from the registry file, else empty
  std::optional<std::uint32_t> font_size;  // unset: FontSize from the registry file, else 10
  std::string encoding;                    // empty: TextEncoding from the registry file, else the locale
};
int export_command(const std::filesystem::path& database, const std::string& to,
                   const std::filesystem::path& output, const ExportCommandOptions& options);
int mark_command(const std::filesystem::path& handheld_folder, const std::string& name,
                 const std::string& as, const std::string& encoding);

struct SyncOptions {
  std::string registry;  // empty: the default registry file
  std::string handheld;  // empty: the default handheld folder
  std::string answer = "no";
  std::string log;       // empty: the default log file
  double wait_seconds = 10;  // for another session to release a shared folder
  std::string encoding;      // empty: TextEncoding from the registry file, else the locale
  // A real handheld instead of a folder: "net", "net:PORT",
  // "net:ADDRESS:PORT" or a tty's path. Empty: the folder.
  std::string device;
  double timeout_seconds = 0;  // for a handheld to come, and for each answer; 0: no limit on the first
  std::uint32_t speed = 115200;  // the most a serial link may agree
  bool keep_running = false;     // serve handheld after handheld until stopped
};
// The exit status of a session that ran but reported problems (a file
// sent but not deleted, a damaged catalog, ...), each on stderr; 1 stays
// the status of a session that could not run.
inline constexpr int kExitSessionProblems = 3;
int sync_command(const SyncOptions& options);
// `vellora device info`: who is on the other end of the link, its
// memory and its databases. Uses device, timeout_seconds and speed.
int device_info_command(const SyncOptions& options);
std::string default_handheld_folder();

// Whether `input` and `output` are one file (the same device and inode,
// whatever the names or links that lead there). A command that wrote the
// output would then replace or truncate its own input, so it refuses with
// fail_same_file instead. An output that does not exist yet is never the
// input.
bool is_same_file(const std::filesystem::path& input, const std::filesystem::path& output);
// "vellora: IN and OUT are the same file; ..." on stderr; returns 1.
int fail_same_file(const std::filesystem::path& input, const std::filesystem::path& output);

// Prints "vellora: <what>: <reason>" to stderr and returns 1.
int fail(const std::string& what, const std::string& reason);
// The same for a reason that already names its file ("path: why").
int fail(const std::string& reason_naming_the_file);

}  // namespace vellora::cli
