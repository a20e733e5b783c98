// PdbFolderHandheld: SyncManager calls over a folder of PDB files. Lookups
// go through a PdbFolderIndex, which re-checks the folder at every call
// but reads a file only when it is new or changed, so other programs'
// changes are seen without rescanning every header per call. Databases
// opened read-only are read record by record from their files; those
// opened for writing live in memory and reach disk only through
// write_pdb_file's atomic rename.
#include "hosts/linux/pdb_folder_handheld.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

#include "base/ascii.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_open_database.h"
#include "hosts/linux/terminal_text.h"

namespace vellora::linux_host {

namespace {

constexpr ConduitHandle kSessionHandle = 1;
// How many "name~N.pdb" alternatives are tried when a file name is taken.
constexpr int kMaxFileNameSuffix = 999;
constexpr std::uint32_t kFirstUniqueId = 1;
// Handles are one byte and 0 is none.
constexpr std::size_t kMaxOpenDatabases = std::numeric_limits<DbHandle>::max();

bool is_valid_name(std::string_view name) {
  return !name.empty() && name.size() <= kPdbMaxNameBytes && name.find('\0') == std::string_view::npos;
}

// A name for messages: quoted, with control bytes as \xHH so the message
// stays on one line.
std::string quoted_name(std::string_view name) { return "\"" + terminal_safe(name) + "\""; }

std::uint32_t pdb_now() { return pdb_time_from_unix(static_cast<std::int64_t>(std::time(nullptr))); }

std::uint32_t next_unique_id(std::uint32_t id) { return id >= kPdbMaxUniqueId ? 1 : id + 1; }

std::uint32_t clamp_to_u32(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

std::string PdbFolderHandheld::error_text(SyncStatus status) const {
  return last_error_.empty() ? SyncManager::error_text(status) : last_error_;
}

PdbFolderHandheld::PdbFolderHandheld(std::filesystem::path folder, FolderWatch watch)
    : folder_(std::move(folder)), index_(folder_, watch) {}

PdbFolderHandheld::~PdbFolderHandheld() { (void)end_session(); }

SyncStatus PdbFolderHandheld::fail(SyncStatus code, std::string message) {
  last_error_ = std::move(message);
  return code;
}

SyncStatus PdbFolderHandheld::fail_not_open(DbHandle handle) {
  return fail(kHandheldBadHandle, folder_.string() + ": handle " + std::to_string(handle) + " is not open");
}

SyncStatus PdbFolderHandheld::fail_no_card(std::uint8_t card) {
  return fail(kHandheldNoCard, folder_.string() + ": no card " + std::to_string(card));
}

SyncStatus PdbFolderHandheld::fail_bad_name(std::string_view name) {
  return fail(kHandheldBadName, folder_.string() + ": bad database name " + quoted_name(name));
}

SyncStatus PdbFolderHandheld::fail_no_database(std::string_view name) {
  return fail(kHandheldNotFound, folder_.string() + ": no database named " + quoted_name(name));
}

DbHandle PdbFolderHandheld::free_handle() {
  // Callers have checked that fewer than kMaxOpenDatabases handles are in use.
  while (next_handle_ == 0 || open_.count(next_handle_) != 0) ++next_handle_;
  return next_handle_++;
}

SyncStatus PdbFolderHandheld::check_folder() {
  struct stat st {};
  if (::stat(folder_.c_str(), &st) != 0) return fail(kHandheldNoFolder, folder_.string() + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return fail(kHandheldNoFolder, folder_.string() + ": not a folder");
  return kSyncOk;
}

PdbFolderHandheld::OpenDatabase* PdbFolderHandheld::find_open(DbHandle handle) {
  const auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second.get();
}

PdbFolderHandheld::OpenDatabase* PdbFolderHandheld::find_open(std::string_view name) {
  for (auto& [handle, db] : open_)
    if (db->header().name == name) return db.get();
  return nullptr;
}

std::vector<PdbFolderIndex::File> PdbFolderHandheld::live_files(std::string_view name) {
  index_.refresh();
  auto live = index_.databases_named(name);
  std::erase_if(live, [&](const PdbFolderIndex::File& file) {
    return std::any_of(hidden_.begin(), hidden_.end(), [&](const HiddenFile& h) {
      return h.path.filename() == file.file_name && h.device == file.device && h.inode == file.inode;
    });
  });
  const std::string own_name = database_file_name(name);
  std::stable_partition(live.begin(), live.end(),
                        [&](const PdbFolderIndex::File& file) { return file.file_name == own_name; });
  return live;
}

std::optional<std::filesystem::path> PdbFolderHandheld::database_path(std::string_view name) {
  last_error_.clear();
  if (check_folder() != kSyncOk) return std::nullopt;
  const auto live = live_files(name);
  if (live.empty()) {
    (void)fail_no_database(name);
    return std::nullopt;
  }
  return folder_ / live.front().file_name;
}

SyncStatus PdbFolderHandheld::SyncRegisterConduit(ConduitHandle& handle) {
  last_error_.clear();
  const auto lock_path = folder_ / kHandheldLockName;
  if (lock_fd_.is_open()) return fail(kHandheldLocked, lock_path.string() + ": already registered");
  if (auto status = check_folder(); status != kSyncOk) return status;
  UniqueFd fd(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd.is_open()) return fail(kHandheldIoError, lock_path.string() + ": cannot open: " + std::strerror(errno));
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    fd.reset();
    if (error == EWOULDBLOCK) return fail(kHandheldLocked, lock_path.string() + ": another session holds the folder");
    return fail(kHandheldIoError, lock_path.string() + ": cannot lock: " + std::strerror(error));
  }
  lock_fd_ = std::move(fd);
  remove_stale_pdb_temp_files(folder_);
  handle = kSessionHandle;
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncUnRegisterConduit(ConduitHandle handle) {
  last_error_.clear();
  if (!lock_fd_.is_open() || handle != kSessionHandle)
    return fail(kHandheldNotRegistered,
                folder_.string() + ": conduit handle " + std::to_string(handle) + " is not registered");
  return end_session();
}

SyncStatus PdbFolderHandheld::flush_pending_writes() {
  last_error_.clear();
  if (pending_flush_.empty()) return kSyncOk;
  const auto flushed = flush_pdb_files(pending_flush_, folder_);
  if (!flushed) return fail(kHandheldIoError, flushed.reason);
  pending_flush_.clear();
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::add_to_pending_flush(std::string_view name) {
  last_error_.clear();
  const auto path = database_path(name);
  if (!path) return kHandheldNotFound;  // database_path() said why
  pending_flush_.push_back(*path);
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::end_session() {
  abandoned_.clear();
  SyncStatus status = flush_pending_writes();
  for (const auto& h : hidden_) {
    struct stat st {};
    if (::lstat(h.path.c_str(), &st) != 0 || st.st_dev != h.device || st.st_ino != h.inode)
      continue;  // already gone or replaced by another file: nothing to delete
    if (::unlink(h.path.c_str()) != 0)
      status = fail(kHandheldIoError, h.path.string() + ": cannot delete: " + std::strerror(errno));
    else
      index_.note_removed(h.path.filename().string());
  }
  hidden_.clear();
  lock_fd_.reset();  // releases the flock
  return status;
}

SyncStatus PdbFolderHandheld::SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle,
                                         std::uint8_t mode) {
  last_error_.clear();
  abandoned_.clear();
  if (card != 0) return fail_no_card(card);
  if ((mode & (kOpenRead | kOpenWrite)) == 0)
    return fail(kHandheldBadMode,
                folder_.string() + ": open mode " + std::to_string(mode) + " asks for neither reading nor writing");
  if (!is_valid_name(name)) return fail_bad_name(name);
  if (auto status = check_folder(); status != kSyncOk) return status;
  if (find_open(name) != nullptr)
    return fail(kHandheldAlreadyOpen, folder_.string() + ": database " + quoted_name(name) + " is already open");
  const auto live = live_files(name);
  if (live.empty()) {
    // A damaged file under the name's own file name is most likely that
    // database: say so instead of calling it absent, so nobody creates a
    // second one beside it.
    const auto own_file = folder_ / database_file_name(name);
    PdbHeader header;
    std::uint16_t count = 0;
    struct stat st {};
    if (::lstat(own_file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      if (const auto read = read_pdb_header_file(own_file, header, count); !read)
        return fail(kHandheldDamaged, read.reason);
    return fail_no_database(name);
  }
  if (open_.size() >= kMaxOpenDatabases)
    return fail(kHandheldTooManyOpen, folder_.string() + ": too many open databases");

  auto db = std::make_unique<OpenDatabase>();
  const auto path = folder_ / live.front().file_name;
  db->is_writable = (mode & kOpenWrite) != 0;
  const auto result = db->is_writable ? read_pdb_file(path, db->db) : db->reader.open(path);
  if (!result) return fail(kHandheldIoError, result.reason);
  db->file = path;
  handle = free_handle();
  open_[handle] = std::move(db);
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncCreateDB(CreateDbRecord& record) {
  last_error_.clear();
  abandoned_.clear();
  const std::string name(record.name.data(), strnlen(record.name.data(), record.name.size()));
  if (name.size() == record.name.size() || !is_valid_name(name)) return fail_bad_name(name);
  if (record.card != 0) return fail_no_card(record.card);
  if ((record.flags & kPdbAttrResource) != 0)
    return fail(kHandheldUnsupported, folder_.string() + ": cannot create resource database " + quoted_name(name));
  if (auto status = check_folder(); status != kSyncOk) return status;
  if (find_open(name) != nullptr)
    return fail(kHandheldExists, folder_.string() + ": database " + quoted_name(name) + " already exists and is open");
  if (const auto live = live_files(name); !live.empty())
    return fail(kHandheldExists,
                (folder_ / live.front().file_name).string() + ": database " + quoted_name(name) + " already exists");
  if (open_.size() >= kMaxOpenDatabases)
    return fail(kHandheldTooManyOpen, folder_.string() + ": too many open databases");

  auto db = std::make_unique<OpenDatabase>();
  const std::uint32_t now = pdb_now();
  db->db.header = PdbHeader{.name = name,
                            .attributes = static_cast<std::uint16_t>(record.flags),
                            .version = record.version,
                            .created = now,
                            .modified = now,
                            .backed_up = 0,
                            .modification_number = 0,
                            .type = record.type,
                            .creator = record.creator,
                            .unique_id_seed = kFirstUniqueId};
  db->is_created = true;
  db->is_writable = true;
  record.handle = free_handle();
  open_[record.handle] = std::move(db);
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncCloseDB(DbHandle handle) {
  last_error_.clear();
  const auto it = open_.find(handle);
  if (it == open_.end()) return fail_not_open(handle);
  // The handle is released whatever happens: on a failed write the file on
  // disk is still the one that was there before.
  const std::unique_ptr<OpenDatabase> db = std::move(it->second);
  open_.erase(it);
  if (db->is_created) return commit_created(*db);
  if (!db->is_modified) return kSyncOk;
  db->db.header.modified = pdb_now();
  ++db->db.header.modification_number;
  if (auto result = write_pdb_file(db->file, db->db); !result) return fail(kHandheldIoError, result.reason);
  note_written(db->file.filename().string(), db->db);
  return kSyncOk;
}

void PdbFolderHandheld::note_written(const std::string& file_name, const PdbDatabase& db) {
  index_.note_written(file_name, db.header, static_cast<std::uint16_t>(db.record_count()));
}

SyncStatus PdbFolderHandheld::commit_created(OpenDatabase& db) {
  const std::string& name = db.db.header.name;
  db.db.header.modified = pdb_now();
  const std::string own_name = database_file_name(name);

  // A database of this name deleted in this session: the new file takes
  // its path in one rename, so the old one stays on disk until the new one
  // is complete.
  auto replaced = hidden_.end();
  for (auto it = hidden_.begin(); it != hidden_.end(); ++it) {
    struct stat st {};
    if (it->name != name || ::lstat(it->path.c_str(), &st) != 0 || st.st_dev != it->device || st.st_ino != it->inode)
      continue;
    if (replaced == hidden_.end() || it->path.filename() == own_name) replaced = it;
  }
  if (replaced != hidden_.end()) {
    if (auto result = write_pdb_file(replaced->path, db.db); !result) {
      // The old database is whole and may be the only copy of its document:
      // it comes back, and the caller's deletion of the failed new one
      // leaves it be.
      hidden_.erase(replaced);
      abandoned_ = name;
      return fail(kHandheldIoError, result.reason);
    }
    note_written(replaced->path.filename().string(), db.db);
    hidden_.erase(replaced);
    return kSyncOk;
  }

  // Never replace a file that is there: an invalid file or another
  // database keeps its name and the new one gets "name~N.pdb".
  const std::string stem = own_name.substr(0, own_name.size() - 4);
  for (int suffix = 0; suffix <= kMaxFileNameSuffix; ++suffix) {
    const std::string file_name = suffix == 0 ? own_name : stem + "~" + std::to_string(suffix) + ".pdb";
    const auto result = write_pdb_file(folder_ / file_name, db.db, PdbWriteMode::create_new, PdbFlush::pending);
    if (result) {
      note_written(file_name, db.db);
      pending_flush_.push_back(folder_ / file_name);
      return kSyncOk;
    }
    if (result.status != PdbStatus::file_exists) return fail(kHandheldIoError, result.reason);
  }
  return fail(kHandheldIoError,
              (folder_ / own_name).string() + ": no free file name for database " + quoted_name(name));
}

SyncStatus PdbFolderHandheld::SyncDeleteDB(std::string_view name, std::uint8_t card) {
  last_error_.clear();
  if (card != 0) return fail_no_card(card);
  if (!is_valid_name(name)) return fail_bad_name(name);
  // The new database whose close failed never reached the folder: deleting
  // it deletes nothing.
  if (!abandoned_.empty() && abandoned_ == name) {
    abandoned_.clear();
    return kSyncOk;
  }
  if (auto status = check_folder(); status != kSyncOk) return status;
  if (find_open(name) != nullptr)
    return fail(kHandheldAlreadyOpen,
                folder_.string() + ": database " + quoted_name(name) + " is open and cannot be deleted");
  const auto live = live_files(name);
  if (live.empty()) return fail_no_database(name);
  // Copies carrying the same name all go, or the next lookup would find one.
  for (const auto& db : live)
    hidden_.push_back(
        HiddenFile{.path = folder_ / db.file_name, .device = db.device, .inode = db.inode, .name = db.header.name});
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncWriteRec(RecordDescriptor& record) {
  last_error_.clear();
  OpenDatabase* open = find_open(record.handle);
  if (open == nullptr) return fail_not_open(record.handle);
  // Built only for a message: this call runs once per record.
  const auto where = [&] { return folder_.string() + ": database " + quoted_name(open->header().name); };
  if (!open->is_writable) return fail(kHandheldBadMode, where() + " is open read-only");
  if (record.size > kPdbMaxRecordBytes)
    return fail(kHandheldBadRecord, where() + ": record of " + std::to_string(record.size) + " bytes is larger than " +
                                        std::to_string(kPdbMaxRecordBytes));
  if (record.size > 0 && record.data == nullptr)
    return fail(kHandheldBadRecord, where() + ": record has a size but no data");
  if (record.category > 0x0F)
    return fail(kHandheldBadRecord, where() + ": category " + std::to_string(record.category) + " is not 0 to 15");
  if (record.record_id > kPdbMaxUniqueId)
    return fail(kHandheldBadRecord, where() + ": record ID " + std::to_string(record.record_id) + " exceeds 24 bits");
  if (open->db.record_count() >= kPdbMaxRecords)
    return fail(kHandheldFull, where() + " already holds " + std::to_string(kPdbMaxRecords) + " records");

  auto& header = open->db.header;
  if (!open->has_used_ids) {
    std::vector<std::uint32_t> ids(open->db.record_count());
    for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = open->db.record(i).unique_id;
    open->used_ids.assign(std::move(ids));
    open->has_used_ids = true;
  }
  std::uint32_t id = record.record_id;
  if (id != 0 && open->used_ids.contains(id))
    return fail(kHandheldBadRecord, where() + ": record ID " + std::to_string(id) + " is in use");
  if (id == 0) {
    // Fewer than 2^16 records can never use up 2^24 IDs, so this ends.
    id = header.unique_id_seed == 0 || header.unique_id_seed > kPdbMaxUniqueId ? kFirstUniqueId : header.unique_id_seed;
    while (open->used_ids.contains(id)) id = next_unique_id(id);
  }
  const bool appended =
      open->db.append_record(PdbRecordView{.data = std::span<const std::uint8_t>(record.data, record.size),
                                           .attributes = static_cast<std::uint8_t>(record.attributes & 0xF0),
                                           .category = static_cast<std::uint8_t>(record.category),
                                           .unique_id = id});
  if (!appended) return fail(kHandheldFull, where() + " would not fit a 4 GB file");
  open->used_ids.insert(id);
  if (id >= header.unique_id_seed) header.unique_id_seed = next_unique_id(id);
  open->is_modified = true;
  record.record_id = id;
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncReadRecordByIndex(RecordDescriptor& record) {
  last_error_.clear();
  const OpenDatabase* open = find_open(record.handle);
  if (open == nullptr) return fail_not_open(record.handle);
  if (record.index >= open->record_count())
    return fail(kHandheldNoRecord, folder_.string() + ": database " + quoted_name(open->header().name) +
                                       " has no record " + std::to_string(record.index));
  const PdbRecordEntry entry = open->entry(record.index);
  const std::size_t n = std::min<std::size_t>(entry.size_bytes, record.buffer_size);
  if (n > 0 && record.data != nullptr)
    if (auto copied = open->copy_record(record.index, std::span(record.data, n)); !copied)
      return fail(kHandheldIoError, copied.reason);
  record.size = entry.size_bytes;
  record.attributes = entry.attributes;
  record.category = entry.category;
  record.record_id = entry.unique_id;
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncFindDbByName(const FindDbRequest& request, DbInfo& found) {
  last_error_.clear();
  if (auto status = check_folder(); status != kSyncOk) return status;
  if (const OpenDatabase* open = find_open(request.name); open != nullptr) {
    found = db_info_from(open->header(), open->record_count());
    return kSyncOk;
  }
  const auto live = live_files(request.name);
  if (live.empty()) return fail_no_database(request.name);
  found = db_info_from(live.front().header, live.front().record_count);
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncReadSingleCardInfo(CardInfo& info) {
  last_error_.clear();
  if (info.card != 0) return fail_no_card(info.card);
  if (auto status = check_folder(); status != kSyncOk) return status;
  const auto conf = read_handheld_conf(folder_ / kHandheldConfName);
  if (!conf.error.empty()) return fail(kHandheldBadConf, conf.error);
  index_.refresh();
  const std::uint64_t used_bytes = index_.total_bytes();
  info.rom_bytes = 0;
  info.ram_bytes = clamp_to_u32(conf.memory_bytes);
  info.free_bytes = clamp_to_u32(conf.memory_bytes > used_bytes ? conf.memory_bytes - used_bytes : 0);
  info.card_name = "PDB folder";
  info.manufacturer = "Vellora";
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) {
  last_error_.clear();
  const OpenDatabase* open = find_open(handle);
  if (open == nullptr) return fail_not_open(handle);
  count = static_cast<std::uint16_t>(open->record_count());
  return kSyncOk;
}

SyncStatus PdbFolderHandheld::SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) {
  last_error_.clear();
  const OpenDatabase* open = find_open(handle);
  if (open == nullptr) return fail_not_open(handle);
  info = db_info_from(open->header(), open->record_count());
  return kSyncOk;
}

}  // namespace vellora::linux_host
