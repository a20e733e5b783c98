// PDB encode/decode, the record-by-record reader and the atomic file
// writer. The parser first checks the layout (header, record list, every
// offset against the file size) without touching record data, then copies
// the data; lookups and PdbReader use the first step alone, so scanning a
// folder reads only a few hundred bytes per file and reading a database
// holds one record at a time.
#include "hosts/linux/pdb_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

#include "base/byte_order.h"
#include "base/files.h"

namespace vellora::posix {

namespace {

// Header field offsets.
constexpr std::size_t kNameAt = 0;
constexpr std::size_t kAttributesAt = 32;
constexpr std::size_t kVersionAt = 34;
constexpr std::size_t kCreatedAt = 36;
constexpr std::size_t kModifiedAt = 40;
constexpr std::size_t kBackedUpAt = 44;
constexpr std::size_t kModificationNumberAt = 48;
constexpr std::size_t kAppInfoAt = 52;
constexpr std::size_t kSortInfoAt = 56;
constexpr std::size_t kTypeAt = 60;
constexpr std::size_t kCreatorAt = 64;
constexpr std::size_t kSeedAt = 68;
constexpr std::size_t kCountAt = 76;
constexpr std::size_t kPadBytes = 2;  // the zero bytes after the record list
constexpr std::uint64_t kMaxFileBytes = std::numeric_limits<std::uint32_t>::max();

PdbResult failure(PdbStatus status, std::size_t offset, std::string reason) {
  return PdbResult{.status = status, .offset = offset, .reason = std::move(reason)};
}

std::string num(std::uint64_t value) { return std::to_string(value); }

// Where a block of the file lies; begin == end for an empty or absent one.
struct Extent {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

struct Layout {
  PdbHeader header;
  std::uint16_t record_count = 0;
  Extent app_info;
  Extent sort_info;
  std::vector<Extent> records;
};

// Checks an app-info or sort-info offset; 0 means the block is absent.
PdbResult check_info_offset(std::uint32_t offset, std::size_t field_at, std::string_view what,
                            std::uint64_t list_end, std::uint64_t file_bytes) {
  if (offset == 0) return {};
  if (offset > file_bytes)
    return failure(PdbStatus::bad_offset, field_at,
                   std::string(what) + " offset " + num(offset) + " beyond end of file (" +
                       num(file_bytes) + " bytes)");
  if (offset < list_end)
    return failure(PdbStatus::bad_offset, field_at,
                   std::string(what) + " offset " + num(offset) +
                       " inside the header or record list (ends at " + num(list_end) + ")");
  return {};
}

// An info block runs to the first record at or after it, the other info
// block if that starts later, or the end of file, whichever comes first.
Extent info_extent(std::uint32_t begin, std::uint32_t other_begin,
                   const std::vector<Extent>& records, std::uint64_t file_bytes) {
  if (begin == 0) return {};
  auto end = static_cast<std::uint32_t>(file_bytes);
  const auto first_after =
      std::lower_bound(records.begin(), records.end(), begin,
                       [](const Extent& record, std::uint32_t at) { return record.begin < at; });
  if (first_after != records.end()) end = std::min(end, first_after->begin);
  if (other_begin > begin) end = std::min(end, other_begin);
  return Extent{.begin = begin, .end = end};
}

PdbResult check_layout(std::span<const std::uint8_t> prefix, std::uint64_t file_bytes,
                       Layout& out) {
  if (file_bytes < kPdbHeaderBytes || prefix.size() < kPdbHeaderBytes)
    return failure(PdbStatus::truncated, std::min<std::uint64_t>(file_bytes, prefix.size()),
                   "header is " + num(std::min<std::uint64_t>(file_bytes, prefix.size())) +
                       " bytes, needs " + num(kPdbHeaderBytes));
  if (file_bytes > kMaxFileBytes)
    return failure(PdbStatus::too_large, 0,
                   "file is " + num(file_bytes) + " bytes, more than a database can hold");

  const auto* name_begin = prefix.data() + kNameAt;
  const auto* name_end = std::find(name_begin, name_begin + kPdbNameFieldBytes, 0);
  if (name_end == name_begin + kPdbNameFieldBytes)
    return failure(PdbStatus::bad_name, kNameAt, "name field has no terminating zero");
  if (name_end == name_begin) return failure(PdbStatus::bad_name, kNameAt, "name is empty");

  auto& h = out.header;
  h.name.assign(name_begin, name_end);
  h.attributes = get_be16(prefix.data() + kAttributesAt);
  if ((h.attributes & kPdbAttrResource) != 0)
    return failure(PdbStatus::resource_database, kAttributesAt,
                   "is a resource database, not a record database");
  h.version = get_be16(prefix.data() + kVersionAt);
  h.created = get_be32(prefix.data() + kCreatedAt);
  h.modified = get_be32(prefix.data() + kModifiedAt);
  h.backed_up = get_be32(prefix.data() + kBackedUpAt);
  h.modification_number = get_be32(prefix.data() + kModificationNumberAt);
  h.type = get_be32(prefix.data() + kTypeAt);
  h.creator = get_be32(prefix.data() + kCreatorAt);
  h.unique_id_seed = get_be32(prefix.data() + kSeedAt);
  // The next-record-list field (byte 72) only has meaning in handheld
  // memory; files carry 0 there and anything else is ignored.
  out.record_count = get_be16(prefix.data() + kCountAt);

  const std::uint64_t list_end =
      kPdbHeaderBytes + std::uint64_t{out.record_count} * kPdbRecordEntryBytes;
  if (file_bytes < list_end || prefix.size() < list_end)
    return failure(PdbStatus::truncated, kCountAt,
                   "record list of " + num(out.record_count) + " entries needs " + num(list_end) +
                       " bytes, file has " +
                       num(std::min<std::uint64_t>(file_bytes, prefix.size())));

  const std::uint32_t app_at = get_be32(prefix.data() + kAppInfoAt);
  const std::uint32_t sort_at = get_be32(prefix.data() + kSortInfoAt);
  if (auto r = check_info_offset(app_at, kAppInfoAt, "app-info", list_end, file_bytes); !r)
    return r;
  if (auto r = check_info_offset(sort_at, kSortInfoAt, "sort-info", list_end, file_bytes); !r)
    return r;

  out.records.assign(out.record_count, Extent{});
  for (std::size_t i = 0; i < out.record_count; ++i) {
    const std::size_t entry_at = kPdbHeaderBytes + i * kPdbRecordEntryBytes;
    const std::uint32_t begin = get_be32(prefix.data() + entry_at);
    if (begin > file_bytes)
      return failure(PdbStatus::bad_offset, entry_at,
                     "record " + num(i) + " offset " + num(begin) + " beyond end of file (" +
                         num(file_bytes) + " bytes)");
    if (begin < list_end)
      return failure(PdbStatus::bad_offset, entry_at,
                     "record " + num(i) + " offset " + num(begin) +
                         " inside the header or record list (ends at " + num(list_end) + ")");
    if (i > 0 && begin < out.records[i - 1].begin)
      return failure(PdbStatus::offsets_decrease, entry_at,
                     "record offsets decrease at record " + num(i));
    out.records[i].begin = begin;
  }

  for (std::size_t i = 0; i < out.record_count; ++i) {
    auto& record = out.records[i];
    record.end = i + 1 < out.record_count ? out.records[i + 1].begin
                                          : static_cast<std::uint32_t>(file_bytes);
    for (const std::uint32_t info_at : {app_at, sort_at})
      if (info_at > record.begin && info_at < record.end) record.end = info_at;
    if (record.end - record.begin > kPdbMaxRecordBytes)
      return failure(PdbStatus::record_too_large, record.begin,
                     "record " + num(i) + " is " + num(record.end - record.begin) +
                         " bytes, more than " + num(kPdbMaxRecordBytes));
  }
  out.app_info = info_extent(app_at, sort_at, out.records, file_bytes);
  out.sort_info = info_extent(sort_at, app_at, out.records, file_bytes);
  return {};
}

PdbResult check_writable(const PdbDatabase& db) {
  const auto& name = db.header.name;
  if (name.empty() || name.size() > kPdbMaxNameBytes || name.find('\0') != std::string::npos)
    return failure(PdbStatus::bad_name, kNameAt,
                   "name must be 1 to " + num(kPdbMaxNameBytes) + " bytes without a zero byte");
  if ((db.header.attributes & kPdbAttrResource) != 0)
    return failure(PdbStatus::resource_database, kAttributesAt,
                   "resource databases cannot be written");
  const std::uint64_t total = kPdbHeaderBytes + db.record_count() * kPdbRecordEntryBytes +
                              kPadBytes + db.app_info.size() + db.sort_info.size() +
                              db.record_data().size();
  if (total > kMaxFileBytes)
    return failure(PdbStatus::too_large, 0,
                   "database of " + num(total) + " bytes does not fit the file format");
  return {};
}

// Header, record list and pad; the caller has checked the database.
std::vector<std::uint8_t> serialize_prefix(const PdbDatabase& db) {
  const std::size_t count = db.record_count();
  const std::size_t list_end = kPdbHeaderBytes + count * kPdbRecordEntryBytes;
  std::vector<std::uint8_t> out(list_end + kPadBytes, 0);
  const auto& h = db.header;
  std::copy(h.name.begin(), h.name.end(), out.begin() + kNameAt);
  put_be16(out.data() + kAttributesAt, h.attributes);
  put_be16(out.data() + kVersionAt, h.version);
  put_be32(out.data() + kCreatedAt, h.created);
  put_be32(out.data() + kModifiedAt, h.modified);
  put_be32(out.data() + kBackedUpAt, h.backed_up);
  put_be32(out.data() + kModificationNumberAt, h.modification_number);
  auto next_at = static_cast<std::uint32_t>(out.size());
  if (!db.app_info.empty()) {
    put_be32(out.data() + kAppInfoAt, next_at);
    next_at += static_cast<std::uint32_t>(db.app_info.size());
  }
  if (!db.sort_info.empty()) {
    put_be32(out.data() + kSortInfoAt, next_at);
    next_at += static_cast<std::uint32_t>(db.sort_info.size());
  }
  put_be32(out.data() + kTypeAt, h.type);
  put_be32(out.data() + kCreatorAt, h.creator);
  put_be32(out.data() + kSeedAt, h.unique_id_seed);
  put_be16(out.data() + kCountAt, static_cast<std::uint16_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const auto record = db.record(i);
    const std::size_t entry_at = kPdbHeaderBytes + i * kPdbRecordEntryBytes;
    put_be32(out.data() + entry_at, next_at);
    put_be32(out.data() + entry_at + 4,
             (std::uint32_t{static_cast<std::uint8_t>(record.attributes | record.category)} << 24) |
                 record.unique_id);
    next_at += static_cast<std::uint32_t>(record.data.size());
  }
  return out;
}

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::string errno_text(int error) { return std::strerror(error); }

PdbResult io_failure(PdbStatus status, const std::filesystem::path& path, std::string_view what,
                     int error) {
  return failure(status, 0, path.string() + ": " + std::string(what) + ": " + errno_text(error));
}

// Reads exactly `out.size()` bytes unless the file ends first; returns the
// count read, or -1 with errno set.
long read_fully(int fd, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

bool write_fully(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

struct OpenedFile {
  UniqueFd fd{-1};
  std::uint64_t size_bytes = 0;
  struct stat st {};
};

PdbResult open_for_reading(const std::filesystem::path& path, OpenedFile& out) {
  out.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!out.fd.is_open()) return io_failure(PdbStatus::cannot_read, path, "cannot open", errno);
  struct stat& st = out.st;
  if (::fstat(out.fd.get(), &st) != 0)
    return io_failure(PdbStatus::cannot_read, path, "cannot stat", errno);
  if (!S_ISREG(st.st_mode))
    return failure(PdbStatus::cannot_read, 0, path.string() + ": not a regular file");
  out.size_bytes = static_cast<std::uint64_t>(st.st_size);
  if (out.size_bytes > kMaxFileBytes)
    return failure(PdbStatus::too_large, 0,
                   path.string() + ": file is " + num(out.size_bytes) +
                       " bytes, more than a database can hold");
  return {};
}

PdbResult with_path(const std::filesystem::path& path, PdbResult result) {
  if (!result) result.reason = path.string() + ": " + result.reason;
  return result;
}

// The header and as much of the record list as the file holds: what
// check_layout needs, and all that lookups and record-by-record readers
// ever read before record data.
PdbResult read_prefix(const std::filesystem::path& path, const OpenedFile& file,
                      std::vector<std::uint8_t>& prefix) {
  prefix.resize(std::min<std::uint64_t>(file.size_bytes, kPdbHeaderBytes));
  long got = read_fully(file.fd.get(), prefix);
  if (got < 0) return io_failure(PdbStatus::cannot_read, path, "cannot read", errno);
  prefix.resize(static_cast<std::size_t>(got));
  if (prefix.size() == kPdbHeaderBytes) {
    const std::uint64_t list_end =
        kPdbHeaderBytes + std::uint64_t{get_be16(prefix.data() + kCountAt)} * kPdbRecordEntryBytes;
    prefix.resize(std::min(file.size_bytes, list_end));
    got = read_fully(file.fd.get(), std::span(prefix).subspan(kPdbHeaderBytes));
    if (got < 0) return io_failure(PdbStatus::cannot_read, path, "cannot read", errno);
    prefix.resize(kPdbHeaderBytes + static_cast<std::size_t>(got));
  }
  return {};
}

// Reads `out.size()` bytes from byte `at` unless the file ends first;
// returns the count read, or -1 with errno set.
long pread_fully(int fd, std::span<std::uint8_t> out, std::uint64_t at) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + done, out.size() - done,
                              static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

void sync_folder(const std::filesystem::path& folder) {
  const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Some file systems cannot sync a folder; the rename is still atomic.
  if (dir.is_open()) (void)::fsync(dir.get());
}

// Moves the finished temporary file to `path` without replacing anything.
int rename_no_replace(const std::string& from, const std::filesystem::path& path) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // The file system cannot refuse to replace: check first and accept the
  // small window, which the session lock covers for conduit writes.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), path.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::uint32_t pdb_time_from_unix(std::int64_t unix_seconds) {
  const std::int64_t value = unix_seconds + kPdbEpochOffsetSeconds;
  return static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::uint32_t>::max()));
}

std::int64_t unix_time_from_pdb(std::uint32_t pdb_seconds) {
  return std::int64_t{pdb_seconds} - kPdbEpochOffsetSeconds;
}

PdbRecordView PdbDatabase::record(std::size_t index) const {
  const std::uint32_t begin = index == 0 ? 0 : entries_[index - 1].end;
  const Entry& entry = entries_[index];
  const auto attribute_byte = static_cast<std::uint8_t>(entry.attribute_id >> 24);
  return PdbRecordView{
      .data = data_.view().subspan(begin, entry.end - begin),
      .attributes = static_cast<std::uint8_t>(attribute_byte & 0xF0),
      .category = static_cast<std::uint8_t>(attribute_byte & 0x0F),
      .unique_id = entry.attribute_id & kPdbMaxUniqueId,
  };
}

bool PdbDatabase::append_record(const PdbRecordView& record) {
  // Room for the largest header and record list keeps any database built
  // here inside the format's 32-bit offsets.
  constexpr std::uint64_t kMaxDataBytes =
      kMaxFileBytes - kPdbHeaderBytes - kPdbMaxRecords * kPdbRecordEntryBytes - kPadBytes;
  if (entries_.size() >= kPdbMaxRecords || record.data.size() > kPdbMaxRecordBytes ||
      data_.size() + record.data.size() > kMaxDataBytes)
    return false;
  const auto* bytes = record.data.data();
  if (!data_.empty() && bytes >= data_.data() && bytes < data_.data() + data_.size()) {
    // The bytes view this buffer, which growing it would invalidate.
    const std::vector<std::uint8_t> copy(record.data.begin(), record.data.end());
    PdbRecordView own = record;
    own.data = copy;
    return append_record(own);
  }
  data_.append(record.data);
  const auto attribute_byte =
      static_cast<std::uint32_t>((record.attributes & 0xF0) | (record.category & 0x0F));
  entries_.push_back(
      Entry{.end = static_cast<std::uint32_t>(data_.size()),
            .attribute_id = (attribute_byte << 24) | (record.unique_id & kPdbMaxUniqueId)});
  return true;
}

void PdbDatabase::reserve(std::size_t records, std::size_t data_bytes) {
  entries_.reserve(records);
  data_.reserve(data_bytes);
}

PdbResult parse_pdb_header(std::span<const std::uint8_t> prefix, std::uint64_t file_bytes,
                           PdbHeader& header, std::uint16_t& record_count) {
  Layout layout;
  auto result = check_layout(prefix, file_bytes, layout);
  if (!result) return result;
  header = std::move(layout.header);
  record_count = layout.record_count;
  return result;
}

PdbResult parse_pdb(std::span<const std::uint8_t> bytes, PdbDatabase& out) {
  Layout layout;
  auto result = check_layout(bytes, bytes.size(), layout);
  if (!result) return result;
  out = PdbDatabase{};
  out.header = std::move(layout.header);
  const auto block = [&](Extent e) {
    return std::vector<std::uint8_t>(bytes.begin() + e.begin, bytes.begin() + e.end);
  };
  out.app_info = block(layout.app_info);
  out.sort_info = block(layout.sort_info);
  std::size_t data_bytes = 0;
  for (const auto& e : layout.records) data_bytes += e.end - e.begin;
  out.reserve(layout.records.size(), data_bytes);
  for (std::size_t i = 0; i < layout.records.size(); ++i) {
    const Extent e = layout.records[i];
    const std::uint32_t attribute_id =
        get_be32(bytes.data() + kPdbHeaderBytes + i * kPdbRecordEntryBytes + 4);
    const auto attribute_byte = static_cast<std::uint8_t>(attribute_id >> 24);
    // The layout check bounds every record and the count, so this holds.
    (void)out.append_record(PdbRecordView{
        .data = bytes.subspan(e.begin, e.end - e.begin),
        .attributes = static_cast<std::uint8_t>(attribute_byte & 0xF0),
        .category = static_cast<std::uint8_t>(attribute_byte & 0x0F),
        .unique_id = attribute_id & kPdbMaxUniqueId,
    });
  }
  return result;
}

std::vector<std::uint8_t> serialize_pdb(const PdbDatabase& db) {
  if (!check_writable(db)) return {};
  auto out = serialize_prefix(db);
  out.insert(out.end(), db.app_info.begin(), db.app_info.end());
  out.insert(out.end(), db.sort_info.begin(), db.sort_info.end());
  out.insert(out.end(), db.record_data().begin(), db.record_data().end());
  return out;
}

PdbResult read_pdb_header_file(const std::filesystem::path& path, PdbHeader& header,
                               std::uint16_t& record_count, struct stat* file_stat) {
  OpenedFile file;
  const auto opened = open_for_reading(path, file);
  if (file_stat != nullptr) *file_stat = file.st;
  if (!opened) return opened;
  std::vector<std::uint8_t> prefix;
  if (auto r = read_prefix(path, file, prefix); !r) return r;
  return with_path(path, parse_pdb_header(prefix, file.size_bytes, header, record_count));
}

PdbResult read_pdb_file(const std::filesystem::path& path, PdbDatabase& out) {
  OpenedFile file;
  if (auto r = open_for_reading(path, file); !r) return r;
  std::vector<std::uint8_t> bytes(file.size_bytes);
  const long got = read_fully(file.fd.get(), bytes);
  if (got < 0) return io_failure(PdbStatus::cannot_read, path, "cannot read", errno);
  // A file that shrank while being read is parsed as what was read, so its
  // offsets are checked against the bytes actually in hand.
  bytes.resize(static_cast<std::size_t>(got));
  return with_path(path, parse_pdb(bytes, out));
}

void PdbReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
  header_ = PdbHeader{};
  entries_.clear();
}

