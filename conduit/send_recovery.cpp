// The recovery of an interrupted send. A file is taken for sent only by the
// strictest test there is: its conversion now equals the database record
// for record. Its database is then counted in the next flush of the
// handheld's pending writes, and the file goes, as in the walk, only after
// that flush and only while it is still the version that was checked.
#include "conduit/send_recovery.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "base/ascii.h"
#include "conduit/send_journal.h"
#include "docmodel/document_reader.h"
#include "docmodel/records.h"

namespace vellora {

namespace {

// A file the journal names whose database holds it whole.
struct Confirmed {
  SentFile sent;
  std::string database;
};

bool has_records_of(SyncManager& sync, const std::string& name, const PackedDocument& document) {
  DocumentReader reader(sync);
  if (!reader.open(name) || reader.record_count() != document.record_count()) return false;
  std::vector<std::uint8_t> record;
  for (std::size_t i = 0; i < document.record_count(); ++i) {
    if (!reader.read_record(static_cast<std::uint16_t>(i), record)) return false;
    const auto expected = document.record(i);
    if (!std::equal(record.begin(), record.end(), expected.begin(), expected.end())) return false;
  }
  return true;
}

// Whether database `name` on the handheld is one of ours and holds exactly
// what the listed file converts to now; `stamp` is then the file's as it
// was read.
bool holds(SendFolder& folder, const std::string& name, const FolderEntry& entry, const DocumentType& type,
           FileStamp& stamp) {
  FindDbRequest request;
  request.name = name;
  DbInfo found;
  // A database of another application is never taken for a document the
  // walk would have sent.
  if (folder.sync().SyncFindDbByName(request, found) != kSyncOk || found.type != kDocumentType ||
      found.creator != kDocumentCreator)
    return false;
  const FileConversion conversion = folder.convert(entry, type);
  if (!conversion) return false;
  stamp = conversion.imported.source_stamp;
  return has_records_of(folder.sync(), name, conversion.document);
}

// The journal's line checked against the listing and the handheld: the
// file when the walk would send it, under the name the line gives, and its
// database holds it whole and is counted in the next flush.
std::optional<Confirmed> confirm(SendFolder& folder, const std::vector<FolderEntry>& entries,
                                 const JournalEntry& noted) {
  // A file received this session is the receive pass's, not a send.
  if (folder.is_received(noted.file)) return std::nullopt;
  const auto entry = std::find_if(entries.begin(), entries.end(), [&](const FolderEntry& e) {
    return e.name == noted.file && e.not_regular.empty() && e.bytes > 0;
  });
  if (entry == entries.end()) return std::nullopt;
  const DocumentType* type = document_type_of(to_lower_ascii(entry->name));
  if (type == nullptr) return std::nullopt;
  const std::string name = document_name_for(entry->name, &folder.codec());
  FileStamp stamp;
  if (name != noted.database || !holds(folder, name, *entry, *type, stamp)) return std::nullopt;
  if (folder.sync().add_to_pending_flush(name) != kSyncOk) return std::nullopt;
  return Confirmed{SentFile{entry->name, stamp}, name};
}

// Makes the confirmed databases durable, then deletes their files. False
// when the flush failed: the files then stay for the walk.
bool flush_and_delete_confirmed(SendFolder& folder, SentBatch& batch, const std::vector<Confirmed>& confirmed) {
  if (const SyncStatus status = folder.sync().flush_pending_writes(); status != kSyncOk) {
    folder.conduit().report(SessionEventKind::problem, "send pass",
                            "the documents of an interrupted sync could not be made durable on the handheld (" +
                                folder.sync().error_text(status) + "); their files stay in the send folder");
    return false;
  }
  // A file changed since is left out of the walk too, as its line says.
  for (const auto& [sent, database] : confirmed)
    batch.delete_sent_source(
        sent, "sent by an interrupted sync; " + folder.quoted(database) + " on the handheld holds it whole");
  return true;
}

}  // namespace

std::set<std::string> finish_interrupted(SendFolder& folder, SentBatch& batch,
                                         const std::vector<FolderEntry>& entries) {
  bool found = false;
  const std::vector<JournalEntry> journal = SendJournal::read(folder.path(), found);
  if (!found) return {};
  std::vector<Confirmed> confirmed;
  std::set<std::string> checked;  // a file named twice is converted once
  for (const JournalEntry& noted : journal) {
    if (!checked.insert(noted.file).second) continue;
    if (auto file = confirm(folder, entries, noted)) confirmed.push_back(std::move(*file));
  }
  if (!confirmed.empty() && !flush_and_delete_confirmed(folder, batch, confirmed)) return {};
  SendJournal::remove(folder.path());
  std::set<std::string> finished;
  for (const Confirmed& file : confirmed) finished.insert(file.sent.name);
  return finished;
}

}  // namespace vellora
