// The stand-in's PDB folder: each call reads or writes whole files, which
// is plenty for test sessions of a few documents.
#include "tests/hosts/windows/wine/pdb_folder_store.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "docmodel/pdb_format.h"

namespace vellora::stand_in {

namespace {

constexpr std::uint64_t kDefaultMemoryBytes = 8388608;
constexpr ConduitHandle kSessionHandle = 1;

bool read_file(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool is_valid_name(std::string_view name) {
  return !name.empty() && name.size() <= kPdbMaxNameBytes && name.find('\0') == std::string_view::npos;
}

}  // namespace

std::vector<std::uint8_t> serialize(const StoredDatabase& db) {
  PdbDatabase pdb;
  pdb.header = pdb_header_from(db.info, db.unique_id_seed);
  for (const auto& record : db.records)
    (void)pdb.append_record(PdbRecordView{.data = record.data,
                                          .attributes = record.attributes,
                                          .category = record.category,
                                          .unique_id = record.unique_id});
  return serialize_pdb(pdb);
}

bool parse(const std::vector<std::uint8_t>& bytes, StoredDatabase& out) {
  PdbDatabase pdb;
  // Info blocks have no place here and would be lost on the next write.
  if (!parse_pdb(bytes, pdb) || !pdb.app_info.empty() || !pdb.sort_info.empty()) return false;
  out = StoredDatabase{};
  out.info = db_info_from(pdb.header, pdb.record_count());
  out.unique_id_seed = pdb.header.unique_id_seed;
  for (std::size_t i = 0; i < pdb.record_count(); ++i) {
    const PdbRecordView record = pdb.record(i);
    out.records.push_back(StoredRecord{.data = {record.data.begin(), record.data.end()},
                                       .attributes = record.attributes,
                                       .category = record.category,
                                       .unique_id = record.unique_id});
  }
  return true;
}

PdbFolderStore::PdbFolderStore(std::filesystem::path folder, std::uint32_t (*now)())
    : folder_(std::move(folder)), now_(now) {}

std::filesystem::path PdbFolderStore::find_file(std::string_view name, StoredDatabase* db) const {
  // The name's own file first, then every other file in name order, as the
  // Linux host prefers them.
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, error))
    if (entry.path().extension() == ".pdb") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  const auto own = folder_ / database_file_name(name);
  std::stable_partition(files.begin(), files.end(), [&](const auto& f) { return f == own; });
  for (const auto& file : files) {
    std::vector<std::uint8_t> bytes;
    StoredDatabase parsed;
    if (!read_file(file, bytes) || !parse(bytes, parsed) || parsed.info.name != name) continue;
    if (db != nullptr) *db = std::move(parsed);
    return file;
  }
  return {};
}

SyncStatus PdbFolderStore::SyncRegisterConduit(ConduitHandle& handle) {
  handle = kSessionHandle;
  return std::filesystem::is_directory(folder_) ? kSyncOk : kStoreIoError;
}

SyncStatus PdbFolderStore::SyncUnRegisterConduit(ConduitHandle) {
  open_.clear();
  return kSyncOk;
}

SyncStatus PdbFolderStore::SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle, std::uint8_t) {
  if (card != 0 || !is_valid_name(name)) return kStoreBadName;
  Open open;
  open.file = find_file(name, &open.db);
  if (open.file.empty()) return kSyncErrNotFound;
  handle = next_handle_++;
  open_[handle] = std::move(open);
  return kSyncOk;
}

SyncStatus PdbFolderStore::SyncCreateDB(CreateDbRecord& record) {
  const std::string name(record.name.data(), strnlen(record.name.data(), record.name.size()));
  if (!is_valid_name(name) || record.card != 0) return kStoreBadName;
  if (!find_file(name).empty()) return kStoreExists;
  Open open;
  const std::uint32_t now = now_();
  open.db.info = DbInfo{.flags = static_cast<std::uint16_t>(record.flags),
                        .version = record.version,
                        .type = record.type,
                        .creator = record.creator,
                        .modification_number = 0,
                        .created = now,
                        .modified = now,
                        .backed_up = 0,
                        .record_count = 0,
                        .card = 0,
                        .name = name};
  open.is_modified = true;
  record.handle = next_handle_++;
  open_[record.handle] = std::move(open);
  return kSyncOk;
}

SyncStatus PdbFolderStore::SyncCloseDB(DbHandle handle) {
  const auto it = open_.find(handle);
  if (it == open_.end()) return kStoreBadHandle;
  Open open = std::move(it->second);
  open_.erase(it);
  if (!open.is_modified) return kSyncOk;
  open.db.info.modified = now_();
  if (open.file.empty()) {
    open.file = folder_ / database_file_name(open.db.info.name);
  } else {
    ++open.db.info.modification_number;
  }
  const auto bytes = serialize(open.db);
  auto temp = open.file;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) return kStoreIoError;
  }
  std::error_code error;
  std::filesystem::rename(temp, open.file, error);
  return error ? kStoreIoError : kSyncOk;
}

