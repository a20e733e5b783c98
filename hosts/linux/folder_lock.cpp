// Session locks on folders with flock.
#include "hosts/linux/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <tuple>

namespace vellora::linux_host {

namespace {

constexpr std::chrono::milliseconds kRetryInterval{50};

struct Candidate {
  std::filesystem::path path;
  dev_t device = 0;
  ino_t inode = 0;
};

}  // namespace

FolderLocks::~FolderLocks() { release(); }

void FolderLocks::release() { descriptors_.clear(); }

std::string FolderLocks::lock(const std::vector<std::filesystem::path>& folders, std::chrono::milliseconds wait,
                              void (*on_wait)(const std::filesystem::path& folder)) {
  release();
  std::vector<Candidate> candidates;
  for (const auto& folder : folders) {
    struct stat st {};
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    candidates.push_back({folder, st.st_dev, st.st_ino});
  }
  const auto key = [](const Candidate& c) { return std::tie(c.device, c.inode); };
  std::sort(candidates.begin(), candidates.end(), [&](const auto& a, const auto& b) { return key(a) < key(b); });
  candidates.erase(
      std::unique(candidates.begin(), candidates.end(), [&](const auto& a, const auto& b) { return key(a) == key(b); }),
      candidates.end());

  const auto deadline = std::chrono::steady_clock::now() + wait;
  bool has_waited = false;
  for (const Candidate& folder : candidates) {
    UniqueFd fd(::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.is_open()) {
      const std::string reason = folder.path.string() + ": cannot open the folder to lock it: " + std::strerror(errno);
      release();
      return reason;
    }
    const int held = fd.get();
    descriptors_.push_back(std::move(fd));
    while (::flock(held, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
        release();
        if (error != EWOULDBLOCK) return folder.path.string() + ": cannot lock the folder: " + std::strerror(error);
        return folder.path.string() + ": another session is still using this folder; nothing was done";
      }
      if (!has_waited && on_wait != nullptr) on_wait(folder.path);
      has_waited = true;
      std::this_thread::sleep_for(kRetryInterval);
    }
  }
  return {};
}

}  // namespace vellora::linux_host
