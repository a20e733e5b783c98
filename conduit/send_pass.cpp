// Send pass. First a journal left by a killed session is finished, then
// the walk handles each listed file once under its real name, in name
// order, through four steps: classify the entry, check the handheld (its
// memory, and a database that already holds the name), convert, and write
// the database and queue the file for the batch's flush. The lower-cased
// name is what the handheld sees. An existing database of ours is deleted
// only when the new document is packed and ready to be written.
#include "conduit/send_pass.h"

#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "base/ascii.h"
#include "conduit/convert_file.h"
#include "conduit/document_types.h"
#include "conduit/send_batch.h"
#include "conduit/send_folder.h"
#include "conduit/send_journal.h"
#include "conduit/send_recovery.h"
#include "conduit/write_document.h"
#include "docmodel/records.h"
#include "docmodel/staging.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

// Why a file whose extension names no document type stays. A name that
// only trailing spaces or dots keep from being a document (which Windows
// would have dropped) says how to send it.
std::string not_a_document(const std::string& name) {
  const auto end = name.find_last_not_of(" .");
  if (end != std::string::npos && end + 1 < name.size()) {
    const std::string trimmed = name.substr(0, end + 1);
    const auto dot = trimmed.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : to_lower_ascii(trimmed.substr(dot));
    if (find_document_type(extension) != nullptr || extension == ".html")
      return "its name ends in a space or a dot, so it is not taken for a " + extension + " file; rename it to " +
             trimmed + " to send it";
  }
  return not_a_document_type_reason();
}

enum class Verdict { send, replace, keep };

class SendWalk {
 public:
  SendWalk(SendFolder& folder, SentBatch& batch) : folder_(folder), sync_(folder.sync()), batch_(batch) {}

  void handle(FolderEntry entry) {
    const DocumentType* type = classify(entry);
    if (type == nullptr) return;
    const std::string name = document_name_for(entry.name, &folder_.codec());
    const Verdict verdict = check_handheld(entry, name);
    if (verdict == Verdict::keep) return;
    const FileConversion conversion = folder_.convert(entry, *type);
    if (!conversion) return folder_.keep(entry.name, conversion.reason, true);
    write_and_queue(entry.name, name, conversion, verdict == Verdict::replace);
  }

 private:
  // The document type of an entry the walk sends, renamed from .html
  // first; null for one it passes over, deletes unread or keeps with its
  // line.
  const DocumentType* classify(FolderEntry& entry) {
    if (entry.name == kSendJournalName || folder_.is_received(entry.name)) return nullptr;
    if (!entry.not_regular.empty()) {
      folder_.keep(entry.name, "is " + std::string(entry.not_regular) + "; only regular files are sent", false);
      return nullptr;
    }
    if (entry.bytes == 0) {
      folder_.keep(entry.name, "is empty: there is nothing to send", false);
      return nullptr;
    }
    std::string lower = to_lower_ascii(entry.name);
    if (lower == kSerialSyncFile) {
      std::error_code error;
      if (fs::remove(folder_.file_path(entry.name), error))
        folder_.conduit().report(SessionEventKind::removed, entry.name, "deleted unread");
      return nullptr;
    }
    if (lower.ends_with(".html") && !rename_html(entry, lower)) return nullptr;
    const DocumentType* type = document_type_of(lower);
    if (type == nullptr) folder_.keep(entry.name, not_a_document(entry.name), false);
    return type;
  }

  // Page.HTML becomes page.htm, unless that name is taken: the file then
  // waits for a later session rather than replace another.
  bool rename_html(FolderEntry& entry, std::string& lower) {
    lower.pop_back();
    std::error_code error;
    if (fs::exists(fs::symlink_status(folder_.file_path(lower), error))) {
      folder_.keep(entry.name, "cannot be renamed to " + lower + ": a file of that name exists", false);
      return false;
    }
    fs::rename(folder_.file_path(entry.name), folder_.file_path(lower), error);
    if (error) {
      folder_.keep(entry.name, "cannot be renamed to " + lower + ": " + error.message(), false);
      return false;
    }
    entry.name = lower;
    return true;
  }

  Verdict check_handheld(const FolderEntry& entry, const std::string& name) {
    if (created_.count(name) != 0) {
      folder_.keep(entry.name,
                   "another file of this session already became " + folder_.quoted(name) + " on the handheld", true);
      return Verdict::keep;
    }
    if (!has_room_for(entry)) return Verdict::keep;
    return settle_existing(entry, name);
  }

