// Fuzzes the PDB reader and the folder handheld's lookups. A file that
// parses must survive serialize + parse unchanged, and the header-only
// parse used by lookups must agree with the full parse. The input is then
// dropped into a folder as a .pdb, opened with the record-by-record reader,
// which must accept and reject it as the full parse does and read back the
// same records, and read back through SyncManager calls.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"

namespace {

using namespace vellora;
using namespace vellora::linux_host;

void remove_folder();

// One folder per process, removed at exit. Never destroyed, so the exit
// handler can still use it.
const std::filesystem::path& fuzz_folder() {
  static const auto* folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellora-fuzz-pdb-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit(remove_folder);
    return new std::filesystem::path(pattern);
  }();
  return *folder;
}

void remove_folder() {
  std::error_code ec;
  std::filesystem::remove_all(fuzz_folder(), ec);
}

void check_round_trip(std::span<const std::uint8_t> bytes, PdbResult& parsed, PdbDatabase& db) {
  parsed = parse_pdb(bytes, db);
  const bool is_valid = static_cast<bool>(parsed);
  PdbHeader header;
  std::uint16_t count = 0;
  if (static_cast<bool>(parse_pdb_header(bytes, bytes.size(), header, count)) != is_valid) std::abort();
  if (!is_valid) return;
  if (!(header == db.header) || count != db.record_count()) std::abort();
  const auto written = serialize_pdb(db);
  PdbDatabase again;
  if (written.empty() || !parse_pdb(written, again) || !(again == db)) std::abort();
}

const std::filesystem::path& write_input(std::span<const std::uint8_t> bytes) {
  static const auto file = fuzz_folder() / "input.pdb";
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return file;
}

// The reader opens from the header and record list alone; it must reach
// the full parse's verdict, give the same reason for a rejection, and read
// each record, whole or in part, as the full parse holds it.
void check_reader(const std::filesystem::path& file, const PdbResult& parsed, const PdbDatabase& db) {
  PdbReader reader;
  const auto opened = reader.open(file);
  if (opened.status != parsed.status || opened.offset != parsed.offset ||
      (!parsed && opened.reason != file.string() + ": " + parsed.reason))
    std::abort();
  if (!parsed) return;
  if (!(reader.header() == db.header) || reader.record_count() != db.record_count()) std::abort();
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < db.record_count(); ++i) {
    const auto want = db.record(i);
    const auto& entry = reader.entry(i);
    if (entry.size_bytes != want.data.size() || entry.attributes != want.attributes ||
        entry.category != want.category || entry.unique_id != want.unique_id)
      std::abort();
    if (!reader.read_record(i, bytes) || bytes.size() != want.data.size() ||
        !std::equal(bytes.begin(), bytes.end(), want.data.begin()))
      std::abort();
    // Every byte of the buffer starts different from what it should get.
    std::vector<std::uint8_t> head(want.data.size() / 2);
    for (std::size_t k = 0; k < head.size(); ++k) head[k] = static_cast<std::uint8_t>(~want.data[k]);
    if (!reader.read_record(i, std::span(head)) || !std::equal(head.begin(), head.end(), want.data.begin()))
      std::abort();
    bytes.resize(want.data.size() + 1);
    if (reader.read_record(i, std::span(bytes)).status != PdbStatus::no_record) std::abort();
  }
  if (reader.read_record(db.record_count(), bytes).status != PdbStatus::no_record) std::abort();
}

void exercise_handheld(const std::filesystem::path& file, bool is_valid, const PdbDatabase& db) {
  PdbFolderHandheld handheld(file.parent_path());
  const std::string name = is_valid ? db.header.name : "input";
  DbInfo info;
  const bool is_found =
      handheld.SyncFindDbByName(FindDbRequest{.options = 0x80, .reserved = 0, .name = name}, info) == kSyncOk;
  if (is_found != is_valid) std::abort();
  CardInfo card;
  (void)handheld.SyncReadSingleCardInfo(card);
  DbHandle handle = 0;
  if (handheld.SyncOpenDB(name, 0, handle, kOpenRead) != kSyncOk) {
    if (is_valid) std::abort();
    return;
  }
  std::uint16_t count = 0;
  (void)handheld.SyncGetDBRecordCount(handle, count);
  (void)handheld.SyncReadOpenDbInfo(handle, info);
  if (count != db.record_count() || info.record_count != count) std::abort();
  static std::vector<std::uint8_t> large(0xFFFF);
  std::uint8_t small[4];
  for (std::uint16_t i = 0; i < count; ++i) {
    for (const auto& [buffer, size] :
         {std::pair{small, std::uint16_t{sizeof small}}, std::pair{large.data(), std::uint16_t{0xFFFF}}}) {
      RecordDescriptor record{.handle = handle,
                              .record_id = 0,
                              .index = i,
                              .attributes = 0,
                              .category = 0,
                              .size = 0,
                              .buffer_size = size,
                              .data = buffer};
      if (handheld.SyncReadRecordByIndex(record) != kSyncOk) std::abort();
      const auto want = db.record(i);
      const std::size_t copied = std::min<std::size_t>(want.data.size(), size);
      if (record.size != want.data.size() || record.record_id != want.unique_id ||
          (copied > 0 && std::memcmp(buffer, want.data.data(), copied) != 0))
        std::abort();
    }
  }
  (void)handheld.SyncCloseDB(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  PdbResult parsed;
  PdbDatabase db;
  check_round_trip(bytes, parsed, db);
  const auto& file = write_input(bytes);
  check_reader(file, parsed, db);
  exercise_handheld(file, static_cast<bool>(parsed), db);
  return 0;
}