SyncStatus PdbFolderStore::SyncDeleteDB(std::string_view name, std::uint8_t card) {
  if (card != 0 || !is_valid_name(name)) return kStoreBadName;
  const auto file = find_file(name);
  if (file.empty()) return kSyncErrNotFound;
  std::error_code error;
  std::filesystem::remove(file, error);
  return error ? kStoreIoError : kSyncOk;
}

SyncStatus PdbFolderStore::SyncWriteRec(RecordDescriptor& record) {
  const auto it = open_.find(record.handle);
  if (it == open_.end()) return kStoreBadHandle;
  if (record.category > 0x0F || (record.size > 0 && record.data == nullptr) || record.size > 0xFFFF)
    return kStoreBadRecord;
  StoredDatabase& db = it->second.db;
  const auto is_used = [&](std::uint32_t id) {
    return std::any_of(db.records.begin(), db.records.end(), [&](const StoredRecord& r) { return r.unique_id == id; });
  };
  std::uint32_t id = record.record_id;
  if (id != 0 && is_used(id)) return kStoreBadRecord;
  if (id == 0) {
    id = db.unique_id_seed == 0 || db.unique_id_seed > 0xFFFFFF ? 1 : db.unique_id_seed;
    while (is_used(id)) id = id >= 0xFFFFFF ? 1 : id + 1;
  }
  db.records.push_back(StoredRecord{.data = std::vector<std::uint8_t>(record.data, record.data + record.size),
                                    .attributes = static_cast<std::uint8_t>(record.attributes & 0xF0),
                                    .category = static_cast<std::uint8_t>(record.category),
                                    .unique_id = id});
  if (id >= db.unique_id_seed) db.unique_id_seed = id >= 0xFFFFFF ? 1 : id + 1;
  it->second.is_modified = true;
  record.record_id = id;
  return kSyncOk;
}

SyncStatus PdbFolderStore::SyncReadRecordByIndex(RecordDescriptor& record) {
  const auto it = open_.find(record.handle);
  if (it == open_.end()) return kStoreBadHandle;
  const auto& records = it->second.db.records;
  if (record.index >= records.size()) return kStoreNoRecord;
  const StoredRecord& stored = records[record.index];
  const std::size_t n = std::min<std::size_t>(stored.data.size(), record.buffer_size);
  if (n > 0 && record.data != nullptr) std::memcpy(record.data, stored.data.data(), n);
  record.size = static_cast<std::uint32_t>(stored.data.size());
  record.attributes = stored.attributes;
  record.category = stored.category;
  record.record_id = stored.unique_id;
  return kSyncOk;
}

SyncStatus PdbFolderStore::SyncFindDbByName(const FindDbRequest& request, DbInfo& found) {
  for (const auto& [handle, open] : open_)
    if (open.db.info.name == request.name) {
      found = open.db.info;
      found.record_count = static_cast<std::uint16_t>(open.db.records.size());
      return kSyncOk;
    }
  StoredDatabase db;
  if (find_file(request.name, &db).empty()) return kSyncErrNotFound;
  found = db.info;
  return kSyncOk;
}

SyncStatus PdbFolderStore::SyncReadSingleCardInfo(CardInfo& info) {
  if (info.card != 0) return kStoreBadName;
  std::uint64_t memory_bytes = kDefaultMemoryBytes;
  if (std::ifstream conf(folder_ / "handheld.conf"); conf) {
    std::string line;
    while (std::getline(conf, line)) {
      unsigned long long value = 0;
      if (std::sscanf(line.c_str(), " memory = %llu", &value) == 1) memory_bytes = value;
    }
  }
  std::uint64_t used_bytes = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, error))
    if (entry.path().extension() == ".pdb") used_bytes += entry.file_size(error);
  const auto clamp = [](std::uint64_t v) { return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFF)); };
  info.rom_bytes = 0;
  info.ram_bytes = clamp(memory_bytes);
  info.free_bytes = clamp(memory_bytes > used_bytes ? memory_bytes - used_bytes : 0);
  info.card_name = "PDB folder";
  info.manufacturer = "Vellora";
  return kSyncOk;
}

SyncStatus PdbFolderStore::SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) {
  const auto it = open_.find(handle);
  if (it == open_.end()) return kStoreBadHandle;
  count = static_cast<std::uint16_t>(it->second.db.records.size());
  return kSyncOk;
}

SyncStatus PdbFolderStore::SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) {
  const auto it = open_.find(handle);
  if (it == open_.end()) return kStoreBadHandle;
  info = it->second.db.info;
  info.record_count = static_cast<std::uint16_t>(it->second.db.records.size());
  return kSyncOk;
}

}  // namespace vellora::stand_in
