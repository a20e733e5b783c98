// Private folders and exclusively created files on every host; see
// private_folder.h.
#include "base/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#ifdef _WIN32
#include <io.h>

#include <random>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace vellora {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kUniqueChars = 6;

bool is_private_folder_name(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + kUniqueChars || !name.starts_with(prefix)) return false;
  for (const char c : name.substr(prefix.size()))
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

// Whether `path` itself, not a link's target, is a folder (or else a
// regular file) of this user. Windows keeps no owner to compare here; a
// folder in the user's send folder is the user's.
bool is_own(const fs::path& path, bool is_folder_wanted, std::uintmax_t* size_bytes = nullptr) {
#ifdef _WIN32
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (error || !(is_folder_wanted ? fs::is_directory(status) : fs::is_regular_file(status))) return false;
  if (size_bytes != nullptr) {
    *size_bytes = fs::file_size(path, error);
    if (error) return false;
  }
  return true;
#else
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid()) return false;
  if (size_bytes != nullptr) *size_bytes = static_cast<std::uintmax_t>(st.st_size);
  return is_folder_wanted ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
#endif
}

}  // namespace

fs::path make_private_folder(const fs::path& parent, std::string_view prefix, std::error_code& error) {
  error.clear();
#ifdef _WIN32
  // create_directory reports a name that exists as not made, so a folder
  // someone else made is never taken for ours.
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name(prefix);
    for (std::size_t i = 0; i < kUniqueChars; ++i) name += kChars[pick(random)];
    const fs::path candidate = parent / name;
    if (fs::create_directory(candidate, error)) return candidate;
    if (error) return {};
  }
  error = std::make_error_code(std::errc::file_exists);
  return {};
#else
  std::string pattern = (parent / (std::string(prefix) + std::string(kUniqueChars, 'X'))).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = std::error_code(errno, std::generic_category());
    return {};
  }
  return pattern;
#endif
}

void remove_private_folders(const fs::path& parent, std::string_view prefix) {
  std::error_code error;
  for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
    const fs::path folder = it->path();
    if (!is_private_folder_name(host_text(folder.filename()), prefix) || !is_own(folder, true)) continue;
    std::error_code listing;
    bool holds_a_folder = false;
    std::vector<fs::path> entries;
    for (fs::directory_iterator inner(folder, listing), inner_end; !listing && inner != inner_end;
         inner.increment(listing)) {
      std::error_code status_error;
      holds_a_folder = holds_a_folder || fs::is_directory(inner->symlink_status(status_error));
      entries.push_back(inner->path());
    }
    if (listing || holds_a_folder) continue;
    // Removing an entry unlinks it: a link goes, never what it points to.
    std::error_code ignored;
    for (const fs::path& entry : entries) fs::remove(entry, ignored);
    fs::remove(folder, ignored);
  }
}

bool remove_if_empty_file(const fs::path& path) {
  std::uintmax_t size_bytes = 0;
  if (!is_own(path, false, &size_bytes) || size_bytes != 0) return false;
  std::error_code error;
  return fs::remove(path, error);
}

}  // namespace vellora
