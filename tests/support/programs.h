// Programs from the machine that tests use to make and read real
// documents (a word processor, pandoc, a reference RTF reader), and the
// words of a text for comparing what two tools read.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace vellora::testing {

inline std::optional<std::filesystem::path> find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(folder) / name;
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return std::nullopt;
}

inline std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// Runs a shell command with its output discarded; true when it succeeded.
inline bool run_quietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Words are runs of ASCII letters and digits: quotes, dashes and accented
// letters are written differently by every tool, words are not.
inline std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text + ' ') {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      word += c;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  return words;
}

// Empty when both hold the same words in the same order.
inline std::string word_differences(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  const auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  if (g == got.end() && w == want.end()) return "";
  const auto context = [](const std::vector<std::string>& words, std::vector<std::string>::const_iterator at) {
    std::string out;
    for (auto it = at - std::min<std::ptrdiff_t>(at - words.begin(), 3); it != words.end() && it < at + 4; ++it)
      out += (it == at ? "[" + *it + "]" : *it) + " ";
    return out;
  };
  return "word " + std::to_string(g - got.begin()) + " of " + std::to_string(got.size()) + "/" +
         std::to_string(want.size()) + ": got ... " + context(got, g) + "... want ... " + context(want, w) + "...";
}

}  // namespace vellora::testing
