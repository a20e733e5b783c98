// RegistryFile: reads the REGEDIT4 settings file line by line into a map of
// keys and values. Parsing stops at the first line the syntax does not
// allow and reports it by number, so a typo in a hand-edited file points
// at itself instead of silently dropping a setting.
#include "hosts/linux/registry_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "base/ascii.h"
#include "hosts/linux/posix_io.h"
#include "platform/text_converter.h"

namespace vellora::linux_host {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
constexpr std::string_view kRegedit4 = "REGEDIT4";
constexpr std::string_view kRegedit5 = "Windows Registry Editor Version 5.00";
constexpr std::size_t kMaxDwordDigits = 8;

// Hive names as written in key lines (lower case, sorted for binary
// search) and the prefix their keys are stored under. Hives the conduit
// never reads have no prefix: their keys are checked and dropped.
struct HiveName {
  std::string_view name;
  std::string_view prefix;
};
constexpr HiveName kHives[] = {
    {"hkcc", ""},
    {"hkcr", ""},
    {"hkcu", "hkcu"},
    {"hkey_classes_root", ""},
    {"hkey_current_config", ""},
    {"hkey_current_user", "hkcu"},
    {"hkey_dyn_data", ""},
    {"hkey_local_machine", "hklm"},
    {"hkey_performance_data", ""},
    {"hkey_users", ""},
    {"hklm", "hklm"},
    {"hku", ""},
};
constexpr bool hive_before(const HiveName& a, const HiveName& b) { return a.name < b.name; }
static_assert(std::is_sorted(std::begin(kHives), std::end(kHives), hive_before));

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_left(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view trim_right(std::string_view text) {
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view trim(std::string_view text) { return trim_right(trim_left(text)); }

// 1 to `max_digits` hex digits and nothing else.
std::optional<std::uint32_t> parse_hex(std::string_view digits, std::size_t max_digits) {
  if (digits.empty() || digits.size() > max_digits) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : digits) {
    const int d = hex_digit_value(c);
    if (d < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  return value;
}

// A key path in stored form: lower case, without a leading or trailing
// backslash. Nullopt when a component between backslashes is empty.
std::optional<std::string> normal_key_path(std::string_view path) {
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return std::string();
  if (path.front() == '\\' || path.back() == '\\' || path.find("\\\\") != std::string_view::npos) return std::nullopt;
  return to_lower_ascii(path);
}

std::string stored_key(std::string_view prefix, std::string_view path) {
  std::string key(prefix);
  if (!path.empty()) key.append("\\").append(path);
  return key;
}

std::string_view hive_prefix(RegistryHive hive) { return hive == RegistryHive::current_user ? "hkcu" : "hklm"; }

// Formatted rather than concatenated: GCC 12's link-time optimiser takes
// std::string's operator+ here for an overflow.
std::string unknown_escape(char escaped) {
  char why[96];
  const int length = std::snprintf(why, sizeof why,
                                   "unknown escape \\%c in a quoted string (only \\\\ and \\\" are allowed)", escaped);
  return std::string(why, static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(sizeof why) - 1)));
}

// A string in double quotes at the start of `text`, which is advanced past
// it. Returns an error message, empty on success.
std::string take_quoted(std::string_view& text, std::string& out) {
  out.clear();
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return {};
    }
    if (c == '\\') {
      if (i + 1 == text.size()) break;
      const char escaped = text[++i];
      if (escaped != '\\' && escaped != '"') return unknown_escape(escaped);
      out += escaped;
      continue;
    }
    out += c;
  }
  return "quoted string has no closing '\"'";
}

}  // namespace

// The state of one parse: the unread input, where we are, and the key that
// value lines belong to.
struct RegistryFile::Parser {
  enum class Section {
    none,     // before the first key
    kept,     // HKCU or HKLM: values are stored under `key`
    dropped,  // another hive: values are checked, not stored
    deleted,  // after [-key]: no values allowed
  };

  std::string_view rest;
  std::string_view source;
  std::map<std::string, Values, std::less<>>& keys;
  std::size_t line_number = 0;
  Section section = Section::none;
  std::string key;

  bool next_line(std::string_view& line) {
    if (rest.empty()) return false;
    const std::size_t end = rest.find('\n');
    line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_number;
    return true;
  }

  RegistryFileResult fail(const std::string& problem) const {
    return RegistryFileResult{.status = RegistryFileStatus::malformed,
                              .line = line_number,
                              .reason = std::string(source) + ": line " + std::to_string(line_number) + ": " + problem};
  }

