// The private folders `convert` and `export` work in: `.vellora-` and six
// characters, made beside the file they write (so the final rename stays on
// one file system) or in the temporary folder, and held by a lock for as
// long as the command runs, so that the next command can tell the folder
// of one that was killed from one still at work, and remove it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "hosts/linux/work_folder.h"

namespace vellora::cli {

inline constexpr std::string_view kScratchFolderPrefix = ".vellora-";

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::filesystem::path& parent) : folder_(parent, kScratchFolderPrefix) {}
  explicit operator bool() const { return static_cast<bool>(folder_); }
  const std::filesystem::path& path() const { return folder_.path(); }
  std::string error() const { return std::generic_category().message(folder_.error()); }

 private:
  linux_host::WorkFolder folder_;  // removed with everything in it when done
};

// Removes the scratch folders that killed commands left in `parent`. Those
// of commands from before the folders had locks are known by holding
// nothing but files.
inline void remove_stale_scratch_folders(const std::filesystem::path& parent) {
  linux_host::remove_stale_work_folders(parent, kScratchFolderPrefix, linux_host::LocklessFolders::holding_only_files);
}

}  // namespace vellora::cli
