// The send folder as the send pass sees it: a listing taken once, in name
// order, and what each step does with a listed file: its path, its
// document type, its name on the handheld in the user's words, its
// conversion as a sync sends it, and the line of a file that stays. The
// walk and the recovery of an interrupted sync share it, so both read a
// file the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "conduit/convert_file.h"
#include "conduit/document_types.h"
#include "conduit/session.h"

namespace vellora {

struct FolderEntry {
  std::string name;  // as it is on disk
  std::uintmax_t bytes = 0;
  FileStamp stamp;  // of a regular file, as listed
  // Why the entry is not a file the pass may read, or empty for a regular
  // file.
  std::string_view not_regular;
};

// The folder's entries but sub-folders, in name order. Links and other
// entries that are not regular files are listed only to be reported: the
// pass never reads or deletes anything outside the folder, and never opens
// what may not end. False when the folder cannot be read.
bool list_files(const std::filesystem::path& folder, std::vector<FolderEntry>& out);

// The document type of a file by its lower-cased name; null when its
// extension names none.
const DocumentType* document_type_of(std::string_view lower_name);

class SendFolder {
 public:
  SendFolder(Conduit& conduit, std::filesystem::path folder);

  Conduit& conduit() const { return conduit_; }
  SyncManager& sync() const { return conduit_.platform.sync; }
  const TextCodec& codec() const { return conduit_.platform.codec; }
  const std::filesystem::path& path() const { return folder_; }
  std::filesystem::path file_path(const std::string& name) const { return folder_ / host_path(name); }

  // Whether the receive pass wrote `file` here this session: a send folder
  // that is also the receive folder does not send it straight back.
  bool is_received(const std::string& file) const {
    return is_receive_folder_ && conduit_.received_files.count(file) != 0;
  }

  // A handheld name as the user knows it, for messages, bare or quoted.
  std::string shown(const std::string& name) const;
  std::string quoted(const std::string& name) const;

  // Imports and lays out the listed file as a sync sends it.
  FileConversion convert(const FolderEntry& entry, const DocumentType& type) const;

  // Reports `file` as staying in the folder; `warn` makes the session end
  // with the not-all-sent warning.
  void keep(const std::string& file, const std::string& why, bool warn) const;

 private:
  Conduit& conduit_;
  std::filesystem::path folder_;
  bool is_receive_folder_ = false;
};

}  // namespace vellora