  std::string check_header() {
    if (rest.starts_with(kUtf16LeBom) || rest.starts_with(kUtf16BeBom))
      return "the file is UTF-16; save it as UTF-8 or ANSI text";
    if (rest.starts_with(kUtf8Bom)) rest.remove_prefix(kUtf8Bom.size());
    std::string_view line;
    while (next_line(line)) {
      line = trim(line);
      if (line.empty()) continue;
      if (line == kRegedit4 || line == kRegedit5) return {};
      break;
    }
    return "expected REGEDIT4 as the first line";
  }

  std::string key_line(std::string_view line) {
    if (line.back() != ']') return "key line has no closing ']'";
    std::string_view path = line.substr(1, line.size() - 2);
    const bool is_deletion = !path.empty() && path.front() == '-';
    if (is_deletion) path.remove_prefix(1);
    const std::string_view hive_name = path.substr(0, path.find('\\'));
    path.remove_prefix(hive_name.size());
    const std::string hive_lower = to_lower_ascii(hive_name);
    const HiveName* hive =
        std::lower_bound(std::begin(kHives), std::end(kHives), HiveName{.name = hive_lower, .prefix = {}}, hive_before);
    if (hive == std::end(kHives) || hive->name != hive_lower) return "unknown hive \"" + std::string(hive_name) + "\"";
    const auto normal = normal_key_path(path);
    if (!normal) return "empty key name between backslashes";
    if (hive->prefix.empty()) {
      section = is_deletion ? Section::deleted : Section::dropped;
      return {};
    }
    key = stored_key(hive->prefix, *normal);
    if (!is_deletion) {
      section = Section::kept;
      return {};
    }
    // The key and everything below it.
    section = Section::deleted;
    auto it = keys.lower_bound(key);
    while (it != keys.end() && it->first.starts_with(key) &&
           (it->first.size() == key.size() || it->first[key.size()] == '\\'))
      it = keys.erase(it);
    return {};
  }

  // The data of a hex: or hex(N): value, following '\' continuations.
  std::string hex_data(std::string_view data) {
    std::string joined;
    for (;;) {
      data = trim_right(data);
      if (data.empty() || data.back() != '\\') break;
      data.remove_suffix(1);
      joined.append(data);
      if (!next_line(data)) return "hex data continues past the end of the file";
      data = trim_left(data);
    }
    joined.append(data);
    std::string_view bytes = joined;
    if (trim(bytes).empty()) return {};
    while (true) {
      const std::size_t comma = bytes.find(',');
      if (!parse_hex(trim(bytes.substr(0, comma)), 2))
        return "hex data must be bytes of 1 or 2 hex digits separated by commas";
      if (comma == std::string_view::npos) return {};
      bytes.remove_prefix(comma + 1);
    }
  }

  std::string value_line(std::string_view line) {
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (line.front() == '"') {
      if (auto error = take_quoted(line, name); !error.empty()) return error;
    } else {
      return "expected \"Name\"=, @=, a [key] or a ; comment";
    }
    line = trim_left(line);
    if (line.empty() || line.front() != '=') return "expected '=' after the value name";
    line = trim_left(line.substr(1));

    Value value;
    bool is_deletion = false;
    if (trim_right(line) == "-") {
      is_deletion = true;
    } else if (!line.empty() && line.front() == '"') {
      if (auto error = take_quoted(line, value.text); !error.empty()) return error;
      if (!trim(line).empty()) return "unexpected text after the closing '\"'";
      value.type = ValueType::string;
    } else {
      const std::size_t colon = line.find(':');
      const std::string type = to_lower_ascii(trim(line.substr(0, colon)));
      const std::string_view data = colon == std::string_view::npos ? "" : line.substr(colon + 1);
      if (colon == std::string_view::npos) {
        return "expected a quoted string, dword:, hex: or - after '='";
      } else if (type == "dword") {
        const auto number = parse_hex(trim(data), kMaxDwordDigits);
        if (!number) return "dword value must be 1 to 8 hex digits";
        value.type = ValueType::dword;
        value.number = *number;
      } else if (type == "hex" || (type.starts_with("hex(") && type.back() == ')' &&
                                   parse_hex(std::string_view(type).substr(4, type.size() - 5), kMaxDwordDigits))) {
        if (auto error = hex_data(data); !error.empty()) return error;
        value.type = ValueType::other;
      } else {
        return "unknown value type \"" + std::string(trim(line.substr(0, colon))) + ":\"";
      }
    }

    switch (section) {
      case Section::none: return "value before the first [key]";
      case Section::deleted: return "value under a deleted [-key]";
      case Section::dropped: return {};
      case Section::kept: break;
    }
    if (is_deletion) {
      if (const auto it = keys.find(key); it != keys.end()) {
        it->second.erase(to_lower_ascii(name));
        if (it->second.empty()) keys.erase(it);
      }
    } else {
      keys[key][to_lower_ascii(name)] = std::move(value);
    }
    return {};
  }

