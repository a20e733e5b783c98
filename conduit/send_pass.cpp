// Send pass. The walk works on a snapshot of the folder, in name order, and
// handles each file once under its real name; the lower-cased name is what
// the handheld sees. Before a file is converted the pass checks the
// handheld's memory and settles a database that already holds the name;
// an existing database of ours is deleted only when the new document is
// packed and ready to be written.
#include "conduit/send_pass.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "base/files.h"
#include "conduit/convert_file.h"
#include "conduit/document_types.h"
#include "conduit/send_journal.h"
#include "docmodel/builder.h"
#include "docmodel/document_reader.h"
#include "docmodel/records.h"
#include "docmodel/staging.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

struct FolderEntry {
  std::string name;  // as it is on disk
  std::uintmax_t bytes = 0;
  FileStamp stamp;  // of a regular file, as listed
  // Why the entry is not a file the pass may read, or empty for a regular
  // file.
  std::string_view not_regular;
};

std::string_view describe_type(std::filesystem::file_type type) {
  const std::string_view kind = special_file_kind(type);
  return kind.empty() ? "not a regular file" : kind;
}

// The folder's entries but sub-folders, in name order. Links and other
// entries that are not regular files are listed only to be reported: the
// pass never reads or deletes anything outside the folder, and never opens
// what may not end.
bool list_files(const fs::path& folder, std::vector<FolderEntry>& out) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) return false;
  fs::directory_iterator it(folder, error);
  if (error) return false;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) return false;
    const auto status = it->symlink_status(error);
    if (error || fs::is_directory(status)) continue;
    std::string name = host_text(it->path().filename());
    if (!fs::is_regular_file(status)) {
      out.push_back({std::move(name), 0, {}, describe_type(status.type())});
      continue;
    }
    FileStamp stamp;
    if (!stamp_entry(it->path(), stamp)) continue;
    if (!stamp.is_regular) {
      out.push_back({std::move(name), 0, {}, "not a regular file"});
      continue;
    }
    out.push_back({std::move(name), stamp.size_bytes, stamp, {}});
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  return true;
}

enum class Verdict { send, replace, keep };

// A file read and sent, with the stamp it had when it was read.
struct SentFile {
  std::string name;
  FileStamp stamp;
};

std::string joined(const std::vector<SentFile>& files) {
  std::string out;
  for (const auto& file : files) out += (out.empty() ? "" : ", ") + file.name;
  return out;
}

constexpr std::string_view kChangedWhileSent =
    "changed while it was being sent; it stays and is sent again at the next sync";

class SendWalk {
 public:
  SendWalk(Conduit& conduit, fs::path folder)
      : conduit_(conduit), sync_(conduit.platform.sync), codec_(conduit.platform.codec), folder_(std::move(folder)) {
    std::error_code error;
    const auto& receive = conduit.settings.receive_folder;
    skip_received_ = !receive.empty() && fs::equivalent(folder_, host_path(receive), error);
  }

  void handle(FolderEntry entry) {
    if (entry.name == kSendJournalName) return;
    if (skip_received_ && conduit_.received_files.count(entry.name) != 0) return;
    if (!entry.not_regular.empty())
      return keep(entry.name, "is " + std::string(entry.not_regular) + "; only regular files are sent", false);
    if (entry.bytes == 0) return keep(entry.name, "is empty: there is nothing to send", false);
    std::string lower = to_lower_ascii(entry.name);
    if (lower == kSerialSyncFile) {
      std::error_code error;
      if (fs::remove(file_path(entry.name), error))
        conduit_.report(SessionEventKind::removed, entry.name, "deleted unread");
      return;
    }
    const auto dot = lower.rfind('.');
    if (dot != std::string::npos && lower.compare(dot, std::string::npos, ".html") == 0 && !rename_html(entry, lower))
      return;
    const DocumentType* type = dot == std::string::npos ? nullptr : find_document_type(lower.substr(dot));
    if (type == nullptr) return keep(entry.name, not_a_document(entry.name), false);
    const std::string name = document_name_for(entry.name, &codec_);
    const Verdict verdict = check_handheld(entry, name);
    if (verdict == Verdict::keep) return;
    send(entry, name, *type, verdict == Verdict::replace);
  }

