// DlpServer: each request is parsed into its arguments, then handed to the
// handler its function id names in a table. Handlers check their
// arguments' sizes before reading them and answer as Palm OS does:
// NOT_FOUND for a name or record that is not there, PARAM for a handle
// that is not open, ARG_MISSING and ARG_SIZE for arguments that are absent
// or too short. Offsets are those of an argument's data, big-endian.
#include "tests/support/fake_handheld/dlp_server.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "base/ascii.h"
#include "base/byte_order.h"
#include "docmodel/pdb_format.h"

namespace vellora::testing {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kArg1 = 0x20;
constexpr std::uint8_t kArg2 = 0x21;
constexpr std::uint8_t kArg3 = 0x22;
// The first byte of an argument: a short wrapper (u16 length) or a long
// one (u32 length) when these bits are set, a tiny one (u8) otherwise;
// the rest is the argument's id.
constexpr std::uint8_t kShortWrapper = 0x80;
constexpr std::uint8_t kLongWrapper = 0x40;
constexpr std::uint8_t kArgIdBits = 0x3F;
constexpr std::size_t kMostTinyBytes = 0xFF;
// Arguments are answered in tiny and short wrappers only, as handhelds do,
// and a whole answer stays within what a short PADP message can carry.
constexpr std::size_t kMostAnswerBytes = 0xFFFF;
constexpr std::size_t kAnswerHeaderBytes = 4;
constexpr std::size_t kShortWrapperBytes = 4;

constexpr std::uint8_t kOpenRead = 0x80;
constexpr std::uint8_t kOpenWrite = 0x40;
constexpr std::uint8_t kOpenExclusive = 0x20;
constexpr std::size_t kMostNameBytes = 31;
constexpr std::size_t kMostOpenDatabases = 32;

constexpr std::uint32_t kMostUniqueId = 0xFFFFFF;
constexpr std::size_t kMostRecords = 0xFFFF;
constexpr std::size_t kMostRecordBytes = 0xFFFF;
// Largest record reported by ReadSysInfo, as handhelds with DLP 1.2 do.
constexpr std::uint32_t kReportedMostRecordBytes = 0xFFE1;
constexpr std::size_t kRecordAnswerHeaderBytes = 10;
constexpr std::uint16_t kWholeRecord = 0xFFFF;
constexpr std::size_t kWriteRecordHeaderBytes = 8;
constexpr std::size_t kRecordEntryBytes = 8;  // a record's entry in the record list
// Attributes a desktop may write; before DLP 1.1 only the secret bit.
constexpr std::uint8_t kWritableAttributes = kRecordDeleted | kRecordDirty | kRecordSecret | kRecordArchived;

// ReadDBList: what to list, and "more" in the answer.
constexpr std::uint8_t kListRam = 0x80;
constexpr std::uint8_t kListMultiple = 0x20;
constexpr std::uint8_t kListMore = 0x80;
constexpr std::size_t kMostListEntries = 16;
// DBInfo: misc flag of a database in RAM (DLP 1.2), and where its name is.
constexpr std::uint8_t kMiscRamBased = 0x40;
constexpr std::size_t kDbInfoNameAt = 44;
constexpr std::uint16_t kUnknownIndex = 0xFFFF;

// FindDB options and search flags.
constexpr std::uint8_t kFindAttributes = 0x80;
constexpr std::uint8_t kFindSizes = 0x40;
constexpr std::uint8_t kFindMostRecord = 0x20;
constexpr std::uint8_t kFindNewSearch = 0x80;
constexpr std::uint8_t kFindOnlyLatest = 0x40;

// CloseDB with flags: stamp the backup date, the modification date.
constexpr std::uint8_t kCloseStampBackup = 0x80;
constexpr std::uint8_t kCloseStampModified = 0x40;
// Flags CreateDB gives a new database: resource, backup, install newer,
// reset after install.
constexpr std::uint16_t kCreateFlags = 0x0001 | 0x0008 | 0x0010 | 0x0020;
// Flags SetDBInfo may change: app info dirty, backup, install newer, reset
// after install, copy prevention.
constexpr std::uint16_t kSettableFlags = 0x0004 | 0x0008 | 0x0010 | 0x0020 | 0x0040;
constexpr std::size_t kSetDbInfoNameAt = 40;
constexpr std::uint16_t kKeepVersion = 0xFFFF;

// The card is described as the folder handheld describes its own, so a
// desktop sees one card on both.
constexpr std::string_view kCardName = "PDB folder";
constexpr std::string_view kCardMaker = "Vellora";
constexpr std::size_t kCardInfoNamesAt = 26;
constexpr std::uint32_t kLocalizationId = 0x00010000;
constexpr std::uint8_t kProductId[] = {0x01, 0x00, 0x00, 0x00};
// The user's name fits 40 bytes and its zero.
constexpr std::size_t kMostUserNameBytes = 40;

// ---------------------------------------------------------------------------
// Requests and answers

struct Argument {
  std::uint8_t id = 0;
  std::span<const std::uint8_t> data;
};

struct Request {
  std::uint8_t function = 0;
  std::vector<Argument> arguments;

