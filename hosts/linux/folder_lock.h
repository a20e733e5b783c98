// Exclusive locks on whole folders for the length of a session. Two
// sessions that share any folder (send, receive or handheld, in any role)
// must never interleave: the staging files have fixed names in the send
// folder, so one session could otherwise build another's document and
// delete its own source. The lock is flock on the folder's own descriptor,
// so nothing is written into the user's folders, and the kernel releases it
// when the process dies.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "hosts/linux/posix_io.h"

namespace vellora::linux_host {

class FolderLocks {
 public:
  FolderLocks() = default;
  ~FolderLocks();
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;

  // Locks every folder of `folders` that exists; the same folder under two
  // names is locked once. Folders are taken in the order of their device
  // and inode numbers, so sessions that share folders in different roles
  // still take them in one order. A folder held elsewhere is retried until
  // `wait` has passed; `on_wait` is called once, with the folder, before
  // waiting. Returns an empty string, or one line naming the folder that
  // could not be locked (nothing is then held).
  std::string lock(const std::vector<std::filesystem::path>& folders, std::chrono::milliseconds wait,
                   void (*on_wait)(const std::filesystem::path& folder) = nullptr);
  void release();

 private:
  std::vector<UniqueFd> descriptors_;
};

}  // namespace vellora::linux_host
