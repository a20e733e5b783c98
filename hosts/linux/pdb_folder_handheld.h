// The Linux handheld: a folder of PDB files behind the SyncManager
// interface, one database per file. Databases are found by the name in
// their header, whatever their file names; files that are not valid PDBs
// are ignored and never overwritten or deleted.
//
// Lookups go through an index of the folder that notices changes made by
// other programs between calls (pdb_folder_index.h), so a session of a
// thousand files does not reread a thousand headers per call.
//
// Nothing reaches disk until SyncCloseDB, which writes a temporary file in
// the folder and renames it into place. A new database is flushed to disk
// later, by flush_pending_writes or at the end of the session, so that a
// pass writing many pays for one flush; a database that replaces another is
// flushed before its rename, so the old one survives a power cut. SyncDeleteDB only hides a database
// until the session ends or a new database of the same name is closed,
// which then replaces the old file in one rename: a process killed at any
// moment leaves the old or the new database on disk, never neither. If
// that close fails, the old database stays.
//
// Every call returns kSyncOk or one of the codes below and leaves a
// one-line description in last_error(). Not thread-safe: one object per
// thread. Databases left open when the object is destroyed are discarded.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/linux/handheld_conf.h"
#include "hosts/linux/pdb_folder_index.h"
#include "hosts/linux/posix_io.h"
#include "platform/sync_manager.h"

namespace vellora::linux_host {

constexpr SyncStatus kHandheldNoFolder = 1;                 // the folder is missing or unreadable
constexpr SyncStatus kHandheldNotFound = kSyncErrNotFound;  // no live database of that name
constexpr SyncStatus kHandheldExists = 3;                   // create: the name is taken
constexpr SyncStatus kHandheldAlreadyOpen = 4;              // open or delete of an open database
constexpr SyncStatus kHandheldBadHandle = 5;                // no open database has that handle
constexpr SyncStatus kHandheldBadMode = 6;                  // bad open mode, or write to a read-only open
constexpr SyncStatus kHandheldBadName = 7;                  // empty, 32 bytes or more, or unterminated
constexpr SyncStatus kHandheldBadRecord = 8;                // bad size, category, ID or data pointer
constexpr SyncStatus kHandheldNoRecord = 9;                 // record index out of range
constexpr SyncStatus kHandheldFull = 10;                    // 65,535 records, or 4 GB of file
constexpr SyncStatus kHandheldIoError = 11;                 // a file could not be read or written
constexpr SyncStatus kHandheldLocked = 12;                  // another session holds the folder
constexpr SyncStatus kHandheldNotRegistered = 13;           // unregister without a session
constexpr SyncStatus kHandheldTooManyOpen = 14;             // all 255 handles in use
constexpr SyncStatus kHandheldNoCard = 15;                  // card other than 0
constexpr SyncStatus kHandheldBadConf = 16;                 // handheld.conf cannot be understood
constexpr SyncStatus kHandheldUnsupported = 17;             // resource databases
constexpr SyncStatus kHandheldDamaged = 18;                 // the name's own file is not a valid database

constexpr std::string_view kHandheldLockName = ".vellora.lock";

class PdbFolderHandheld : public SyncManager {
 public:
  // A missing folder is not an error here; calls then fail with
  // kHandheldNoFolder. `watch` chooses how the folder index notices other
  // programs' changes (see pdb_folder_index.h).
  explicit PdbFolderHandheld(std::filesystem::path folder, FolderWatch watch = FolderWatch::automatic);
  // Ends the session as SyncUnRegisterConduit does.
  ~PdbFolderHandheld() override;
  PdbFolderHandheld(const PdbFolderHandheld&) = delete;
  PdbFolderHandheld& operator=(const PdbFolderHandheld&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  // "path: reason" for the last call that failed; empty after a success.
  const std::string& last_error() const { return last_error_; }
  // The file of the live database of that name, if there is one.
  std::optional<std::filesystem::path> database_path(std::string_view name);

  // Takes an exclusive flock on .vellora.lock in the folder (released by
  // the kernel if the process dies) and removes temporary files left by
  // killed writers. A second session on the folder gets kHandheldLocked.
  SyncStatus SyncRegisterConduit(ConduitHandle& handle) override;
  // Unlinks the databases deleted during the session and releases the lock.
  SyncStatus SyncUnRegisterConduit(ConduitHandle handle) override;

  SyncStatus SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle, std::uint8_t mode) override;
  SyncStatus SyncCreateDB(CreateDbRecord& record) override;
  SyncStatus SyncCloseDB(DbHandle handle) override;
  SyncStatus SyncDeleteDB(std::string_view name, std::uint8_t card) override;
  // A record with ID 0 gets the database's next unique ID; a non-zero ID
  // already in the database is refused. The ID used is returned in
  // record.record_id.
  SyncStatus SyncWriteRec(RecordDescriptor& record) override;
  SyncStatus SyncReadRecordByIndex(RecordDescriptor& record) override;
  SyncStatus SyncFindDbByName(const FindDbRequest& request, DbInfo& found) override;
  // Memory from handheld.conf ("memory = BYTES"); a malformed file gives
  // kHandheldBadConf rather than a guess.
  SyncStatus SyncReadSingleCardInfo(CardInfo& info) override;
  SyncStatus SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) override;
  SyncStatus SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) override;
  // Flushes the new databases written since the last call, then the folder.
  SyncStatus flush_pending_writes() override;
  // Forgets the flush still owed to the new databases written so far: for
  // a caller that moves them out of the folder and decides for itself
  // whether they must reach the disk.
  void drop_pending_flush() { pending_flush_.clear(); }
  SyncStatus add_to_pending_flush(std::string_view name) override;

  // last_error() when the last call failed, else "error N".
  std::string error_text(SyncStatus status) const override;

 private:
  struct OpenDatabase;
  // A deleted database: its file stays until the session ends. The inode
  // guards against unlinking a file that has replaced it meanwhile.
  struct HiddenFile {
    std::filesystem::path path;
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
  };

  SyncStatus fail(SyncStatus code, std::string message);
  SyncStatus fail_not_open(DbHandle handle);
  SyncStatus fail_no_card(std::uint8_t card);
  SyncStatus fail_bad_name(std::string_view name);
  SyncStatus fail_no_database(std::string_view name);
  SyncStatus check_folder();
  OpenDatabase* find_open(DbHandle handle);
  OpenDatabase* find_open(std::string_view name);
  DbHandle free_handle();
  SyncStatus commit_created(OpenDatabase& db);
  void note_written(const std::string& file_name, const PdbDatabase& db);
  // Live files carrying `name`, the preferred one first: the file with the
  // name's own file name, then file-name order.
  std::vector<PdbFolderIndex::File> live_files(std::string_view name);
  SyncStatus end_session();

  std::filesystem::path folder_;
  std::string last_error_;
  std::map<DbHandle, std::unique_ptr<OpenDatabase>> open_;
  DbHandle next_handle_ = 1;
  std::vector<HiddenFile> hidden_;
  // A created database whose close failed after this session deleted the
  // database of its name: the old one is live again, and the next
  // SyncDeleteDB of the name, the caller's clean-up, passes it over.
  std::string abandoned_;
  std::vector<std::filesystem::path> pending_flush_;  // new databases not yet durable
  UniqueFd lock_fd_;                                  // held while registered
  PdbFolderIndex index_;
};

}  // namespace vellora::linux_host