  const Argument* find(std::uint8_t id) const {
    const auto it = std::find_if(arguments.begin(), arguments.end(), [&](const Argument& a) { return a.id == id; });
    return it == arguments.end() ? nullptr : &*it;
  }
};

// kDlpOk, or the error a handheld answers a request whose wrappers do not
// add up: a wrapper cut short, a length past the end, bytes left over.
std::uint16_t parse_request(std::span<const std::uint8_t> bytes, Request& out) {
  if (bytes.size() < 2) return kDlpErrBadWrapper;
  out.function = bytes[0];
  std::size_t at = 2;
  for (std::size_t i = 0, count = bytes[1]; i < count; ++i) {
    const std::size_t left = bytes.size() - at;
    if (left == 0) return kDlpErrBadWrapper;
    const std::uint8_t first = bytes[at];
    std::size_t header = 2;
    std::uint64_t length = 0;
    if ((first & kShortWrapper) != 0 && (first & kLongWrapper) != 0) return kDlpErrBadWrapper;
    if ((first & kShortWrapper) != 0) {
      header = 4;
      if (left < header) return kDlpErrBadWrapper;
      length = get_be16(&bytes[at + 2]);
    } else if ((first & kLongWrapper) != 0) {
      header = 6;
      if (left < header) return kDlpErrBadWrapper;
      length = get_be32(&bytes[at + 2]);
    } else {
      if (left < header) return kDlpErrBadWrapper;
      length = bytes[at + 1];
    }
    if (length > left - header) return kDlpErrBadWrapper;
    out.arguments.push_back(Argument{static_cast<std::uint8_t>(first & kArgIdBits),
                                     bytes.subspan(at + header, static_cast<std::size_t>(length))});
    at += header + static_cast<std::size_t>(length);
  }
  return at == bytes.size() ? kDlpOk : kDlpErrBadWrapper;
}

struct Answer {
  std::uint16_t error = kDlpOk;
  std::vector<std::pair<std::uint8_t, Bytes>> arguments;
};

Answer fail(std::uint16_t error) { return Answer{error, {}}; }
Answer ok() { return Answer{}; }
Answer one(Bytes data) {
  Answer answer;
  answer.arguments.emplace_back(kArg1, std::move(data));
  return answer;
}

Bytes encode(std::uint8_t function, const Answer& answer) {
  if (answer.error != kDlpOk) return dlp_error_answer(function, answer.error);
  Bytes out{static_cast<std::uint8_t>(function | kDlpAnswerFlag), static_cast<std::uint8_t>(answer.arguments.size()), 0,
            0};
  for (const auto& [id, data] : answer.arguments) {
    if (data.size() <= kMostTinyBytes) {
      out.push_back(id);
      out.push_back(static_cast<std::uint8_t>(data.size()));
    } else {
      out.push_back(static_cast<std::uint8_t>(id | kShortWrapper));
      out.push_back(0);
      out.push_back(static_cast<std::uint8_t>(data.size() >> 8));
      out.push_back(static_cast<std::uint8_t>(data.size()));
    }
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

// ---------------------------------------------------------------------------
// Fields

void put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void put32(Bytes& out, std::uint32_t value) {
  put16(out, static_cast<std::uint16_t>(value >> 16));
  put16(out, static_cast<std::uint16_t>(value));
}

std::uint32_t clamp32(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

std::size_t rounded_to_even(std::size_t size) { return size + (size & 1); }

std::uint32_t pdb_now() { return pdb_time_from_unix(static_cast<std::int64_t>(std::time(nullptr))); }

// A DLP date is local wall-clock time; year 0 means none.
void put_date(Bytes& out, std::uint32_t pdb_seconds) {
  if (pdb_seconds == 0) {
    out.insert(out.end(), 8, 0);
    return;
  }
  const auto unix_seconds = static_cast<std::time_t>(unix_time_from_pdb(pdb_seconds));
  std::tm local{};
  ::localtime_r(&unix_seconds, &local);
  put16(out, static_cast<std::uint16_t>(local.tm_year + 1900));
  for (const int field : {local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0})
    out.push_back(static_cast<std::uint8_t>(field));
}

// The date at `at`, or nothing for year 0.
std::optional<std::uint32_t> date_at(const std::uint8_t* at) {
  const std::uint16_t year = get_be16(at);
  if (year == 0) return std::nullopt;
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = at[2] - 1;
  local.tm_mday = at[3];
  local.tm_hour = at[4];
  local.tm_min = at[5];
  local.tm_sec = at[6];
  local.tm_isdst = -1;
  return pdb_time_from_unix(static_cast<std::int64_t>(std::mktime(&local)));
}

// The zero-terminated name at `at`: kDlpOk, or PARAM for a name with no
// zero, an empty one or one longer than a handheld keeps.
std::uint16_t name_at(std::span<const std::uint8_t> data, std::size_t at, std::string& out) {
  if (at >= data.size()) return kDlpErrParam;
  const auto from = data.begin() + static_cast<std::ptrdiff_t>(at);
  const auto zero = std::find(from, data.end(), std::uint8_t{0});
  if (zero == data.end() || zero == from || zero - from > static_cast<std::ptrdiff_t>(kMostNameBytes))
    return kDlpErrParam;
  out.assign(from, zero);
  return kDlpOk;
}

bool is_at_least(const HandheldIdentity& identity, std::uint16_t major, std::uint16_t minor) {
  return identity.dlp_major > major || (identity.dlp_major == major && identity.dlp_minor >= minor);
}

// The argument `id` when it holds at least `size` bytes; otherwise the
// error to answer.
std::uint16_t need(const Request& request, std::uint8_t id, std::size_t size, std::span<const std::uint8_t>& out) {
  const Argument* argument = request.find(id);
  if (argument == nullptr) return kDlpErrArgMissing;
  if (argument->data.size() < size) return kDlpErrArgSize;
  out = argument->data;
  return kDlpOk;
}

// ---------------------------------------------------------------------------
// The card's databases

using OpenDatabase = DlpServerState::OpenDatabase;

OpenDatabase* opened(DlpServerState& s, std::uint8_t handle) {
  const auto it = s.open.find(handle);
  return it == s.open.end() ? nullptr : &it->second;
}

// The handle of an open instance of `db`, or 0.
std::uint8_t handle_of(const DlpServerState& s, const CardDatabase& db) {
  for (const auto& [handle, open] : s.open)
    if (open.db == &db) return handle;
  return 0;
}

// The lowest free handle, or 0 when the handheld has too many open.
std::uint8_t free_handle(const DlpServerState& s) {
  if (s.open.size() >= kMostOpenDatabases) return 0;
  for (std::uint8_t handle = 1; handle != 0; ++handle)
    if (!s.open.contains(handle)) return handle;
  return 0;
}

// A DBInfo entry: 44 bytes, the name and its zero, padded to even.
void put_db_info(Bytes& out, const DlpServerState& s, const CardDatabase& db, std::uint16_t index) {
  const std::size_t size = rounded_to_even(kDbInfoNameAt + db.name.size() + 1);
  out.push_back(static_cast<std::uint8_t>(size));
  out.push_back(is_at_least(s.identity, 1, 2) ? kMiscRamBased : 0);
  put16(out, static_cast<std::uint16_t>(db.flags | (handle_of(s, db) != 0 ? kDbFlagOpen : 0)));
  put32(out, db.type);
  put32(out, db.creator);
  put16(out, db.version);
  put32(out, db.modification_number);
  put_date(out, db.created);
  put_date(out, db.modified);
  put_date(out, db.backed_up);
  put16(out, index);
  out.insert(out.end(), db.name.begin(), db.name.end());
  out.insert(out.end(), size - kDbInfoNameAt - db.name.size(), 0);
}

// Closing writes the database's changes to its "file", as the folder
// handheld's close does: a changed database gets a new modification date,
// and one that existed before the session a new modification number.
void close_database(DlpServerState& s, CardDatabase& db, std::uint8_t flags) {
  if (db.has_unstored_changes) {
    db.modified = pdb_now();
    if (db.stored_bytes != 0) ++db.modification_number;
  }
  if ((flags & kCloseStampBackup) != 0) db.backed_up = pdb_now();
  if ((flags & kCloseStampModified) != 0) db.modified = pdb_now();
  s.store->note_closed(db);
}

std::uint32_t new_unique_id(CardDatabase& db) {
  std::uint32_t id = db.unique_id_seed == 0 || db.unique_id_seed > kMostUniqueId ? 1 : db.unique_id_seed;
  // Fewer than 2^16 records never use up 2^24 IDs, so this ends.
  while (db.find_record(id) != nullptr) id = id >= kMostUniqueId ? 1 : id + 1;
  return id;
}

// ---------------------------------------------------------------------------
// Handlers, one per function

Answer read_user_info(DlpServerState& s, const Request&) {
  Bytes out;
  put32(out, s.identity.user_id);
  put32(out, 0);     // viewer
  put32(out, 0);     // last sync PC
  put_date(out, 0);  // last successful sync: none
  put_date(out, 0);  // last sync: none
  const std::string_view name = std::string_view(s.identity.user_name).substr(0, kMostUserNameBytes);
  out.push_back(static_cast<std::uint8_t>(name.empty() ? 0 : name.size() + 1));
  out.push_back(0);  // no password
  if (!name.empty()) {
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
  }
  return one(std::move(out));
}

Answer read_sys_info(DlpServerState& s, const Request&) {
  Bytes rom;
  put32(rom, s.identity.rom_version);
  put32(rom, kLocalizationId);
  rom.push_back(0);
  rom.push_back(sizeof kProductId);
  rom.insert(rom.end(), std::begin(kProductId), std::end(kProductId));
  Answer answer = one(std::move(rom));
  if (is_at_least(s.identity, 1, 2)) {
    Bytes dlp;
    put16(dlp, s.identity.dlp_major);
    put16(dlp, s.identity.dlp_minor);
    put16(dlp, 3);  // product compatibility 3.0
    put16(dlp, 0);
    put32(dlp, kReportedMostRecordBytes);
    answer.arguments.emplace_back(kArg2, std::move(dlp));
  }
  return answer;
}

Answer read_storage_info(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, 2, d); error != kDlpOk) return fail(error);
  if (d[0] != 0) return fail(kDlpErrNotFound);
  // One card, yet "more" is set, as on real handhelds.
  Bytes out{0, 1, 0, 1};
  const std::size_t size = rounded_to_even(kCardInfoNamesAt + kCardName.size() + kCardMaker.size());
  out.push_back(static_cast<std::uint8_t>(size));
  out.push_back(0);  // card number
  put16(out, 1);     // card version
  put_date(out, 0);
  put32(out, 0);  // ROM
  put32(out, clamp32(s.store->memory_bytes()));
  put32(out, clamp32(s.store->free_bytes()));
  out.push_back(static_cast<std::uint8_t>(kCardName.size()));
  out.push_back(static_cast<std::uint8_t>(kCardMaker.size()));
  out.insert(out.end(), kCardName.begin(), kCardName.end());
  out.insert(out.end(), kCardMaker.begin(), kCardMaker.end());
  out.resize(4 + size, 0);
  Answer answer = one(std::move(out));
  if (is_at_least(s.identity, 1, 1)) {
    Bytes counts;
    put16(counts, 0);  // databases in ROM
    put16(counts, static_cast<std::uint16_t>(s.store->size()));
    counts.insert(counts.end(), 16, 0);
    answer.arguments.emplace_back(kArg2, std::move(counts));
  }
  return answer;
}

Answer read_db_list(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, 4, d); error != kDlpOk) return fail(error);
  const std::uint8_t flags = d[0];
  const std::size_t start = get_be16(&d[2]);
  // The card has no ROM databases to list.
  if (d[1] != 0 || (flags & kListRam) == 0 || start >= s.store->size()) return fail(kDlpErrNotFound);
  const bool is_multiple = (flags & kListMultiple) != 0 && is_at_least(s.identity, 1, 2);
  const std::size_t end = std::min(s.store->size(), start + (is_multiple ? kMostListEntries : 1));
  Bytes out;
  put16(out, static_cast<std::uint16_t>(end - 1));
  out.push_back(end < s.store->size() ? kListMore : 0);
  out.push_back(static_cast<std::uint8_t>(end - start));
  for (std::size_t i = start; i < end; ++i) put_db_info(out, s, s.store->at(i), static_cast<std::uint16_t>(i));
  return one(std::move(out));
}

