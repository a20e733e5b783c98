// The send pass's durability rule, in one place: the files whose databases
// are written but whose flush is pending, the journal that names them until
// their sources are gone, and the one way a sent source is deleted. A file
// leaves the send folder only after the flush that makes its database
// durable succeeded, and only while it is still the file that was read.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "conduit/send_folder.h"
#include "conduit/send_journal.h"

namespace vellora {

// A file read and sent, with the stamp it had when it was read.
struct SentFile {
  std::string name;
  FileStamp stamp;
};

class SentBatch {
 public:
  explicit SentBatch(SendFolder& folder) : folder_(folder), journal_(folder.path()) {}

  // Names `file` in the journal before its database `database` exists, so
  // that a session killed from then on lets the next one finish.
  void note_sending(std::string_view file, std::string_view database) { journal_.add(file, database); }

  // Adds a file whose database is written to the pending flush, and
  // flushes the batch once it is kMostPendingFiles large or
  // kLongestPending old, so a long pass still shows its progress.
  void add_sent(SentFile sent);

  // Makes the databases written since the last call durable and only then
  // deletes their files: one flush serves many files. If the flush fails,
  // every file of the batch stays and the session warns. Either way the
  // batch is settled and its journal removed.
  void flush_and_delete_sent();

  // Deletes a sent file whose database is durable, but only while it is
  // still what was read: one written, cut, grown or replaced since stays
  // with its line. One deleted gets a `removed` line saying `removed_note`
  // when there is one; a file already gone counts as deleted.
  void delete_sent_source(const SentFile& sent, const std::string& removed_note);

  static constexpr std::size_t kMostPendingFiles = 256;
  static constexpr std::chrono::seconds kLongestPending{2};

 private:
  enum class Removal { removed, changed, failed };
  Removal remove_sent(const SentFile& sent);

  SendFolder& folder_;
  std::vector<SentFile> pending_flush_;
  std::chrono::steady_clock::time_point first_pending_;
  SendJournal journal_;
};

}  // namespace vellora
