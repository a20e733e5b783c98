// FakeStore: the card behind the fake handheld. Databases come from and go
// to .pdb files through the project's PDB codec; a resource database is
// kept as its file's bytes, with only its header read.
#include "tests/support/fake_handheld/fake_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <system_error>

#include "base/ascii.h"
#include "docmodel/pdb_format.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "hosts/linux/posix_io.h"

namespace vellora::testing {

namespace fs = std::filesystem;

namespace {

bool has_pdb_extension(std::string_view name) {
  return name.size() > 4 && equals_ignoring_case(name.substr(name.size() - 4), ".pdb");
}

bool read_whole_file(const fs::path& path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

CardDatabase from_pdb(const PdbDatabase& pdb) {
  const auto& h = pdb.header;
  CardDatabase db;
  db.name = h.name;
  db.flags = h.attributes;
  db.type = h.type;
  db.creator = h.creator;
  db.version = h.version;
  db.modification_number = h.modification_number;
  db.created = h.created;
  db.modified = h.modified;
  db.backed_up = h.backed_up;
  db.unique_id_seed = h.unique_id_seed;
  db.app_info = pdb.app_info;
  db.sort_info = pdb.sort_info;
  db.records.reserve(pdb.record_count());
  for (std::size_t i = 0; i < pdb.record_count(); ++i) {
    const auto record = pdb.record(i);
    db.records.push_back(CardRecord{.unique_id = record.unique_id,
                                    .attributes = record.attributes,
                                    .category = record.category,
                                    .data = {record.data.begin(), record.data.end()}});
  }
  return db;
}

// A resource database: its header's fields and the file as it is.
bool from_resource_file(std::vector<std::uint8_t> bytes, CardDatabase& db) {
  PdbHeader header;
  std::uint16_t count = 0;
  if (!decode_pdb_header(bytes, header, count)) return false;
  db = CardDatabase{};
  db.name = std::move(header.name);
  db.flags = header.attributes;
  db.type = header.type;
  db.creator = header.creator;
  db.version = header.version;
  db.modification_number = header.modification_number;
  db.created = header.created;
  db.modified = header.modified;
  db.backed_up = header.backed_up;
  db.opaque_count = count;
  db.opaque_file = std::move(bytes);
  return true;
}

PdbDatabase to_pdb(const CardDatabase& db) {
  PdbDatabase pdb;
  pdb.header = PdbHeader{.name = db.name,
                         .attributes = static_cast<std::uint16_t>(db.flags & ~kDbFlagOpen),
                         .version = db.version,
                         .created = db.created,
                         .modified = db.modified,
                         .backed_up = db.backed_up,
                         .modification_number = db.modification_number,
                         .type = db.type,
                         .creator = db.creator,
                         .unique_id_seed = db.unique_id_seed};
  pdb.app_info = db.app_info;
  pdb.sort_info = db.sort_info;
  std::size_t data_bytes = 0;
  for (const auto& record : db.records) data_bytes += record.data.size();
  pdb.reserve(db.records.size(), data_bytes);
  for (const auto& record : db.records)
    (void)pdb.append_record(PdbRecordView{.data = record.data,
                                          .attributes = static_cast<std::uint8_t>(record.attributes & 0xF0),
                                          .category = static_cast<std::uint8_t>(record.category & 0x0F),
                                          .unique_id = record.unique_id});
  return pdb;
}

bool write_opaque(const fs::path& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
  const std::array<std::span<const std::uint8_t>, 1> parts{std::span<const std::uint8_t>(bytes)};
  const auto written =
      linux_host::write_file_atomically(path, linux_host::kPdbTempPrefix, parts, linux_host::RenameMode::replace,
                                        /*flushes_now=*/true);
  if (!written) error = path.string() + ": cannot write: " + std::strerror(written.error);
  return static_cast<bool>(written);
}

// True when `path` holds a database, record or resource.
bool holds_database(const fs::path& path) {
  PdbHeader header;
  std::uint16_t count = 0;
  const auto read = linux_host::read_pdb_header_file(path, header, count);
  return read || read.status == PdbStatus::resource_database;
}

}  // namespace

std::uint64_t CardDatabase::file_bytes() const {
  if (is_opaque()) return opaque_file.size();
  std::uint64_t content = app_info.size() + sort_info.size();
  for (const auto& record : records) content += record.data.size();
  return pdb_file_bytes(records.size(), content);
}

CardRecord* CardDatabase::find_record(std::uint32_t unique_id) {
  const auto it = std::find_if(records.begin(), records.end(),
                               [&](const CardRecord& record) { return record.unique_id == unique_id; });
  return it == records.end() ? nullptr : &*it;
}

bool FakeStore::seed(const fs::path& folder, std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    error = folder.string() + ": not a folder";
    return false;
  }
  const auto conf = linux_host::read_handheld_conf(folder / linux_host::kHandheldConfName);
  if (!conf.error.empty()) {
    error = conf.error;
    return false;
  }
  memory_bytes_ = conf.memory_bytes;

  // Regular files only: the folder handheld passes symbolic links over.
  std::vector<std::string> file_names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file_name = it->path().filename().string();
    std::error_code status_error;
    if (has_pdb_extension(file_name) && it->symlink_status(status_error).type() == fs::file_type::regular)
      file_names.push_back(file_name);
  }
  if (ec) {
    error = folder.string() + ": cannot list: " + ec.message();
    return false;
  }
  std::sort(file_names.begin(), file_names.end());