Answer open_db(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, 3, d); error != kDlpOk) return fail(error);
  const std::uint8_t mode = d[1];
  std::string name;
  if (const auto error = name_at(d, 2, name); error != kDlpOk) return fail(error);
  if ((mode & (kOpenRead | kOpenWrite)) == 0) return fail(kDlpErrParam);
  CardDatabase* db = d[0] == 0 ? s.store->find(name) : nullptr;
  if (db == nullptr) return fail(kDlpErrNotFound);
  // Readers share a database; a writer or an exclusive open has it alone.
  for (const auto& [handle, open] : s.open)
    if (open.db == db && ((open.mode & (kOpenWrite | kOpenExclusive)) != 0 || (mode & kOpenExclusive) != 0))
      return fail(kDlpErrDatabaseOpen);
  const std::uint8_t handle = free_handle(s);
  if (handle == 0) return fail(kDlpErrTooManyOpen);
  s.open[handle] = OpenDatabase{db, mode};
  return one({handle});
}

Answer create_db(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, 15, d); error != kDlpOk) return fail(error);
  const std::uint16_t flags = get_be16(&d[10]);
  std::string name;
  if (const auto error = name_at(d, 14, name); error != kDlpOk) return fail(error);
  if (d[8] != 0) return fail(kDlpErrParam);
  if ((flags & kDbFlagResource) != 0) return fail(kDlpErrNotSupported);
  if (s.store->find(name) != nullptr) return fail(kDlpErrAlreadyExists);
  const std::uint8_t handle = free_handle(s);
  if (handle == 0) return fail(kDlpErrTooManyOpen);
  const std::uint32_t now = pdb_now();
  CardDatabase db;
  db.name = std::move(name);
  db.flags = static_cast<std::uint16_t>(flags & kCreateFlags);
  db.type = get_be32(&d[4]);
  db.creator = get_be32(&d[0]);
  db.version = get_be16(&d[12]);
  db.created = now;
  db.modified = now;
  db.has_unstored_changes = true;
  if (s.store->live_free_bytes() < static_cast<std::int64_t>(db.file_bytes())) return fail(kDlpErrNotEnoughSpace);
  s.open[handle] = OpenDatabase{&s.store->add(std::move(db)), kOpenRead | kOpenWrite};
  return one({handle});
}

