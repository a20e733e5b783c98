// handheld.conf, read through read_small_regular_file and parsed line by
// line; the first line that cannot be understood is the error.
#include "hosts/linux/handheld_conf.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <sstream>

#include "hosts/linux/posix_io.h"

namespace vellora::linux_host {

namespace {

std::string_view trimmed(std::string_view text) {
  const auto is_space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// The whole file, or why not ("path: why").
bool read_conf_text(const std::filesystem::path& path, std::string& text, std::string& error) {
  using Failure = SmallFileResult::Failure;
  const SmallFileResult read = read_small_regular_file(path, kMaxHandheldConfBytes, text);
  switch (read.failure) {
    case Failure::none: return true;
    case Failure::cannot_open: error = path.string() + ": cannot open: " + std::strerror(read.error); break;
    case Failure::cannot_stat: error = path.string() + ": " + std::strerror(read.error); break;
    case Failure::not_regular: error = path.string() + ": not a regular file"; break;
    case Failure::too_large:
      error = path.string() + ": " + std::to_string(read.size_bytes) + " bytes; a settings file this large is not one";
      break;
    case Failure::grew_too_large:
      error = path.string() + ": grew past " + std::to_string(kMaxHandheldConfBytes) + " bytes while being read";
      break;
    case Failure::cannot_read: error = path.string() + ": cannot read: " + std::strerror(read.error); break;
  }
  return false;
}

}  // namespace

HandheldConf read_handheld_conf(const std::filesystem::path& path) {
  HandheldConf result;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return result;
  std::string text;
  if (!read_conf_text(path, text, result.error)) return result;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string_view text = line;
    text = trimmed(text.substr(0, text.find('#')));
    if (text.empty()) continue;
    const auto equals = text.find('=');
    const std::string where = path.string() + ": line " + std::to_string(number) + ": ";
    if (equals == std::string_view::npos) {
      result.error = where + "expected \"key = value\"";
      return result;
    }
    const auto key = trimmed(text.substr(0, equals));
    const auto value = trimmed(text.substr(equals + 1));
    if (key != "memory") continue;
    std::uint64_t bytes = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), bytes);
    if (value.empty() || error != std::errc{} || end != value.data() + value.size()) {
      result.error = where + "memory value \"" + std::string(value) + "\" is not a number of bytes";
      return result;
    }
    result.memory_bytes = bytes;
  }
  return result;
}

std::string handheld_conf_error(const std::filesystem::path& folder) {
  return read_handheld_conf(folder / kHandheldConfName).error;
}

}  // namespace vellora::linux_host
