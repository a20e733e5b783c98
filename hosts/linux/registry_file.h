// The Linux registry: the conduit's settings and the text converter
// registrations read from one text file in the REGEDIT4 export syntax, so
// the same file can be imported into a Windows registry.
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Brisholm\Vellora]
//   "FolderForSFiles"="/home/me/palm/send"
//   "FontSize"=dword:0000000a
//
// The file is applied top to bottom as an import into an empty registry:
// - The first non-empty line is REGEDIT4, or "Windows Registry Editor
//   Version 5.00" when the file is UTF-8 (a UTF-16 export must be saved as
//   UTF-8 first); a UTF-8 byte order mark may precede it. Lines are ended
//   by LF or CRLF; blank lines and lines starting with ';' are ignored.
// - [HIVE\path] starts a key. HKEY_CURRENT_USER (HKCU) and
//   HKEY_LOCAL_MACHINE (HKLM) are kept; the other standard hives are
//   checked and dropped, as the conduit never reads them.
// - [-HIVE\path] deletes the key and its subkeys: values given for them
//   earlier in the file are forgotten. Values may not follow it before the
//   next [key].
// - "Name"="text" is a string (escapes \\ and \" only), @="text" the
//   key's default value, "Name"=dword:A (1 to 8 hex digits) a 32-bit
//   number, "Name"=hex:.. and hex(N):.. other types (bytes separated by
//   commas, lines continued by a final '\'), which read as missing.
//   "Name"=- deletes the value. A repeated value: the last one wins.
// Key and value names compare without regard to ASCII case; in key paths a
// leading or trailing backslash is ignored.
//
// Given the path of the office converter bundled with vellora, the
// registry answers it as the MSWord8 converter's "Path" while the file
// registers no Word converter, so .doc files convert without any set-up.
// Any "Path" under the MSWord6 or MSWord8 key (an empty one switches the
// default off) leaves the file's answers as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/registry.h"

namespace vellora::linux_host {

// Settings fit in a few kilobytes; a larger file is a mistake, not a
// registry, and is refused before it is read.
constexpr std::uint64_t kMaxRegistryFileBytes = 16u << 20;

enum class RegistryFileStatus {
  ok,
  missing_file,  // the caller treats it as empty settings
  unreadable,    // not a regular file, or a read error
  too_large,     // more than kMaxRegistryFileBytes
  malformed,     // a line the syntax does not allow
};

struct RegistryFileResult {
  RegistryFileStatus status = RegistryFileStatus::ok;
  std::size_t line = 0;  // 1-based line of the problem in a malformed file
  // One line naming the file: "/path/registry.reg: line 7: expected '='
  // after the value name". Empty when ok.
  std::string reason;
  explicit operator bool() const { return status == RegistryFileStatus::ok; }
};

class RegistryFile : public Registry {
 public:
  RegistryFile() = default;
  explicit RegistryFile(std::optional<std::filesystem::path> office_converter)
      : office_converter_(std::move(office_converter)) {}

  // Replaces what the registry holds with the file's values. A file that
  // is missing, unreadable or too large leaves the registry empty; a
  // malformed one leaves the values of the lines before the bad one.
  RegistryFileResult load(const std::filesystem::path& path);
  // As load, from text; `source_name` stands for the file in reasons.
  RegistryFileResult parse(std::string_view text, std::string_view source_name = "registry");

  std::optional<std::string> read_string(RegistryHive hive, std::string_view key,
                                         std::string_view value) const override;
  std::optional<std::uint32_t> read_dword(RegistryHive hive, std::string_view key,
                                          std::string_view value) const override;
  // Values held, of every type.
  std::size_t value_count() const;

 private:
  struct Parser;
  enum class ValueType : std::uint8_t { string, dword, other };
  struct Value {
    ValueType type = ValueType::other;
    std::string text;          // string values
    std::uint32_t number = 0;  // dword values
  };
  using Values = std::map<std::string, Value, std::less<>>;  // by lower-case name
  const Value* find(RegistryHive hive, std::string_view key, std::string_view value) const;
  bool answers_office_converter(RegistryHive hive, std::string_view key, std::string_view value) const;

  // By "hkcu\software\brisholm\vellora": hive prefix and path in lower case.
  std::map<std::string, Values, std::less<>> keys_;
  std::optional<std::filesystem::path> office_converter_;
};

}  // namespace vellora::linux_host