Answer close_db(DlpServerState& s, const Request& request) {
  if (request.find(kArg2) != nullptr) {
    for (auto& [handle, open] : s.open) close_database(s, *open.db, 0);
    s.open.clear();
    return ok();
  }
  std::uint8_t handle = 0;
  std::uint8_t flags = 0;
  std::span<const std::uint8_t> d;
  if (const Argument* with_flags = request.find(kArg3)) {
    if (with_flags->data.size() < 2) return fail(kDlpErrArgSize);
    handle = with_flags->data[0];
    flags = with_flags->data[1];
  } else if (const auto error = need(request, kArg1, 1, d); error != kDlpOk) {
    return fail(error);
  } else {
    handle = d[0];
  }
  OpenDatabase* open = opened(s, handle);
  if (open == nullptr) return fail(kDlpErrParam);
  close_database(s, *open->db, flags);
  s.open.erase(handle);
  return ok();
}

Answer delete_db(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, 3, d); error != kDlpOk) return fail(error);
  std::string name;
  if (const auto error = name_at(d, 2, name); error != kDlpOk) return fail(error);
  const CardDatabase* db = d[0] == 0 ? s.store->find(name) : nullptr;
  if (db == nullptr) return fail(kDlpErrNotFound);
  if (handle_of(s, *db) != 0) return fail(kDlpErrDatabaseOpen);
  s.store->remove(name);
  return ok();
}

