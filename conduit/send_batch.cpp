// The pending flush of the send pass and the deletion of sent sources. The
// order is the rule: flush_pending_writes first, deletions only after it
// succeeded, then the journal goes, as nothing it names is still owed.
#include "conduit/send_batch.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace vellora {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kChangedWhileSent =
    "changed while it was being sent; it stays and is sent again at the next sync";

std::string joined(const std::vector<SentFile>& files) {
  std::string out;
  for (const auto& file : files) out += (out.empty() ? "" : ", ") + file.name;
  return out;
}

}  // namespace

void SentBatch::add_sent(SentFile sent) {
  if (pending_flush_.empty()) first_pending_ = std::chrono::steady_clock::now();
  pending_flush_.push_back(std::move(sent));
  if (pending_flush_.size() >= kMostPendingFiles ||
      std::chrono::steady_clock::now() - first_pending_ >= kLongestPending)
    flush_and_delete_sent();
}

void SentBatch::flush_and_delete_sent() {
  if (pending_flush_.empty()) {
    journal_.clear();  // it names only files that were not sent
    return;
  }
  SyncManager& sync = folder_.sync();
  if (const SyncStatus status = sync.flush_pending_writes(); status != kSyncOk) {
    folder_.conduit().not_all_sent = true;
    folder_.conduit().report(SessionEventKind::problem, "send pass",
                             "the new documents could not be made durable on the handheld (" + sync.error_text(status) +
                                 "); their files stay in the send folder: " + joined(pending_flush_));
  } else {
    for (const SentFile& sent : pending_flush_) delete_sent_source(sent, {});
  }
  pending_flush_.clear();
  journal_.clear();
}

void SentBatch::delete_sent_source(const SentFile& sent, const std::string& removed_note) {
  const Removal removal = remove_sent(sent);
  if (removal == Removal::changed)
    folder_.keep(sent.name, std::string(kChangedWhileSent), true);
  else if (removal == Removal::removed && !removed_note.empty())
    folder_.conduit().report(SessionEventKind::removed, sent.name, removed_note);
}

SentBatch::Removal SentBatch::remove_sent(const SentFile& sent) {
  const fs::path path = folder_.file_path(sent.name);
  FileStamp now;
  if (!stamp_entry(path, now)) {
    if (errno == ENOENT) return Removal::removed;
    folder_.conduit().report(SessionEventKind::problem, sent.name,
                             "sent, but the file could not be checked before its deletion: " + errno_text(errno));
    return Removal::failed;
  }
  if (!(now == sent.stamp)) return Removal::changed;
  std::error_code error;
  if (!fs::remove(path, error) && error) {
    folder_.conduit().report(SessionEventKind::problem, sent.name,
                             "sent, but the file could not be deleted: " + error.message());
    return Removal::failed;
  }
  return Removal::removed;
}

}  // namespace vellora
