// The stand-in's PDB folder: each call reads or writes whole files, which
// is plenty for test sessions of a few documents.
#include "tests/hosts/windows/wine/pdb_folder_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vellora::stand_in {

namespace {

constexpr std::size_t kHeaderBytes = 78;
constexpr std::size_t kEntryBytes = 8;
constexpr std::size_t kNameBytes = 32;
constexpr std::uint64_t kDefaultMemoryBytes = 8388608;
constexpr ConduitHandle kSessionHandle = 1;

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v >> 8);
  out[at + 1] = static_cast<std::uint8_t>(v);
}
void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  put16(out, at, v >> 16);
  put16(out, at + 2, v & 0xFFFF);
}
std::uint32_t get16(const std::vector<std::uint8_t>& in, std::size_t at) {
  return static_cast<std::uint32_t>(in[at] << 8 | in[at + 1]);
}
std::uint32_t get32(const std::vector<std::uint8_t>& in, std::size_t at) {
  return get16(in, at) << 16 | get16(in, at + 2);
}

bool read_file(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool is_valid_name(std::string_view name) {
  return !name.empty() && name.size() < kNameBytes && name.find('\0') == std::string_view::npos;
}

}  // namespace

std::string pdb_file_name(std::string_view database_name) {
  std::string out;
  for (std::size_t i = 0; i < database_name.size(); ++i) {
    const auto c = static_cast<unsigned char>(database_name[i]);
    if (c < 0x20 || c > 0x7E || c == '/' || c == '\\' || c == '%' || (i == 0 && c == '.')) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ".pdb";
}

std::vector<std::uint8_t> serialize(const StoredDatabase& db) {
  const std::size_t list_end = kHeaderBytes + kEntryBytes * db.records.size() + 2;
  std::size_t size = list_end;
  for (const auto& r : db.records) size += r.data.size();
  std::vector<std::uint8_t> out(size, 0);
  std::memcpy(out.data(), db.info.name.data(), std::min(db.info.name.size(), kNameBytes - 1));
  put16(out, 32, db.info.flags);
  put16(out, 34, db.info.version);
  put32(out, 36, db.info.created);
  put32(out, 40, db.info.modified);
  put32(out, 44, db.info.backed_up);
  put32(out, 48, db.info.modification_number);
  put32(out, 60, db.info.type);
  put32(out, 64, db.info.creator);
  put32(out, 68, db.unique_id_seed);
  put16(out, 76, static_cast<std::uint32_t>(db.records.size()));
  std::size_t offset = list_end;
  for (std::size_t i = 0; i < db.records.size(); ++i) {
    const auto& r = db.records[i];
    const std::size_t entry = kHeaderBytes + kEntryBytes * i;
    put32(out, entry, static_cast<std::uint32_t>(offset));
    put32(out, entry + 4,
          static_cast<std::uint32_t>((r.attributes & 0xF0) | (r.category & 0x0F)) << 24 | (r.unique_id & 0xFFFFFF));
    std::copy(r.data.begin(), r.data.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
    offset += r.data.size();
  }
  return out;
}

bool parse(const std::vector<std::uint8_t>& bytes, StoredDatabase& out) {
  if (bytes.size() < kHeaderBytes) return false;
  const auto name_end = std::find(bytes.begin(), bytes.begin() + kNameBytes, 0);
  if (name_end == bytes.begin() || name_end == bytes.begin() + kNameBytes) return false;
  const std::uint32_t flags = get16(bytes, 32);
  if ((flags & 0x0001) != 0 || get32(bytes, 52) != 0 || get32(bytes, 56) != 0) return false;
  const std::size_t count = get16(bytes, 76);
  if (bytes.size() < kHeaderBytes + kEntryBytes * count) return false;
  out = StoredDatabase{};
  out.info.name.assign(bytes.begin(), name_end);
  out.info.flags = static_cast<std::uint16_t>(flags);
  out.info.version = static_cast<std::uint16_t>(get16(bytes, 34));
  out.info.created = get32(bytes, 36);
  out.info.modified = get32(bytes, 40);
  out.info.backed_up = get32(bytes, 44);
  out.info.modification_number = get32(bytes, 48);
  out.info.type = get32(bytes, 60);
  out.info.creator = get32(bytes, 64);
  out.unique_id_seed = get32(bytes, 68);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = kHeaderBytes + kEntryBytes * i;
    const std::size_t begin = get32(bytes, entry);
    const std::size_t end = i + 1 < count ? get32(bytes, entry + kEntryBytes) : bytes.size();
    if (begin > end || end > bytes.size()) return false;
    const std::uint32_t attribute_id = get32(bytes, entry + 4);
    out.records.push_back(
        StoredRecord{.data = std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                                                       bytes.begin() + static_cast<std::ptrdiff_t>(end)),
                     .attributes = static_cast<std::uint8_t>((attribute_id >> 24) & 0xF0),
                     .category = static_cast<std::uint8_t>((attribute_id >> 24) & 0x0F),
                     .unique_id = attribute_id & 0xFFFFFF});
  }
  out.info.record_count = static_cast<std::uint16_t>(count);
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
  const auto own = folder_ / pdb_file_name(name);
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
    open.file = folder_ / pdb_file_name(open.db.info.name);
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