Answer read_record(DlpServerState& s, const Request& request) {
  // By unique ID (argument 0x20) or by index (0x21).
  const Argument* by_id = request.find(kArg1);
  const Argument* by_index = by_id == nullptr ? request.find(kArg2) : nullptr;
  if (by_id == nullptr && by_index == nullptr) return fail(kDlpErrArgMissing);
  const auto d = (by_id != nullptr ? by_id : by_index)->data;
  if (d.size() < (by_id != nullptr ? 10u : 8u)) return fail(kDlpErrArgSize);
  OpenDatabase* open = opened(s, d[0]);
  if (open == nullptr) return fail(kDlpErrParam);
  CardDatabase& db = *open->db;
  if (db.is_opaque()) return fail(kDlpErrNotSupported);
  std::size_t index = 0;
  std::size_t at = 0;  // where the offset and byte count follow
  if (by_id != nullptr) {
    const CardRecord* record = db.find_record(get_be32(&d[2]));
    if (record == nullptr) return fail(kDlpErrNotFound);
    index = static_cast<std::size_t>(record - db.records.data());
    at = 6;
  } else {
    index = get_be16(&d[2]);
    if (index >= db.records.size()) return fail(kDlpErrNotFound);
    at = 4;
  }
  const CardRecord& record = db.records[index];
  const std::size_t offset = get_be16(&d[at]);
  const std::uint16_t wanted = get_be16(&d[at + 2]);
  if (offset > record.data.size()) return fail(kDlpErrParam);
  // What fits one answer; the desktop reads the rest from an offset.
  std::size_t count = std::min(record.data.size() - offset,
                               kMostAnswerBytes - kAnswerHeaderBytes - kShortWrapperBytes - kRecordAnswerHeaderBytes);
  if (wanted != kWholeRecord) count = std::min<std::size_t>(count, wanted);
  Bytes out;
  put32(out, record.unique_id);
  put16(out, static_cast<std::uint16_t>(index));
  put16(out, static_cast<std::uint16_t>(record.data.size()));
  out.push_back(record.attributes);
  out.push_back(record.category);
  const auto from = record.data.begin() + static_cast<std::ptrdiff_t>(offset);
  out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(count));
  return one(std::move(out));
}