  bool has_room_for(const FolderEntry& entry) {
    CardInfo card;
    card.card = 0;
    // A failed call says nothing about the memory: the file waits with the
    // handheld's own reason rather than a claim that the handheld is full.
    if (SyncStatus status = sync_.SyncReadSingleCardInfo(card); status != kSyncOk) {
      folder_.keep(entry.name, "cannot read the handheld's free memory: " + sync_.error_text(status), false);
      return false;
    }
    if (!fits_on_handheld(entry.bytes, card.free_bytes)) {
      folder_.keep(entry.name,
                   "not enough free memory on the handheld (" + std::to_string(card.free_bytes) + " bytes free)",
                   false);
      return false;
    }
    return true;
  }

  // What to do with a database that already holds the name: one of
  // another application is never replaced; one of ours is as the
  // overwrite policy says.
  Verdict settle_existing(const FolderEntry& entry, const std::string& name) {
    FindDbRequest request;
    request.name = name;
    DbInfo found;
    if (sync_.SyncFindDbByName(request, found) != kSyncOk) return Verdict::send;
    if (found.type != kDocumentType || found.creator != kDocumentCreator) {
      folder_.keep(entry.name, folder_.quoted(name) + " on the handheld belongs to another application", true);
      return Verdict::keep;
    }
    const std::uint32_t policy = folder_.conduit().settings.send_policy;
    bool overwrite = policy != kNeverOverwrite;
    if (policy == kAskBeforeOverwrite) {
      const std::string question = "File " + folder_.shown(name) + " already exists on your Palm Device! Overwrite?";
      overwrite =
          folder_.conduit().platform.message_box.show(question, kQuestionCaption, kStyleYesNoWarning) == kAnswerYes;
    }
    if (!overwrite) {
      folder_.keep(entry.name, folder_.quoted(name) + " already exists on the handheld and was not overwritten", false);
      return Verdict::keep;
    }
    return Verdict::replace;
  }

  void write_and_queue(const std::string& file, const std::string& name, const FileConversion& conversion,
                       bool replace) {
    // Named before its database exists, so that a session killed from here
    // on leaves a journal that lets the next one finish.
    batch_.note_sending(file, name);
    if (replace) sync_.SyncDeleteDB(name, 0);
    const BuildResult written = write_document(conversion.document, sync_);
    if (!written) return folder_.keep(file, written.reason, true);
    created_.insert(name);
    folder_.conduit().report(SessionEventKind::sent, file,
                             "handheld " + folder_.quoted(name) + transcoding_note(conversion.imported));
    batch_.add_sent({file, conversion.imported.source_stamp});
  }

  SendFolder& folder_;
  SyncManager& sync_;
  SentBatch& batch_;
  std::set<std::string> created_;  // handheld names this walk created
};

}  // namespace

bool fits_on_handheld(std::uint64_t file_bytes, std::uint32_t free_bytes) {
  return static_cast<double>(file_bytes) * kMemoryPerFileByte + kMemoryPerDocumentBytes <=
         static_cast<double>(free_bytes);
}

void run_send_pass(Conduit& conduit) {
  const std::string& folder = conduit.settings.send_folder;
  if (const std::string why = folder_problem(folder, conduit.settings.send_folder_problem); !why.empty()) {
    conduit.report(SessionEventKind::idle, "send pass", why);
    return;
  }
  // What a killed session left behind is removed before the listing, so
  // it is neither sent nor reported.
  remove_staging_files(host_path(folder));
  remove_stale_word_work(host_path(folder));
  std::vector<FolderEntry> entries;
  if (!list_files(host_path(folder), entries)) {
    conduit.report(SessionEventKind::idle, "send pass", folder + ": cannot be read");
    return;
  }
  SendFolder send_folder(conduit, host_path(folder));
  SentBatch batch(send_folder);
  SendWalk walk(send_folder, batch);
  std::set<std::string> finished;
  contain_failure(conduit, "send pass", [&] { finished = finish_interrupted(send_folder, batch, entries); });
  for (auto& entry : entries) {
    if (finished.count(entry.name) != 0) continue;
    const std::string name = entry.name;
    contain_failure(conduit, name, [&] { walk.handle(std::move(entry)); });
  }
  contain_failure(conduit, "send pass", [&] { batch.flush_and_delete_sent(); });
}

}  // namespace vellora