PdbResult PdbReader::open(const std::filesystem::path& path) {
  close();
  OpenedFile file;
  if (auto r = open_for_reading(path, file); !r) return r;
  std::vector<std::uint8_t> prefix;
  if (auto r = read_prefix(path, file, prefix); !r) return r;
  Layout layout;
  if (auto r = check_layout(prefix, file.size_bytes, layout); !r) return with_path(path, r);

  entries_.reserve(layout.records.size());
  for (std::size_t i = 0; i < layout.records.size(); ++i) {
    const Extent e = layout.records[i];
    const std::uint32_t attribute_id =
        get_be32(prefix.data() + kPdbHeaderBytes + i * kPdbRecordEntryBytes + 4);
    const auto attribute_byte = static_cast<std::uint8_t>(attribute_id >> 24);
    entries_.push_back(PdbRecordEntry{
        .offset = e.begin,
        .size_bytes = e.end - e.begin,
        .attributes = static_cast<std::uint8_t>(attribute_byte & 0xF0),
        .category = static_cast<std::uint8_t>(attribute_byte & 0x0F),
        .unique_id = attribute_id & kPdbMaxUniqueId,
    });
  }
  header_ = std::move(layout.header);
  path_ = path;
  fd_ = file.fd.release();
  return {};
}

PdbResult PdbReader::read_record(std::size_t index, std::span<std::uint8_t> out) const {
  if (index >= entries_.size())
    return failure(PdbStatus::no_record, 0,
                   path_.string() + ": no record " + num(index) + " (the database holds " +
                       num(entries_.size()) + ")");
  const PdbRecordEntry& entry = entries_[index];
  if (out.size() > entry.size_bytes)
    return failure(PdbStatus::no_record, entry.offset,
                   path_.string() + ": " + num(out.size()) + " bytes asked of record " +
                       num(index) + ", which holds " + num(entry.size_bytes));
  if (out.empty()) return {};
  if (fd_ < 0) return failure(PdbStatus::cannot_read, 0, path_.string() + ": not open");
  const long got = pread_fully(fd_, out, entry.offset);
  if (got < 0)
    return failure(PdbStatus::cannot_read, entry.offset,
                   path_.string() + ": cannot read record " + num(index) + ": " +
                       errno_text(errno));
  if (static_cast<std::size_t>(got) < out.size())
    return failure(PdbStatus::cannot_read, entry.offset + static_cast<std::size_t>(got),
                   path_.string() + ": record " + num(index) + " cut short at byte " +
                       num(entry.offset + static_cast<std::uint64_t>(got)) +
                       ": the file shrank after it was opened");
  return {};
}