Answer write_record(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, kWriteRecordHeaderBytes, d); error != kDlpOk) return fail(error);
  OpenDatabase* open = opened(s, d[0]);
  if (open == nullptr) return fail(kDlpErrParam);
  CardDatabase& db = *open->db;
  if (db.is_opaque()) return fail(kDlpErrNotSupported);
  if ((open->mode & kOpenWrite) == 0) return fail(kDlpErrReadOnly);
  std::uint32_t id = get_be32(&d[2]);
  const std::uint8_t category = d[7];
  const auto data = d.subspan(kWriteRecordHeaderBytes);
  if (category > 0x0F || id > kMostUniqueId) return fail(kDlpErrParam);
  CardRecord* existing = id != 0 ? db.find_record(id) : nullptr;
  if (data.size() > kMostRecordBytes || (existing == nullptr && db.records.size() >= kMostRecords))
    return fail(kDlpErrLimitExceeded);
  const std::int64_t cost =
      existing != nullptr ? static_cast<std::int64_t>(data.size()) - static_cast<std::int64_t>(existing->data.size())
                          : static_cast<std::int64_t>(data.size() + kRecordEntryBytes);
  const bool had_changes = std::exchange(db.has_unstored_changes, true);
  if (cost > 0 && s.store->live_free_bytes() < cost) {
    db.has_unstored_changes = had_changes;
    return fail(kDlpErrNotEnoughSpace);
  }
  const std::uint8_t attributes = d[6] & (is_at_least(s.identity, 1, 1) ? kWritableAttributes : kRecordSecret);
  if (existing != nullptr) {
    existing->attributes = attributes;
    existing->category = category;
    existing->data.assign(data.begin(), data.end());
  } else {
    if (id == 0) id = new_unique_id(db);
    db.records.push_back(CardRecord{id, attributes, category, {data.begin(), data.end()}});
  }
  if (id >= db.unique_id_seed) db.unique_id_seed = id >= kMostUniqueId ? 1 : id + 1;
  Bytes out;
  put32(out, id);
  return one(std::move(out));
}

Answer add_sync_log_entry(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, 0, d); error != kDlpOk) return fail(error);
  const auto zero = std::find(d.begin(), d.end(), std::uint8_t{0});
  s.log_entries.emplace_back(d.begin(), zero);
  return ok();
}

Answer read_open_db_info(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, 1, d); error != kDlpOk) return fail(error);
  const OpenDatabase* open = opened(s, d[0]);
  if (open == nullptr) return fail(kDlpErrParam);
  Bytes out;
  put16(out, static_cast<std::uint16_t>(open->db->count()));
  return one(std::move(out));
}

Answer open_conduit(DlpServerState& s, const Request&) { return s.is_sync_cancelled ? fail(kDlpErrCancelSync) : ok(); }

Answer end_of_sync(DlpServerState& s, const Request&) {
  s.has_ended = true;
  return ok();
}