  struct Seeded {
    std::string file_name;
    CardDatabase db;
  };
  std::vector<Seeded> seeded;  // in file-name order
  for (const auto& file_name : file_names) {
    std::vector<std::uint8_t> bytes;
    if (!read_whole_file(folder / file_name, bytes)) {
      error = (folder / file_name).string() + ": cannot read";
      return false;
    }
    const std::uint64_t size = bytes.size();
    CardDatabase db;
    PdbDatabase pdb;
    const auto parsed = parse_pdb(bytes, pdb);
    if (parsed) {
      db = from_pdb(pdb);
    } else if (parsed.status != PdbStatus::resource_database || !from_resource_file(std::move(bytes), db)) {
      unlisted_bytes_ += size;
      continue;
    }
    db.stored_bytes = size;
    // Of two files carrying one name, the name's own file wins, then the
    // first in file-name order, as on the folder handheld.
    const auto same = std::find_if(seeded.begin(), seeded.end(), [&](const Seeded& s) { return s.db.name == db.name; });
    if (same == seeded.end()) {
      seeded.push_back(Seeded{file_name, std::move(db)});
    } else if (file_name == database_file_name(db.name)) {
      unlisted_bytes_ += same->db.stored_bytes;
      *same = Seeded{file_name, std::move(db)};
    } else {
      unlisted_bytes_ += size;
    }
  }
  for (auto& s : seeded) add(std::move(s.db));
  return true;
}

bool FakeStore::dump(const fs::path& folder, std::string& error) const {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    error = folder.string() + ": cannot make the folder: " + ec.message();
    return false;
  }
  std::set<std::string> written;
  for (const auto& db : databases_) {
    const std::string file_name = database_file_name(db->name);
    const fs::path path = folder / file_name;
    if (db->is_opaque()) {
      if (!write_opaque(path, db->opaque_file, error)) return false;
    } else if (const auto result = linux_host::write_pdb_file(path, to_pdb(*db)); !result) {
      error = result.reason;
      return false;
    }
    written.insert(file_name);
  }
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file_name = it->path().filename().string();
    std::error_code status_error;
    if (has_pdb_extension(file_name) && !written.contains(file_name) &&
        it->symlink_status(status_error).type() == fs::file_type::regular && holds_database(it->path()))
      stale.push_back(it->path());
  }
  if (ec) {
    error = folder.string() + ": cannot list: " + ec.message();
    return false;
  }
  for (const auto& path : stale) {
    if (!fs::remove(path, ec) && ec) {
      error = path.string() + ": cannot remove: " + ec.message();
      return false;
    }
  }
  const fs::path conf = folder / linux_host::kHandheldConfName;
  if (!fs::exists(conf, ec)) {
    const std::string text = "memory = " + std::to_string(memory_bytes_) + "\n";
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (!write_opaque(conf, bytes, error)) return false;
  }
  return true;
}

std::uint64_t FakeStore::free_bytes() const {
  std::uint64_t used = unlisted_bytes_;
  for (const auto& db : databases_) used += db->stored_bytes;
  for (const auto& file : deleted_) used += file.bytes;
  return memory_bytes_ > used ? memory_bytes_ - used : 0;
}

std::int64_t FakeStore::live_free_bytes() const {
  std::uint64_t used = unlisted_bytes_;
  for (const auto& db : databases_) used += db->has_unstored_changes ? db->file_bytes() : db->stored_bytes;
  for (const auto& file : deleted_) used += file.bytes;
  constexpr auto kMost = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return static_cast<std::int64_t>(std::min(memory_bytes_, kMost)) - static_cast<std::int64_t>(std::min(used, kMost));
}

CardDatabase* FakeStore::find(std::string_view name) {
  const auto it = std::find_if(databases_.begin(), databases_.end(), [&](const auto& db) { return db->name == name; });
  return it == databases_.end() ? nullptr : it->get();
}

const CardDatabase* FakeStore::find(std::string_view name) const { return const_cast<FakeStore*>(this)->find(name); }

std::size_t FakeStore::index_of(const CardDatabase& db) const {
  const auto it = std::find_if(databases_.begin(), databases_.end(), [&](const auto& d) { return d.get() == &db; });
  return static_cast<std::size_t>(it - databases_.begin());
}

CardDatabase& FakeStore::add(CardDatabase db) {
  db.local_id = next_local_id_++;
  databases_.push_back(std::make_unique<CardDatabase>(std::move(db)));
  return *databases_.back();
}

void FakeStore::remove(std::string_view name) {
  const auto it = std::find_if(databases_.begin(), databases_.end(), [&](const auto& db) { return db->name == name; });
  if (it == databases_.end()) return;
  if ((*it)->stored_bytes > 0) deleted_.push_back(DeletedFile{(*it)->name, (*it)->stored_bytes});
  databases_.erase(it);
}

void FakeStore::note_closed(CardDatabase& db) {
  if (!db.has_unstored_changes) return;
  const bool is_new = db.stored_bytes == 0;
  db.stored_bytes = db.file_bytes();
  db.has_unstored_changes = false;
  // A new database takes the file of a deleted one of its name.
  if (is_new) std::erase_if(deleted_, [&](const DeletedFile& file) { return file.name == db.name; });
}

void FakeStore::end_session() { deleted_.clear(); }

}  // namespace vellora::testing
