// DLP commands as typed values; see dlp_commands.h. Offsets are those of
// the arguments' data, big-endian throughout.
#include "hosts/linux/hotsync/dlp_commands.h"

#include <algorithm>
#include <array>

#include "base/byte_order.h"

namespace vellora::linux_host {

namespace {

constexpr std::uint8_t kFirst = kDlpFirstArgument;
constexpr std::uint8_t kSecond = kDlpFirstArgument + 1;
constexpr std::size_t kMostNameBytes = 31;
// FindDB options: return the database's attributes.
constexpr std::uint8_t kFindAttributes = 0x80;
// WriteRecord flags: the record's data is included.
constexpr std::uint8_t kWriteDataIncluded = 0x80;
// ReadDBList flags: RAM databases; "more" in the answer.
constexpr std::uint8_t kListMore = 0x80;
constexpr std::uint8_t kListRam = 0x80;
constexpr std::uint8_t kListSeveral = 0x20;
// SetDBInfo: a version, date, type or creator of these values is kept.
constexpr std::uint16_t kKeepVersion = 0xFFFF;
constexpr std::size_t kDlpDateBytes = 8;
// Where the DBInfo fields are inside one entry, and where its name starts.
constexpr std::size_t kDbInfoNameAt = 44;
// FindDB's answer puts card, local ID and open reference before DBInfo.
constexpr std::size_t kFindDbInfoAt = 10;
constexpr std::size_t kCardInfoNamesAt = 26;
constexpr std::uint16_t kWholeRecord = 0xFFFF;

using Bytes = std::vector<std::uint8_t>;

Bytes request(DlpFunction function, std::uint8_t id, std::span<const std::uint8_t> data) {
  const std::array<DlpArgument, 1> arguments{DlpArgument{id, data}};
  return dlp_request(function, arguments);
}

void put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void put32(Bytes& out, std::uint32_t value) {
  put16(out, static_cast<std::uint16_t>(value >> 16));
  put16(out, static_cast<std::uint16_t>(value));
}

// Appends the name and its zero; false for a name no handheld holds.
bool put_name(Bytes& out, std::string_view name) {
  if (name.empty() || name.size() > kMostNameBytes || name.find('\0') != std::string_view::npos) return false;
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
  return true;
}

// Bounded reads of one argument's data.
class Fields {
 public:
  explicit Fields(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool has(std::size_t at, std::size_t count) const { return at <= bytes_.size() && count <= bytes_.size() - at; }
  std::uint8_t u8(std::size_t at) const { return bytes_[at]; }
  std::uint16_t u16(std::size_t at) const { return get_be16(bytes_.data() + at); }
  std::uint32_t u32(std::size_t at) const { return get_be32(bytes_.data() + at); }
  std::span<const std::uint8_t> sub(std::size_t at, std::size_t count) const { return bytes_.subspan(at, count); }
  std::string text(std::size_t at, std::size_t count) const {
    const auto part = sub(at, count);
    return {part.begin(), part.end()};
  }
  // The zero-terminated text from `at`, within `end`; false without a zero.
  bool zero_terminated(std::size_t at, std::size_t end, std::string& out) const {
    const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(at);
    const auto to = bytes_.begin() + static_cast<std::ptrdiff_t>(end);
    const auto zero = std::find(from, to, std::uint8_t{0});
    if (zero == to) return false;
    out.assign(from, zero);
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// One DBInfo entry of `size` bytes at `at`.
bool db_info_at(const Fields& f, std::size_t at, std::size_t size, DbInfo& out) {
  if (size <= kDbInfoNameAt || !f.has(at, size)) return false;
  out.flags = f.u16(at + 2);
  out.type = f.u32(at + 4);
  out.creator = f.u32(at + 8);
  out.version = f.u16(at + 12);
  out.modification_number = f.u32(at + 14);
  return f.zero_terminated(at + kDbInfoNameAt, at + size, out.name);
}

}  // namespace

Bytes read_sys_info_request() {
  Bytes version;
  put16(version, kHostDlpMajor);
  put16(version, kHostDlpMinor);
  return request(DlpFunction::read_sys_info, kFirst, version);
}

Bytes read_user_info_request() { return dlp_request(DlpFunction::read_user_info, {}); }

Bytes read_storage_info_request(std::uint8_t card) {
  const std::uint8_t data[] = {card, 0};
  return request(DlpFunction::read_storage_info, kFirst, data);
}

Bytes open_conduit_request() { return dlp_request(DlpFunction::open_conduit, {}); }

Bytes end_of_sync_request(std::uint16_t reason) {
  Bytes data;
  put16(data, reason);
  return request(DlpFunction::end_of_sync, kFirst, data);
}

Bytes open_db_request(std::uint8_t card, std::uint8_t mode, std::string_view name) {
  Bytes data{card, mode};
  if (!put_name(data, name)) return {};
  return request(DlpFunction::open_db, kFirst, data);
}

Bytes create_db_request(std::uint32_t creator, std::uint32_t type, std::uint8_t card, std::uint16_t flags,
                        std::uint16_t version, std::string_view name) {
  Bytes data;
  put32(data, creator);
  put32(data, type);
  data.push_back(card);
  data.push_back(0);
  put16(data, flags);
  put16(data, version);
  if (!put_name(data, name)) return {};
  return request(DlpFunction::create_db, kFirst, data);
}

Bytes close_db_request(std::uint8_t handle) {
  const std::uint8_t data[] = {handle};
  return request(DlpFunction::close_db, kFirst, data);
}

Bytes delete_db_request(std::uint8_t card, std::string_view name) {
  Bytes data{card, 0};
  if (!put_name(data, name)) return {};
  return request(DlpFunction::delete_db, kFirst, data);
}

Bytes read_record_by_index_request(std::uint8_t handle, std::uint16_t index) {
  Bytes data{handle, 0};
  put16(data, index);
  put16(data, 0);  // from the record's start
  put16(data, kWholeRecord);
  return request(DlpFunction::read_record, kSecond, data);
}

Bytes write_record_request(std::uint8_t handle, std::uint8_t attributes, std::uint8_t category,
                           std::span<const std::uint8_t> record) {
  Bytes data{handle, kWriteDataIncluded};
  put32(data, 0);
  data.push_back(attributes);
  data.push_back(category);
  data.insert(data.end(), record.begin(), record.end());
  return request(DlpFunction::write_record, kFirst, data);
}

Bytes read_open_db_info_request(std::uint8_t handle) {
  const std::uint8_t data[] = {handle};
  return request(DlpFunction::read_open_db_info, kFirst, data);
}

Bytes find_db_by_name_request(std::uint8_t card, std::string_view name) {
  Bytes data{kFindAttributes, card};
  if (!put_name(data, name)) return {};
  return request(DlpFunction::find_db, kFirst, data);
}

Bytes find_db_by_handle_request(std::uint8_t handle) {
  const std::uint8_t data[] = {kFindAttributes, handle};
  return request(DlpFunction::find_db, kSecond, data);
}

Bytes add_sync_log_entry_request(std::string_view text) {
  Bytes data(text.begin(), text.end());
  data.push_back(0);
  return request(DlpFunction::add_sync_log_entry, kFirst, data);
}

Bytes read_db_list_request(std::uint16_t start, bool several) {
  Bytes data{static_cast<std::uint8_t>(kListRam | (several ? kListSeveral : 0)), 0};
  put16(data, start);
  return request(DlpFunction::read_db_list, kFirst, data);
}

Bytes set_db_info_request(std::uint8_t handle, std::string_view name) {
  Bytes data{handle, 0};
  put16(data, 0);  // flags to clear
  put16(data, 0);  // flags to set
  put16(data, kKeepVersion);
  data.resize(data.size() + 3 * kDlpDateBytes);  // year 0: each date kept
  put32(data, 0);                                // type kept
  put32(data, 0);                                // creator kept
  if (!put_name(data, name)) return {};
  return request(DlpFunction::set_db_info, kFirst, data);
}

bool read_sys_info_result(const DlpResponse& response, DlpSysInfo& out) {
  const Fields rom(response.argument(kFirst));
  if (!rom.has(0, 4)) return false;
  out = {};
  out.rom_version = rom.u32(0);
  // Handhelds before DLP 1.2 send no second argument.
  if (const Fields dlp(response.argument(kSecond)); dlp.has(0, 12)) {
    out.dlp_major = dlp.u16(0);
    out.dlp_minor = dlp.u16(2);
    out.max_record_bytes = dlp.u32(8);
  }
  return true;
}

bool read_user_info_result(const DlpResponse& response, DlpUserInfo& out) {
  const Fields f(response.argument(kFirst));
  if (!f.has(0, 30)) return false;
  out = {};
  out.user_id = f.u32(0);
  const std::size_t name_bytes = f.u8(28);
  if (name_bytes == 0) return true;
  if (!f.has(30, name_bytes)) return false;
  // The length counts the zero; a name without one is taken as it stands.
  std::string name = f.text(30, name_bytes);
  if (const auto zero = name.find('\0'); zero != std::string::npos) name.resize(zero);
  out.user_name = std::move(name);
  return true;
}

bool read_storage_info_result(const DlpResponse& response, CardInfo& out) {
  const Fields f(response.argument(kFirst));
  if (!f.has(0, 4) || f.u8(3) == 0) return false;
  constexpr std::size_t at = 4;
  if (!f.has(at, kCardInfoNamesAt)) return false;
  const std::size_t size = f.u8(at);
  const std::size_t card_name = f.u8(at + 24);
  const std::size_t maker_name = f.u8(at + 25);
  if (kCardInfoNamesAt + card_name + maker_name > size || !f.has(at, size)) return false;
  out = {};
  out.card = f.u8(at + 1);
  out.rom_bytes = f.u32(at + 12);
  out.ram_bytes = f.u32(at + 16);
  out.free_bytes = f.u32(at + 20);
  out.card_name = f.text(at + kCardInfoNamesAt, card_name);
  out.manufacturer = f.text(at + kCardInfoNamesAt + card_name, maker_name);
  return true;
}

bool db_handle_result(const DlpResponse& response, std::uint8_t& handle) {
  const Fields f(response.argument(kFirst));
  if (!f.has(0, 1)) return false;
  handle = f.u8(0);
  return true;
}

bool record_id_result(const DlpResponse& response, std::uint32_t& id) {
  const Fields f(response.argument(kFirst));
  if (!f.has(0, 4)) return false;
  id = f.u32(0);
  return true;
}

bool record_count_result(const DlpResponse& response, std::uint16_t& count) {
  const Fields f(response.argument(kFirst));
  if (!f.has(0, 2)) return false;
  count = f.u16(0);
  return true;
}

bool find_db_result(const DlpResponse& response, DbInfo& out) {
  const auto data = response.argument(kFirst);
  const Fields f(data);
  if (!f.has(0, kFindDbInfoAt + 1)) return false;
  out = {};
  // The entry's own size may count a pad byte the answer leaves off.
  const std::size_t size = std::min<std::size_t>(f.u8(kFindDbInfoAt), data.size() - kFindDbInfoAt);
  return db_info_at(f, kFindDbInfoAt, size, out);
}

bool read_record_result(const DlpResponse& response, DlpRecord& out) {
  const auto data = response.argument(kFirst);
  const Fields f(data);
  if (!f.has(0, 10)) return false;
  out = {};
  out.id = f.u32(0);
  out.index = f.u16(4);
  out.size = f.u16(6);
  out.attributes = f.u8(8);
  out.category = f.u8(9);
  out.data = f.sub(10, data.size() - 10);
  return out.data.size() <= out.size;
}

bool read_db_list_result(const DlpResponse& response, std::vector<DbInfo>& out, std::uint16_t& next_index,
                         bool& has_more) {
  const auto data = response.argument(kFirst);
  const Fields f(data);
  if (!f.has(0, 4)) return false;
  out.clear();
  next_index = static_cast<std::uint16_t>(f.u16(0) + 1);
  has_more = (f.u8(2) & kListMore) != 0;
  std::size_t at = 4;
  for (std::size_t i = 0, count = f.u8(3); i < count; ++i) {
    if (!f.has(at, 1)) return false;
    // Entries are whole sizes, rounded up to even; the last may lack its pad.
    const std::size_t size = std::min<std::size_t>(f.u8(at), data.size() - at);
    DbInfo info;
    if (!db_info_at(f, at, size, info)) return false;
    out.push_back(std::move(info));
    at += size;
  }
  return true;
}

}  // namespace vellora::linux_host