// What FindDB answers for `db`: its DBInfo (option 0x80) and its sizes
// (0x40, or 0x20 by handle, which adds the block and largest record sizes).
Answer found(DlpServerState& s, std::uint8_t options, const CardDatabase& db, bool is_by_handle) {
  Answer answer;
  if ((options & kFindAttributes) != 0) {
    Bytes info{0, 0};  // card 0
    put32(info, db.local_id);
    put32(info, handle_of(s, db));  // the open reference, 0 when not open
    put_db_info(info, s, db, kUnknownIndex);
    answer.arguments.emplace_back(kArg1, std::move(info));
  }
  if ((options & (kFindSizes | kFindMostRecord)) != 0) {
    std::uint64_t data_bytes = 0;
    std::size_t most_record_bytes = 0;
    for (const auto& record : db.records) {
      data_bytes += record.data.size();
      most_record_bytes = std::max(most_record_bytes, record.data.size());
    }
    Bytes sizes;
    put32(sizes, static_cast<std::uint32_t>(db.count()));
    put32(sizes, clamp32(db.file_bytes()));
    put32(sizes, clamp32(db.is_opaque() ? db.file_bytes() - kPdbHeaderBytes : data_bytes));
    if (is_by_handle) {
      put32(sizes, static_cast<std::uint32_t>(db.app_info.size()));
      put32(sizes, static_cast<std::uint32_t>(db.sort_info.size()));
      put32(sizes, static_cast<std::uint32_t>(most_record_bytes));
    }
    answer.arguments.emplace_back(kArg2, std::move(sizes));
  }
  return answer;
}

bool matches(const CardDatabase& db, FourCC type, FourCC creator) {
  return (type == 0 || db.type == type) && (creator == 0 || db.creator == creator);
}

Answer find_db(DlpServerState& s, const Request& request) {
  if (const Argument* by_name = request.find(kArg1)) {
    const auto d = by_name->data;
    if (d.size() < 3) return fail(kDlpErrArgSize);
    std::string name;
    if (const auto error = name_at(d, 2, name); error != kDlpOk) return fail(error);
    const CardDatabase* db = d[1] == 0 ? s.store->find(name) : nullptr;
    if (db == nullptr) return fail(kDlpErrNotFound);
    return found(s, d[0], *db, false);
  }
  if (const Argument* by_handle = request.find(kArg2)) {
    const auto d = by_handle->data;
    if (d.size() < 2) return fail(kDlpErrArgSize);
    const OpenDatabase* open = opened(s, d[1]);
    if (open == nullptr) return fail(kDlpErrParam);
    return found(s, d[0], *open->db, true);
  }
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg3, 10, d); error != kDlpOk) return fail(error);
  const FourCC type = get_be32(&d[2]);
  const FourCC creator = get_be32(&d[6]);
  if ((d[1] & kFindNewSearch) != 0) s.next_find = 0;
  const CardDatabase* hit = nullptr;
  if ((d[1] & kFindOnlyLatest) != 0) {
    // The highest version among the matches, once per search.
    for (std::size_t i = s.next_find; i < s.store->size(); ++i)
      if (const auto& db = s.store->at(i); matches(db, type, creator) && (hit == nullptr || db.version > hit->version))
        hit = &db;
    s.next_find = s.store->size();
  } else {
    for (; s.next_find < s.store->size() && hit == nullptr; ++s.next_find)
      if (matches(s.store->at(s.next_find), type, creator)) hit = &s.store->at(s.next_find);
  }
  if (hit == nullptr) return fail(kDlpErrNotFound);
  return found(s, d[0], *hit, false);
}

Answer set_db_info(DlpServerState& s, const Request& request) {
  std::span<const std::uint8_t> d;
  if (const auto error = need(request, kArg1, kSetDbInfoNameAt, d); error != kDlpOk) return fail(error);
  OpenDatabase* open = opened(s, d[0]);
  if (open == nullptr) return fail(kDlpErrParam);
  CardDatabase& db = *open->db;
  // The name is optional; an empty one keeps the database's.
  std::string name;
  if (d.size() > kSetDbInfoNameAt && d[kSetDbInfoNameAt] != 0) {
    if (const auto error = name_at(d, kSetDbInfoNameAt, name); error != kDlpOk) return fail(error);
    if (name != db.name && s.store->find(name) != nullptr) return fail(kDlpErrAlreadyExists);
  }
  const std::uint16_t clear = get_be16(&d[2]) & kSettableFlags;
  const std::uint16_t set = get_be16(&d[4]) & kSettableFlags;
  db.flags = static_cast<std::uint16_t>((db.flags & ~clear) | set);
  if (const std::uint16_t version = get_be16(&d[6]); version != kKeepVersion) db.version = version;
  if (const auto date = date_at(&d[8])) db.created = *date;
  if (const auto date = date_at(&d[16])) db.modified = *date;
  if (const auto date = date_at(&d[24])) db.backed_up = *date;
  if (const FourCC type = get_be32(&d[32]); type != 0) db.type = type;
  if (const FourCC creator = get_be32(&d[36]); creator != 0) db.creator = creator;
  if (!name.empty()) db.name = std::move(name);
  return ok();
}