 private:
  fs::path file_path(const std::string& name) const { return folder_ / host_path(name); }

  // A handheld name as the user knows it, for messages.
  std::string shown(const std::string& name) const { return codec_.name_to_pc(name).value_or(name); }
  std::string quoted(const std::string& name) const {
    std::string text = "\"";
    text += shown(name);
    text += '"';
    return text;
  }

  // Why a file whose extension names no document type stays. A name that
  // only trailing spaces or dots keep from being a document (which Windows
  // would have dropped) says how to send it.
  static std::string not_a_document(const std::string& name) {
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

  void keep(const std::string& file, const std::string& why, bool warn) {
    if (warn) conduit_.not_all_sent = true;
    conduit_.report(SessionEventKind::kept, file, why);
  }

  // Page.HTML becomes page.htm, unless that name is taken: the file then
  // waits for a later session rather than replace another.
  bool rename_html(FolderEntry& entry, std::string& lower) {
    lower.pop_back();
    std::error_code error;
    if (fs::exists(fs::symlink_status(file_path(lower), error))) {
      keep(entry.name, "cannot be renamed to " + lower + ": a file of that name exists", false);
      return false;
    }
    fs::rename(file_path(entry.name), file_path(lower), error);
    if (error) {
      keep(entry.name, "cannot be renamed to " + lower + ": " + error.message(), false);
      return false;
    }
    entry.name = lower;
    return true;
  }

  Verdict check_handheld(const FolderEntry& entry, const std::string& name) {
    if (created_.count(name) != 0) {
      keep(entry.name, "another file of this session already became " + quoted(name) + " on the handheld", true);
      return Verdict::keep;
    }
    CardInfo card;
    card.card = 0;
    // A failed call says nothing about the memory: the file waits with the
    // handheld's own reason rather than a claim that the handheld is full.
    if (SyncStatus status = sync_.SyncReadSingleCardInfo(card); status != kSyncOk) {
      keep(entry.name, "cannot read the handheld's free memory: " + sync_.error_text(status), false);
      return Verdict::keep;
    }
    if (!fits_on_handheld(entry.bytes, card.free_bytes)) {
      keep(entry.name, "not enough free memory on the handheld (" + std::to_string(card.free_bytes) + " bytes free)",
           false);
      return Verdict::keep;
    }
    FindDbRequest request;
    request.name = name;
    DbInfo found;
    if (sync_.SyncFindDbByName(request, found) != kSyncOk) return Verdict::send;
    if (found.type != kDocumentType || found.creator != kDocumentCreator) {
      keep(entry.name, quoted(name) + " on the handheld belongs to another application", true);
      return Verdict::keep;
    }
    const std::uint32_t policy = conduit_.settings.send_policy;
    bool overwrite = policy != kNeverOverwrite;
    if (policy == kAskBeforeOverwrite) {
      const std::string question = "File " + shown(name) + " already exists on your Palm Device! Overwrite?";
      overwrite = conduit_.platform.message_box.show(question, kQuestionCaption, kStyleYesNoWarning) == kAnswerYes;
    }
    if (!overwrite) {
      keep(entry.name, quoted(name) + " already exists on the handheld and was not overwritten", false);
      return Verdict::keep;
    }
    return Verdict::replace;
  }

  // Imports and lays out the listed file as a sync sends it.
  FileConversion convert(const FolderEntry& entry, const DocumentType& type) {
    ImportOptions options;
    options.registry = &conduit_.platform.registry;
    options.converters = &conduit_.platform.converters;
    options.on_converter = [&](const std::string& converter) {
      conduit_.report(SessionEventKind::converting, entry.name, "with the text converter " + converter);
    };
    options.codec = &codec_;
    options.listed_source = &entry.stamp;
    return convert_file(type, file_path(entry.name), entry.name, folder_, std::move(options),
                        static_cast<std::size_t>(entry.bytes));
  }

  void send(const FolderEntry& entry, const std::string& name, const DocumentType& type, bool replace) {
    const std::string& file = entry.name;
    const FileConversion conversion = convert(entry, type);
    if (!conversion) return keep(file, conversion.reason, true);

    // Named before its database exists, so that a session killed from here
    // on leaves a journal that lets the next one finish.
    journal_.add(file, name);
    if (replace) sync_.SyncDeleteDB(name, 0);
    const BuildResult written = write_document(conversion.document, sync_);
    if (!written) return keep(file, written.reason, true);
    created_.insert(name);
    conduit_.report(SessionEventKind::sent, file, "handheld " + quoted(name) + transcoding_note(conversion.imported));
    if (pending_flush_.empty()) first_pending_ = std::chrono::steady_clock::now();
    pending_flush_.push_back({file, conversion.imported.source_stamp});
    if (pending_flush_.size() >= kMostPendingFiles ||
        std::chrono::steady_clock::now() - first_pending_ >= kLongestPending)
      flush_and_delete_sent();
  }

  // Whether database `name` on the handheld is one of ours and holds
  // exactly what the listed file converts to now; `stamp` is then the
  // file's as it was read.
  bool holds(const std::string& name, const FolderEntry& entry, const DocumentType& type, FileStamp& stamp) {
    FindDbRequest request;
    request.name = name;
    DbInfo found;
    // A database of another application is never taken for a document the
    // walk would have sent.
    if (sync_.SyncFindDbByName(request, found) != kSyncOk || found.type != kDocumentType ||
        found.creator != kDocumentCreator)
      return false;
    const FileConversion conversion = convert(entry, type);
    if (!conversion) return false;
    const PackedDocument& document = conversion.document;
    stamp = conversion.imported.source_stamp;
    DocumentReader reader(sync_);
    if (!reader.open(name) || reader.record_count() != document.record_count()) return false;
    std::vector<std::uint8_t> record;
    for (std::size_t i = 0; i < document.record_count(); ++i) {
      if (!reader.read_record(static_cast<std::uint16_t>(i), record)) return false;
      const auto expected = document.record(i);
      if (!std::equal(record.begin(), record.end(), expected.begin(), expected.end())) return false;
    }
    return true;
  }

 private:
  enum class Removal { removed, changed, failed };

  // Deletes a sent file, but only while it is still what was read: one
  // written, cut, grown or replaced since stays for the next sync. A file
  // already gone counts as removed.
  Removal remove_sent(const SentFile& sent) {
    const fs::path path = file_path(sent.name);
    FileStamp now;
    if (!stamp_entry(path, now)) {
      if (errno == ENOENT) return Removal::removed;
      conduit_.report(SessionEventKind::problem, sent.name,
                      "sent, but the file could not be checked before its deletion: " + errno_text(errno));
      return Removal::failed;
    }
    if (!(now == sent.stamp)) return Removal::changed;
    std::error_code error;
    if (!fs::remove(path, error) && error) {
      conduit_.report(SessionEventKind::problem, sent.name,
                      "sent, but the file could not be deleted: " + error.message());
      return Removal::failed;
    }
    return Removal::removed;
  }

  // Deletes a sent file whose database is durable, as remove_sent does; a
  // file changed since stays with its line, and one deleted gets a line
  // saying `removed_note` when there is one.
  void delete_sent_source(const SentFile& sent, const std::string& removed_note) {
    const Removal removal = remove_sent(sent);
    if (removal == Removal::changed)
      keep(sent.name, std::string(kChangedWhileSent), true);
    else if (removal == Removal::removed && !removed_note.empty())
      conduit_.report(SessionEventKind::removed, sent.name, removed_note);
  }

 public:
  // Makes the databases written since the last call durable and only then
  // deletes their files: a file leaves the send folder only once its
  // document is safe on the handheld. One flush serves many files.
  void flush_and_delete_sent() {
    if (pending_flush_.empty()) {
      journal_.clear();  // it names only files that were not sent
      return;
    }
    if (const SyncStatus status = sync_.flush_pending_writes(); status != kSyncOk) {
      conduit_.not_all_sent = true;
      conduit_.report(SessionEventKind::problem, "send pass",
                      "the new documents could not be made durable on the handheld (" + sync_.error_text(status) +
                          "); their files stay in the send folder: " + joined(pending_flush_));
    } else {
      for (const SentFile& sent : pending_flush_) delete_sent_source(sent, {});
    }
    pending_flush_.clear();
    journal_.clear();
  }

  // A journal left by a session that was killed before it deleted the
  // sources of its last batch: each file it names whose database is on the
  // handheld, complete and exactly what the file converts to, was sent, so
  // it is deleted now without a question. Files that fail a check are left
  // to the walk, as any other file. Returns the files it finished.
  std::set<std::string> finish_interrupted(const std::vector<FolderEntry>& entries) {
    std::set<std::string> finished;
    bool found = false;
    const std::vector<JournalEntry> journal = SendJournal::read(folder_, found);
    if (!found) return finished;
    std::vector<std::pair<SentFile, std::string>> confirmed;  // file, database
    std::set<std::string> checked;                            // a file named twice is converted once
    for (const JournalEntry& noted : journal) {
      if (!checked.insert(noted.file).second) continue;
      // A file received this session is the receive pass's, not a send.
      if (skip_received_ && conduit_.received_files.count(noted.file) != 0) continue;
      const auto entry = std::find_if(entries.begin(), entries.end(), [&](const FolderEntry& e) {
        return e.name == noted.file && e.not_regular.empty() && e.bytes > 0;
      });
      if (entry == entries.end()) continue;
      const std::string lower = to_lower_ascii(entry->name);
      const auto dot = lower.rfind('.');
      const DocumentType* type = dot == std::string::npos ? nullptr : find_document_type(lower.substr(dot));
      if (type == nullptr) continue;
      const std::string name = document_name_for(entry->name, &codec_);
      FileStamp stamp;
      if (name != noted.database || !holds(name, *entry, *type, stamp)) continue;
      if (sync_.add_to_pending_flush(name) != kSyncOk) continue;
      finished.insert(entry->name);
      confirmed.push_back({SentFile{entry->name, stamp}, name});
    }
    if (!finished.empty()) {
      if (const SyncStatus status = sync_.flush_pending_writes(); status != kSyncOk) {
        conduit_.report(SessionEventKind::problem, "send pass",
                        "the documents of an interrupted sync could not be made durable on the handheld (" +
                            sync_.error_text(status) + "); their files stay in the send folder");
        return {};
      }
      // A file changed since is left out of this walk too, as its line says.
      for (const auto& [sent, name] : confirmed)
        delete_sent_source(sent, "sent by an interrupted sync; " + quoted(name) + " on the handheld holds it whole");
    }
    SendJournal::remove(folder_);
    return finished;
  }

 private:
  // Files whose databases are written but whose flush is pending. A batch
  // is flushed when it is this large or this old, so a long pass still
  // shows its progress.
  static constexpr std::size_t kMostPendingFiles = 256;
  static constexpr std::chrono::seconds kLongestPending{2};
  std::vector<SentFile> pending_flush_;
  std::chrono::steady_clock::time_point first_pending_;

  Conduit& conduit_;
  SyncManager& sync_;
  const TextCodec& codec_;
  fs::path folder_;
  bool skip_received_ = false;
  std::set<std::string> created_;  // handheld names this walk created
  SendJournal journal_{folder_};
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
  SendWalk walk(conduit, host_path(folder));
  std::set<std::string> finished;
  contain_failure(conduit, "send pass", [&] { finished = walk.finish_interrupted(entries); });
  for (auto& entry : entries) {
    if (finished.count(entry.name) != 0) continue;
    const std::string name = entry.name;
    contain_failure(conduit, name, [&] { walk.handle(std::move(entry)); });
  }
  contain_failure(conduit, "send pass", [&] { walk.flush_and_delete_sent(); });
}

}  // namespace vellora