  RegistryFileResult run() {
    if (rest.size() > kMaxRegistryFileBytes)
      return RegistryFileResult{.status = RegistryFileStatus::too_large,
                                .line = 0,
                                .reason = std::string(source) + ": more than " + std::to_string(kMaxRegistryFileBytes) +
                                          " bytes, too large for a registry file"};
    if (auto error = check_header(); !error.empty()) return fail(error);
    std::string_view line;
    while (next_line(line)) {
      if (line.find('\0') != std::string_view::npos) return fail("NUL byte in the line");
      line = trim(line);
      if (line.empty() || line.front() == ';') continue;
      auto error = line.front() == '[' ? key_line(line) : value_line(line);
      if (!error.empty()) return fail(error);
    }
    return {};
  }
};

RegistryFileResult RegistryFile::parse(std::string_view text, std::string_view source_name) {
  keys_.clear();
  Parser parser{.rest = text,
                .source = source_name,
                .keys = keys_,
                .line_number = 0,
                .section = Parser::Section::none,
                .key = {}};
  return parser.run();
}

RegistryFileResult RegistryFile::load(const std::filesystem::path& path) {
  keys_.clear();
  const std::string where = path.string();
  const auto failure = [&](RegistryFileStatus status, const std::string& why) {
    return RegistryFileResult{.status = status, .line = 0, .reason = where + ": " + why};
  };
  using Failure = SmallFileResult::Failure;
  std::string text;
  const SmallFileResult read = read_small_regular_file(path, kMaxRegistryFileBytes, text);
  switch (read.failure) {
    case Failure::none: return parse(text, where);
    case Failure::cannot_open:
      if (read.error == ENOENT) return failure(RegistryFileStatus::missing_file, "no such file");
      return failure(RegistryFileStatus::unreadable, std::string("cannot open: ") + std::strerror(read.error));
    case Failure::cannot_stat:
      return failure(RegistryFileStatus::unreadable, std::string("cannot stat: ") + std::strerror(read.error));
    case Failure::not_regular: return failure(RegistryFileStatus::unreadable, "not a regular file");
    case Failure::too_large:
      return failure(RegistryFileStatus::too_large, std::to_string(read.size_bytes) + " bytes, more than the " +
                                                        std::to_string(kMaxRegistryFileBytes) +
                                                        " a registry file may have");
    case Failure::grew_too_large:
      return failure(RegistryFileStatus::too_large,
                     "more than the " + std::to_string(kMaxRegistryFileBytes) + " bytes a registry file may have");
    case Failure::cannot_read: break;
  }
  return failure(RegistryFileStatus::unreadable, std::string("cannot read: ") + std::strerror(read.error));
}

const RegistryFile::Value* RegistryFile::find(RegistryHive hive, std::string_view key, std::string_view value) const {
  const auto path = normal_key_path(key);
  if (!path) return nullptr;
  const auto values = keys_.find(stored_key(hive_prefix(hive), *path));
  if (values == keys_.end()) return nullptr;
  const auto found = values->second.find(to_lower_ascii(value));
  return found == values->second.end() ? nullptr : &found->second;
}

bool RegistryFile::answers_office_converter(RegistryHive hive, std::string_view key, std::string_view value) const {
  if (!office_converter_ || hive != RegistryHive::local_machine || !equals_ignoring_case(value, kConverterPathValue) ||
      normal_key_path(key) != to_lower_ascii(kWord8ConverterKey))
    return false;
  for (const std::string_view word_key : {kWord6ConverterKey, kWord8ConverterKey})
    if (find(RegistryHive::local_machine, word_key, kConverterPathValue) != nullptr) return false;
  return true;
}

std::optional<std::string> RegistryFile::read_string(RegistryHive hive, std::string_view key,
                                                     std::string_view value) const {
  if (answers_office_converter(hive, key, value)) return office_converter_->string();
  const Value* found = find(hive, key, value);
  if (found == nullptr || found->type != ValueType::string) return std::nullopt;
  return found->text;
}

std::optional<std::uint32_t> RegistryFile::read_dword(RegistryHive hive, std::string_view key,
                                                      std::string_view value) const {
  const Value* found = find(hive, key, value);
  if (found == nullptr || found->type != ValueType::dword) return std::nullopt;
  return found->number;
}

std::size_t RegistryFile::value_count() const {
  std::size_t count = 0;
  for (const auto& [key, values] : keys_) count += values.size();
  return count;
}

}  // namespace vellora::linux_host