// ---------------------------------------------------------------------------
// Dispatch

using Handler = Answer (*)(DlpServerState&, const Request&);

// Each function this handheld answers: its id, its name in messages, the
// first DLP version that has it (major << 8 | minor), and its handler. A
// function missing here, or newer than the reported version, is answered
// ILLEGAL_REQ.
struct Function {
  std::uint8_t id;
  std::string_view name;
  std::uint16_t since;
  Handler handle;
};

constexpr Function kFunctions[] = {
    {0x10, "ReadUserInfo", 0x0100, read_user_info},
    {0x12, "ReadSysInfo", 0x0100, read_sys_info},
    {0x15, "ReadStorageInfo", 0x0100, read_storage_info},
    {0x16, "ReadDBList", 0x0100, read_db_list},
    {0x17, "OpenDB", 0x0100, open_db},
    {0x18, "CreateDB", 0x0100, create_db},
    {0x19, "CloseDB", 0x0100, close_db},
    {0x1A, "DeleteDB", 0x0100, delete_db},
    {0x20, "ReadRecord", 0x0100, read_record},
    {0x21, "WriteRecord", 0x0100, write_record},
    {0x2A, "AddSyncLogEntry", 0x0100, add_sync_log_entry},
    {0x2B, "ReadOpenDBInfo", 0x0100, read_open_db_info},
    {0x2E, "OpenConduit", 0x0100, open_conduit},
    {0x2F, "EndOfSync", 0x0100, end_of_sync},
    {0x39, "FindDB", 0x0102, find_db},
    {0x3A, "SetDBInfo", 0x0102, set_db_info},
};
static_assert(std::ranges::is_sorted(kFunctions, {}, &Function::id));
static_assert(std::size(kFunctions) == 16);

const Function* function_of(std::uint8_t id) {
  const auto it = std::ranges::lower_bound(kFunctions, id, {}, &Function::id);
  return it != std::end(kFunctions) && it->id == id ? &*it : nullptr;
}

}  // namespace

Bytes dlp_error_answer(std::uint8_t function, std::uint16_t error) {
  return {static_cast<std::uint8_t>(function | kDlpAnswerFlag), 0, static_cast<std::uint8_t>(error >> 8),
          static_cast<std::uint8_t>(error)};
}

std::string dlp_function_name(std::uint8_t function) {
  if (const Function* known = function_of(function)) return std::string(known->name);
  std::string name = "function 0x";
  append_hex_byte(name, function);
  return name;
}

DlpServer::DlpServer(FakeStore& store, HandheldIdentity identity, bool is_sync_cancelled) {
  state_.store = &store;
  state_.identity = std::move(identity);
  state_.is_sync_cancelled = is_sync_cancelled;
}

void DlpServer::begin_session() {
  state_.open.clear();
  state_.next_find = 0;
  state_.has_ended = false;
}

void DlpServer::end_session() {
  for (auto& [handle, open] : state_.open) close_database(state_, *open.db, 0);
  state_.open.clear();
  state_.store->end_session();
}

Bytes DlpServer::answer(std::span<const std::uint8_t> request) {
  const std::uint8_t id = request.empty() ? 0 : request[0];
  const Function* function = function_of(id);
  const auto version = static_cast<std::uint16_t>(state_.identity.dlp_major << 8 | state_.identity.dlp_minor);
  if (function == nullptr || function->since > version) return dlp_error_answer(id, kDlpErrIllegalRequest);
  Request parsed;
  if (const auto error = parse_request(request, parsed); error != kDlpOk) return dlp_error_answer(id, error);
  return encode(id, function->handle(state_, parsed));
}

}  // namespace vellora::testing