PdbResult PdbReader::read_record(std::size_t index, std::vector<std::uint8_t>& out) const {
  if (index >= entries_.size()) return read_record(index, std::span<std::uint8_t>());
  out.resize(entries_[index].size_bytes);
  return read_record(index, std::span<std::uint8_t>(out));
}

PdbResult write_pdb_file(const std::filesystem::path& path, const PdbDatabase& db,
                         PdbWriteMode mode, PdbDurability durability) {
  if (auto r = check_writable(db); !r) return with_path(path, std::move(r));
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::string temp = (folder / (std::string(kPdbTempPrefix) + "XXXXXX")).string();
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.is_open())
    return io_failure(PdbStatus::cannot_write, path, "cannot create a temporary file", errno);
  // Marks the temporary file as in use for remove_stale_pdb_temp_files.
  (void)::flock(fd.get(), LOCK_EX);

  const auto fail = [&](std::string_view what, int error) {
    ::unlink(temp.c_str());
    return io_failure(PdbStatus::cannot_write, path, what, error);
  };
  struct stat existing {};
  const mode_t permissions =
      ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  if (::fchmod(fd.get(), permissions) != 0) return fail("cannot set permissions", errno);
  if (!write_fully(fd.get(), serialize_prefix(db)) || !write_fully(fd.get(), db.app_info) ||
      !write_fully(fd.get(), db.sort_info) || !write_fully(fd.get(), db.record_data()))
    return fail("cannot write", errno);
  if (durability == PdbDurability::now && ::fsync(fd.get()) != 0) return fail("cannot flush", errno);

  if (mode == PdbWriteMode::replace) {
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot rename", errno);
  } else if (const int error = rename_no_replace(temp, path); error != 0) {
    ::unlink(temp.c_str());
    if (error == EEXIST) return failure(PdbStatus::file_exists, 0, path.string() + ": exists");
    return io_failure(PdbStatus::cannot_write, path, "cannot rename", error);
  }
  if (durability == PdbDurability::now) sync_folder(folder);
  return {};
}

PdbResult flush_pdb_files(const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder) {
  if (!flush_files(files, folder)) return io_failure(PdbStatus::cannot_write, folder, "cannot flush", errno);
  return {};
}

void remove_stale_pdb_temp_files(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const auto path = it->path();
    if (!path.filename().string().starts_with(kPdbTempPrefix)) continue;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.is_open()) continue;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) ::unlink(path.c_str());
  }
}

}  // namespace vellora::posix
