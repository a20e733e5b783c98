// PDB decode and encode. Decoding first checks the layout (header, record
// list, every offset against the file size) without touching record data,
// then copies the data; lookups and the record-by-record reader use the
// first step alone, so scanning a folder reads only a few hundred bytes per
// file and reading a database holds one record at a time.
#include "docmodel/pdb_format.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>

#include "base/ascii.h"
#include "base/byte_order.h"

namespace vellora {

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
// Where the second word of a record list entry lies within the entry.
constexpr std::size_t kAttributeIdAt = 4;

// A database's first chunk, enough for most documents; the chunks after it
// are huge pages.
constexpr std::size_t kFirstChunkBytes = std::size_t{256} << 10;
constexpr std::size_t kChunkBytes = kHugePageBytes;
// How many freed chunks wait for the next database.
constexpr std::size_t kMostSpareChunks = 8;

// Chunks a database freed, for the next one: a session writes database
// after database, and pages fresh from the system cost a fault each, which
// costs more than the bytes they hold (a document of 32,765 short
// paragraphs is written twice as fast). Only chunks of the usual sizes
// wait, and only so many, so a large database's memory still goes back.
class SpareChunks {
 public:
  static SpareChunks& shared() {
    static SpareChunks spare;
    return spare;
  }

  PageBlock take(std::size_t capacity) {
    {
      const std::lock_guard guard(lock_);
      const auto fits = std::find_if(blocks_.begin(), blocks_.end(),
                                     [&](const PageBlock& block) { return block.capacity() == capacity; });
      if (fits != blocks_.end()) {
        PageBlock block = std::move(*fits);
        blocks_.erase(fits);
        return block;
      }
    }
    return PageBlock(capacity);
  }

  template <typename Chunks>
  void give(Chunks& chunks) {
    const std::lock_guard guard(lock_);
    for (auto& chunk : chunks) {
      const std::size_t capacity = chunk.block.capacity();
      if ((capacity == kFirstChunkBytes || capacity == kChunkBytes) && blocks_.size() < kMostSpareChunks)
        blocks_.push_back(std::move(chunk.block));
    }
  }

 private:
  std::mutex lock_;
  std::vector<PageBlock> blocks_;
};

std::string num(std::uint64_t value) { return std::to_string(value); }

// The second word of a record list entry: attribute byte << 24 | unique ID.
// The attribute byte holds the flags in its high nibble, the category in
// its low one.
PdbRecordEntry decode_attribute_id(std::uint32_t attribute_id) {
  const auto attribute_byte = static_cast<std::uint8_t>(attribute_id >> 24);
  return PdbRecordEntry{.offset = 0,
                        .size_bytes = 0,
                        .attributes = static_cast<std::uint8_t>(attribute_byte & 0xF0),
                        .category = static_cast<std::uint8_t>(attribute_byte & 0x0F),
                        .unique_id = attribute_id & kPdbMaxUniqueId};
}

std::uint32_t encode_attribute_id(std::uint8_t attributes, std::uint8_t category, std::uint32_t unique_id) {
  const auto attribute_byte = static_cast<std::uint32_t>((attributes & 0xF0) | (category & 0x0F));
  return (attribute_byte << 24) | (unique_id & kPdbMaxUniqueId);
}

// Checks an app-info or sort-info offset; 0 means the block is absent.
PdbResult check_info_offset(std::uint32_t offset, std::size_t field_at, std::string_view what, std::uint64_t list_end,
                            std::uint64_t file_bytes) {
  if (offset == 0) return {};
  if (offset > file_bytes)
    return pdb_failure(
        PdbStatus::bad_offset, field_at,
        std::string(what) + " offset " + num(offset) + " beyond end of file (" + num(file_bytes) + " bytes)");
  if (offset < list_end)
    return pdb_failure(PdbStatus::bad_offset, field_at,
                       std::string(what) + " offset " + num(offset) + " inside the header or record list (ends at " +
                           num(list_end) + ")");
  return {};
}

// An info block runs to the first record at or after it, the other info
// block if that starts later, or the end of file, whichever comes first.
PdbExtent info_extent(std::uint32_t begin, std::uint32_t other_begin, const std::vector<PdbRecordEntry>& records,
                      std::uint64_t file_bytes) {
  if (begin == 0) return {};
  auto end = static_cast<std::uint32_t>(file_bytes);
  const auto first_after =
      std::lower_bound(records.begin(), records.end(), begin,
                       [](const PdbRecordEntry& record, std::uint32_t at) { return record.offset < at; });
  if (first_after != records.end()) end = std::min(end, first_after->offset);
  if (other_begin > begin) end = std::min(end, other_begin);
  return PdbExtent{.begin = begin, .end = end};
}

}  // namespace

