// The send pass's journal: a small file in the send folder that names each
// file whose database is being written, before it is written, and is
// removed once the sources of a batch are deleted. Sources are deleted only
// after their databases are flushed, a batch at a time; a session killed in
// between leaves files that were reported sent but are still in the folder.
// The next session reads the journal and finishes what it names.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.h"

namespace vellora {

// Hidden, so that file managers keep it out of the user's way.
inline constexpr std::string_view kSendJournalName = ".vellora-sending";

struct JournalEntry {
  std::string file;      // the send-folder file, as named on disk
  std::string database;  // the handheld name it was sent under
  bool operator==(const JournalEntry&) const = default;
};

class SendJournal {
 public:
  explicit SendJournal(std::filesystem::path folder) : path_(std::move(folder) / kSendJournalName) {}

  // Appends an entry and hands it to the operating system, so that it
  // outlives the process. A journal that cannot be written costs only the
  // recovery: the file then stays in the folder as it would without one.
  void add(std::string_view file, std::string_view database);
  // Closes and removes the journal this object wrote: its batch is
  // settled.
  void clear();
  // Removes the journal in `folder`, whoever wrote it.
  static void remove(const std::filesystem::path& folder);

  // The entries a journal in `folder` holds; lines that do not parse (a
  // write cut short) are passed over. `found` tells whether there is one.
  static std::vector<JournalEntry> read(const std::filesystem::path& folder, bool& found);

 private:
  std::filesystem::path path_;
  UniqueFile file_;
};

}  // namespace vellora