PdbResult pdb_failure(PdbStatus status, std::size_t offset, std::string reason) {
  return PdbResult{.status = status, .offset = offset, .reason = std::move(reason)};
}

std::string database_file_name(std::string_view database_name) {
  std::string out;
  for (std::size_t i = 0; i < database_name.size(); ++i) {
    const auto c = static_cast<unsigned char>(database_name[i]);
    const bool is_escaped = c < 0x20 || c > 0x7E || c == '/' || c == '\\' || c == '%' || (i == 0 && c == '.');
    if (is_escaped) {
      out += '%';
      append_hex_byte(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ".pdb";
}

DbInfo db_info_from(const PdbHeader& header, std::size_t record_count) {
  return DbInfo{.flags = header.attributes,
                .version = header.version,
                .type = header.type,
                .creator = header.creator,
                .modification_number = header.modification_number,
                .created = header.created,
                .modified = header.modified,
                .backed_up = header.backed_up,
                .record_count = static_cast<std::uint16_t>(record_count),
                .card = 0,
                .name = header.name};
}

PdbHeader pdb_header_from(const DbInfo& info, std::uint32_t unique_id_seed) {
  return PdbHeader{.name = info.name,
                   .attributes = info.flags,
                   .version = info.version,
                   .created = info.created,
                   .modified = info.modified,
                   .backed_up = info.backed_up,
                   .modification_number = info.modification_number,
                   .type = info.type,
                   .creator = info.creator,
                   .unique_id_seed = unique_id_seed};
}

std::uint32_t pdb_time_from_unix(std::int64_t unix_seconds) {
  const std::int64_t value = unix_seconds + kPdbEpochOffsetSeconds;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::uint32_t>::max()));
}

std::int64_t unix_time_from_pdb(std::uint32_t pdb_seconds) {
  return std::int64_t{pdb_seconds} - kPdbEpochOffsetSeconds;
}

PdbRecordView PdbDatabase::record(std::size_t index) const {
  const Entry& entry = entries_[index];
  const PdbRecordEntry fields = decode_attribute_id(entry.attribute_id);
  return PdbRecordView{
      .data = std::span<const std::uint8_t>(chunks_[entry.chunk].block.data() + entry.begin, entry.size_bytes),
      .attributes = fields.attributes,
      .category = fields.category,
      .unique_id = fields.unique_id,
  };
}

std::vector<std::span<const std::uint8_t>> PdbDatabase::record_data() const {
  std::vector<std::span<const std::uint8_t>> pieces;
  pieces.reserve(chunks_.size());
  for (const Chunk& chunk : chunks_) pieces.emplace_back(chunk.block.data(), chunk.size);
  return pieces;
}

PdbDatabase::PdbDatabase(const PdbDatabase& other)
    : header(other.header), app_info(other.app_info), sort_info(other.sort_info) {
  reserve(other.record_count(), other.data_bytes_);
  for (std::size_t i = 0; i < other.record_count(); ++i) (void)append_record(other.record(i));
}

PdbDatabase& PdbDatabase::operator=(const PdbDatabase& other) {
  if (this != &other) *this = PdbDatabase(other);
  return *this;
}

PdbDatabase::~PdbDatabase() { SpareChunks::shared().give(chunks_); }

PdbDatabase::Chunk& PdbDatabase::chunk_with_room(std::size_t bytes) {
  if (chunks_.empty() || chunks_.back().block.capacity() - chunks_.back().size < bytes) {
    const std::size_t usual = chunks_.empty() ? kFirstChunkBytes : kChunkBytes;
    chunks_.push_back(Chunk{.block = SpareChunks::shared().take(std::max(bytes, usual)), .size = 0});
  }
  return chunks_.back();
}

bool PdbDatabase::append_record(const PdbRecordView& record) {
  // Room for the largest header and record list keeps any database built
  // here inside the format's 32-bit offsets.
  constexpr std::uint64_t kMaxDataBytes = kPdbMaxFileBytes - pdb_file_bytes(kPdbMaxRecords, 0);
  const std::size_t n = record.data.size();
  if (entries_.size() >= kPdbMaxRecords || n > kPdbMaxRecordBytes || data_bytes_ + n > kMaxDataBytes) return false;
  // Chunks never move, so bytes viewing one of them stay valid, and lie
  // apart from where the copy goes.
  Chunk& chunk = chunk_with_room(n);
  if (n > 0) std::memcpy(chunk.block.data() + chunk.size, record.data.data(), n);
  entries_.push_back(Entry{.chunk = static_cast<std::uint32_t>(chunks_.size() - 1),
                           .begin = static_cast<std::uint32_t>(chunk.size),
                           .size_bytes = static_cast<std::uint32_t>(n),
                           .attribute_id = encode_attribute_id(record.attributes, record.category, record.unique_id)});
  chunk.size += n;
  data_bytes_ += n;
  return true;
}

void PdbDatabase::reserve(std::size_t records, std::size_t data_bytes) {
  entries_.reserve(entries_.size() + records);
  if (data_bytes > 0 && (chunks_.empty() || chunks_.back().block.capacity() - chunks_.back().size < data_bytes))
    chunks_.push_back(Chunk{.block = SpareChunks::shared().take(data_bytes), .size = 0});
}

bool PdbDatabase::operator==(const PdbDatabase& other) const {
  if (header != other.header || app_info != other.app_info || sort_info != other.sort_info ||
      record_count() != other.record_count())
    return false;
  for (std::size_t i = 0; i < record_count(); ++i) {
    const PdbRecordView a = record(i);
    const PdbRecordView b = other.record(i);
    if (a.attributes != b.attributes || a.category != b.category || a.unique_id != b.unique_id ||
        !std::equal(a.data.begin(), a.data.end(), b.data.begin(), b.data.end()))
      return false;
  }
  return true;
}

std::uint64_t pdb_prefix_bytes(std::span<const std::uint8_t, kPdbHeaderBytes> header) {
  return kPdbHeaderBytes + std::uint64_t{get_be16(header.data() + kCountAt)} * kPdbRecordEntryBytes;
}

PdbResult decode_pdb_header(std::span<const std::uint8_t> header, PdbHeader& out, std::uint16_t& record_count) {
  if (header.size() < kPdbHeaderBytes)
    return pdb_failure(PdbStatus::truncated, header.size(),
                       "header is " + num(header.size()) + " bytes, needs " + num(kPdbHeaderBytes));
  const auto* name_begin = header.data() + kNameAt;
  const auto* name_end = std::find(name_begin, name_begin + kPdbNameFieldBytes, 0);
  if (name_end == name_begin + kPdbNameFieldBytes)
    return pdb_failure(PdbStatus::bad_name, kNameAt, "name field has no terminating zero");
  if (name_end == name_begin) return pdb_failure(PdbStatus::bad_name, kNameAt, "name is empty");
  out.name.assign(name_begin, name_end);
  out.attributes = get_be16(header.data() + kAttributesAt);
  out.version = get_be16(header.data() + kVersionAt);
  out.created = get_be32(header.data() + kCreatedAt);
  out.modified = get_be32(header.data() + kModifiedAt);
  out.backed_up = get_be32(header.data() + kBackedUpAt);
  out.modification_number = get_be32(header.data() + kModificationNumberAt);
  out.type = get_be32(header.data() + kTypeAt);
  out.creator = get_be32(header.data() + kCreatorAt);
  out.unique_id_seed = get_be32(header.data() + kSeedAt);
  // The next-record-list field (byte 72) only has meaning in handheld
  // memory; files carry 0 there and anything else is ignored.
  record_count = get_be16(header.data() + kCountAt);
  return {};
}

PdbResult parse_pdb_layout(std::span<const std::uint8_t> prefix, std::uint64_t file_bytes, PdbLayout& out) {
  if (file_bytes < kPdbHeaderBytes || prefix.size() < kPdbHeaderBytes)
    return pdb_failure(PdbStatus::truncated, std::min<std::uint64_t>(file_bytes, prefix.size()),
                       "header is " + num(std::min<std::uint64_t>(file_bytes, prefix.size())) + " bytes, needs " +
                           num(kPdbHeaderBytes));
  if (file_bytes > kPdbMaxFileBytes)
    return pdb_failure(PdbStatus::too_large, 0, "file is " + num(file_bytes) + " bytes, more than a database can hold");
  std::uint16_t record_count = 0;
  if (auto r = decode_pdb_header(prefix, out.header, record_count); !r) return r;
  if ((out.header.attributes & kPdbAttrResource) != 0)
    return pdb_failure(PdbStatus::resource_database, kAttributesAt, "is a resource database, not a record database");

  const std::uint64_t list_end = pdb_prefix_bytes(prefix.first<kPdbHeaderBytes>());
  if (file_bytes < list_end || prefix.size() < list_end)
    return pdb_failure(PdbStatus::truncated, kCountAt,
                       "record list of " + num(record_count) + " entries needs " + num(list_end) + " bytes, file has " +
                           num(std::min<std::uint64_t>(file_bytes, prefix.size())));

  const std::uint32_t app_at = get_be32(prefix.data() + kAppInfoAt);
  const std::uint32_t sort_at = get_be32(prefix.data() + kSortInfoAt);
  if (auto r = check_info_offset(app_at, kAppInfoAt, "app-info", list_end, file_bytes); !r) return r;
  if (auto r = check_info_offset(sort_at, kSortInfoAt, "sort-info", list_end, file_bytes); !r) return r;

  auto& records = out.records;
  records.assign(record_count, PdbRecordEntry{});
  for (std::size_t i = 0; i < record_count; ++i) {
    const std::size_t entry_at = kPdbHeaderBytes + i * kPdbRecordEntryBytes;
    const std::uint32_t begin = get_be32(prefix.data() + entry_at);
    if (begin > file_bytes)
      return pdb_failure(
          PdbStatus::bad_offset, entry_at,
          "record " + num(i) + " offset " + num(begin) + " beyond end of file (" + num(file_bytes) + " bytes)");
    if (begin < list_end)
      return pdb_failure(PdbStatus::bad_offset, entry_at,
                         "record " + num(i) + " offset " + num(begin) + " inside the header or record list (ends at " +
                             num(list_end) + ")");
    if (i > 0 && begin < records[i - 1].offset)
      return pdb_failure(PdbStatus::offsets_decrease, entry_at, "record offsets decrease at record " + num(i));
    records[i] = decode_attribute_id(get_be32(prefix.data() + entry_at + kAttributeIdAt));
    records[i].offset = begin;
  }

  for (std::size_t i = 0; i < record_count; ++i) {
    auto& record = records[i];
    std::uint32_t end = i + 1 < record_count ? records[i + 1].offset : static_cast<std::uint32_t>(file_bytes);
    for (const std::uint32_t info_at : {app_at, sort_at})
      if (info_at > record.offset && info_at < end) end = info_at;
    if (end - record.offset > kPdbMaxRecordBytes)
      return pdb_failure(
          PdbStatus::record_too_large, record.offset,
          "record " + num(i) + " is " + num(end - record.offset) + " bytes, more than " + num(kPdbMaxRecordBytes));
    record.size_bytes = end - record.offset;
  }
  out.app_info = info_extent(app_at, sort_at, records, file_bytes);
  out.sort_info = info_extent(sort_at, app_at, records, file_bytes);
  return {};
}

PdbResult parse_pdb_header(std::span<const std::uint8_t> prefix, std::uint64_t file_bytes, PdbHeader& header,
                           std::uint16_t& record_count) {
  PdbLayout layout;
  auto result = parse_pdb_layout(prefix, file_bytes, layout);
  if (!result) return result;
  header = std::move(layout.header);
  record_count = static_cast<std::uint16_t>(layout.records.size());
  return result;
}

PdbResult parse_pdb(std::span<const std::uint8_t> bytes, PdbDatabase& out) {
  PdbLayout layout;
  auto result = parse_pdb_layout(bytes, bytes.size(), layout);
  if (!result) return result;
  out = PdbDatabase{};
  out.header = std::move(layout.header);
  const auto block = [&](PdbExtent e) {
    return std::vector<std::uint8_t>(bytes.begin() + e.begin, bytes.begin() + e.end);
  };
  out.app_info = block(layout.app_info);
  out.sort_info = block(layout.sort_info);
  std::size_t data_bytes = 0;
  for (const auto& record : layout.records) data_bytes += record.size_bytes;
  out.reserve(layout.records.size(), data_bytes);
  for (const auto& record : layout.records) {
    // The layout check bounds every record and the count, so this holds.
    (void)out.append_record(PdbRecordView{
        .data = bytes.subspan(record.offset, record.size_bytes),
        .attributes = record.attributes,
        .category = record.category,
        .unique_id = record.unique_id,
    });
  }
  return result;
}

PdbResult check_pdb_encodable(const PdbDatabase& db) {
  const auto& name = db.header.name;
  if (name.empty() || name.size() > kPdbMaxNameBytes || name.find('\0') != std::string::npos)
    return pdb_failure(PdbStatus::bad_name, kNameAt,
                       "name must be 1 to " + num(kPdbMaxNameBytes) + " bytes without a zero byte");
  if ((db.header.attributes & kPdbAttrResource) != 0)
    return pdb_failure(PdbStatus::resource_database, kAttributesAt, "resource databases cannot be written");
  const std::uint64_t total =
      pdb_file_bytes(db.record_count(), db.app_info.size() + db.sort_info.size() + db.record_data_bytes());
  if (total > kPdbMaxFileBytes)
    return pdb_failure(PdbStatus::too_large, 0, "database of " + num(total) + " bytes does not fit the file format");
  return {};
}

namespace {

// The header and a record list of `count` zero entries, then the 2 zero
// bytes after them.
std::vector<std::uint8_t> encode_header(const PdbHeader& h, std::uint32_t app_info_at, std::uint32_t sort_info_at,
                                        std::size_t count) {
  std::vector<std::uint8_t> out(pdb_file_bytes(count, 0), 0);
  std::copy(h.name.begin(), h.name.end(), out.begin() + kNameAt);
  put_be16(out.data() + kAttributesAt, h.attributes);
  put_be16(out.data() + kVersionAt, h.version);
  put_be32(out.data() + kCreatedAt, h.created);
  put_be32(out.data() + kModifiedAt, h.modified);
  put_be32(out.data() + kBackedUpAt, h.backed_up);
  put_be32(out.data() + kModificationNumberAt, h.modification_number);
  put_be32(out.data() + kAppInfoAt, app_info_at);
  put_be32(out.data() + kSortInfoAt, sort_info_at);
  put_be32(out.data() + kTypeAt, h.type);
  put_be32(out.data() + kCreatorAt, h.creator);
  put_be32(out.data() + kSeedAt, h.unique_id_seed);
  put_be16(out.data() + kCountAt, static_cast<std::uint16_t>(count));
  return out;
}

void encode_entry(std::vector<std::uint8_t>& out, std::size_t index, std::uint32_t offset, std::uint8_t attributes,
                  std::uint8_t category, std::uint32_t unique_id) {
  std::uint8_t* entry = out.data() + kPdbHeaderBytes + index * kPdbRecordEntryBytes;
  put_be32(entry, offset);
  put_be32(entry + kAttributeIdAt, encode_attribute_id(attributes, category, unique_id));
}

}  // namespace

std::vector<std::uint8_t> encode_pdb_layout(const PdbLayout& layout) {
  auto out = encode_header(layout.header, layout.app_info.begin, layout.sort_info.begin, layout.records.size());
  for (std::size_t i = 0; i < layout.records.size(); ++i) {
    const PdbRecordEntry& record = layout.records[i];
    encode_entry(out, i, record.offset, record.attributes, record.category, record.unique_id);
  }
  return out;
}

std::vector<std::uint8_t> serialize_pdb_prefix(const PdbDatabase& db) {
  // Each block that is present starts where the one before it ends.
  auto next_at = static_cast<std::uint32_t>(pdb_file_bytes(db.record_count(), 0));
  const std::uint32_t app_info_at = db.app_info.empty() ? 0 : next_at;
  next_at += static_cast<std::uint32_t>(db.app_info.size());
  const std::uint32_t sort_info_at = db.sort_info.empty() ? 0 : next_at;
  next_at += static_cast<std::uint32_t>(db.sort_info.size());
  auto out = encode_header(db.header, app_info_at, sort_info_at, db.record_count());
  for (std::size_t i = 0; i < db.record_count(); ++i) {
    const PdbRecordView record = db.record(i);
    encode_entry(out, i, next_at, record.attributes, record.category, record.unique_id);
    next_at += static_cast<std::uint32_t>(record.data.size());
  }
  return out;
}

std::vector<std::uint8_t> serialize_pdb(const PdbDatabase& db) {
  if (!check_pdb_encodable(db)) return {};
  auto out = serialize_pdb_prefix(db);
  out.insert(out.end(), db.app_info.begin(), db.app_info.end());
  out.insert(out.end(), db.sort_info.begin(), db.sort_info.end());
  for (const auto piece : db.record_data()) out.insert(out.end(), piece.begin(), piece.end());
  return out;
}

}  // namespace vellora
