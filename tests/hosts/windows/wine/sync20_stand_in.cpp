// SYNC20.dll for the Windows tests: the Sync Manager's exports, with its
// names and calling convention (hosts/windows/palm_libraries.h), over a
// PDB folder named by the environment variable VELLORA_HANDHELD. Packed
// records are decoded and answered with the same layouts the conduit
// library encodes (hosts/windows/packed_records.h); "not found" is the
// Sync Manager's own code, which the conduit's adapter translates.
// VELLORA_HANDHELD_TIME, when set, is the handheld time (seconds since
// 1904) given to every new date, so two sessions can be compared whole.
// VELLORA_FAIL_CALL=NAME[:N] makes the export NAME fail from its Nth call
// on (the first by default), as a handheld does when the cable is pulled,
// so each call's failure can be tried through the whole library.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "hosts/windows/packed_records.h"
#include "tests/hosts/windows/wine/pdb_folder_store.h"

namespace {

using namespace vellora;

constexpr SyncStatus kPalmNotFound = 0x4003;
constexpr SyncStatus kNoHandheld = 1;
constexpr SyncStatus kInjectedFailure = 0x4010;
constexpr std::int64_t kEpochOffsetSeconds = 2082844800;  // 1904-01-01 to 1970-01-01

std::uint32_t handheld_now() {
  if (const char* fixed = std::getenv("VELLORA_HANDHELD_TIME"); fixed != nullptr && *fixed != '\0')
    return static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10));
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(std::time(nullptr)) + kEpochOffsetSeconds);
}

stand_in::PdbFolderStore* store() {
  static std::unique_ptr<stand_in::PdbFolderStore> the_store;
  if (!the_store) {
    const char* folder = std::getenv("VELLORA_HANDHELD");
    if (folder == nullptr || *folder == '\0') return nullptr;
    the_store = std::make_unique<stand_in::PdbFolderStore>(folder, handheld_now);
  }
  return the_store.get();
}

// Whether this call of `name` is one VELLORA_FAIL_CALL makes fail.
bool fails(const char* name) {
  static const std::string failing = [] {
    const char* setting = std::getenv("VELLORA_FAIL_CALL");
    return std::string(setting == nullptr ? "" : setting);
  }();
  static unsigned long calls = 0;
  if (failing.empty()) return false;
  const std::size_t colon = failing.find(':');
  if (failing.compare(0, colon, name) != 0) return false;
  const unsigned long from = colon == std::string::npos ? 1 : std::strtoul(failing.c_str() + colon + 1, nullptr, 10);
  return ++calls >= from;
}

SyncStatus as_palm_status(SyncStatus status) { return status == kSyncErrNotFound ? kPalmNotFound : status; }

template <std::size_t N>
std::array<std::uint8_t, N> load(const std::uint8_t* bytes) {
  std::array<std::uint8_t, N> out{};
  std::memcpy(out.data(), bytes, N);
  return out;
}

template <std::size_t N>
void store_back(const std::array<std::uint8_t, N>& packed, std::uint8_t* bytes) {
  std::memcpy(bytes, packed.data(), N);
}

std::uint32_t get_le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The data address of a packed record descriptor (bytes 20-23): the stand-in
// runs in the conduit's 32-bit process, so the address is the pointer.
std::uint8_t* record_data(const std::uint8_t* descriptor) {
  return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(get_le32(descriptor + 20)));
}

}  // namespace

#define STAND_IN_EXPORT extern "C" __declspec(dllexport)

STAND_IN_EXPORT std::int32_t SyncRegisterConduit(std::uint32_t* conduit_handle) {
  if (fails("SyncRegisterConduit")) return kInjectedFailure;
  auto* s = store();
  if (s == nullptr) return kNoHandheld;
  ConduitHandle handle = 0;
  const SyncStatus status = s->SyncRegisterConduit(handle);
  *conduit_handle = handle;
  return status;
}

STAND_IN_EXPORT std::int32_t SyncUnRegisterConduit(std::uint32_t conduit_handle) {
  if (fails("SyncUnRegisterConduit")) return kInjectedFailure;
  auto* s = store();
  return s == nullptr ? kNoHandheld : s->SyncUnRegisterConduit(conduit_handle);
}

STAND_IN_EXPORT std::int32_t SyncOpenDB(const char* name, std::int32_t card, std::uint8_t* db_handle,
                                        std::uint8_t mode) {
  if (fails("SyncOpenDB")) return kInjectedFailure;
  auto* s = store();
  if (s == nullptr) return kNoHandheld;
  return as_palm_status(s->SyncOpenDB(name, static_cast<std::uint8_t>(card), *db_handle, mode));
}

STAND_IN_EXPORT std::int32_t SyncCreateDB(std::uint8_t* create_db_record) {
  if (fails("SyncCreateDB")) return kInjectedFailure;
  auto* s = store();
  if (s == nullptr) return kNoHandheld;
  CreateDbRecord record;
  win32::decode_create_db_record(load<win32::kCreateDbRecordBytes>(create_db_record), record);
  const SyncStatus status = s->SyncCreateDB(record);
  create_db_record[0] = record.handle;
  return status;
}

STAND_IN_EXPORT std::int32_t SyncCloseDB(std::uint8_t db_handle) {
  if (fails("SyncCloseDB")) return kInjectedFailure;
  auto* s = store();
  return s == nullptr ? kNoHandheld : s->SyncCloseDB(db_handle);
}

STAND_IN_EXPORT std::int32_t SyncDeleteDB(const char* name, std::int32_t card) {
  if (fails("SyncDeleteDB")) return kInjectedFailure;
  auto* s = store();
  return s == nullptr ? kNoHandheld : as_palm_status(s->SyncDeleteDB(name, static_cast<std::uint8_t>(card)));
}

// The descriptor comes back whole, its data address unchanged.
static std::int32_t record_call(std::uint8_t* descriptor,
                                SyncStatus (stand_in::PdbFolderStore::*call)(RecordDescriptor&)) {
  auto* s = store();
  if (s == nullptr) return kNoHandheld;
  RecordDescriptor record;
  win32::decode_record_descriptor(load<win32::kRecordDescriptorBytes>(descriptor), record);
  std::uint8_t* data = record_data(descriptor);
  record.data = data;
  const SyncStatus status = (s->*call)(record);
  store_back(
      win32::encode_record_descriptor(record, static_cast<win32::Address32>(reinterpret_cast<std::uintptr_t>(data))),
      descriptor);
  return as_palm_status(status);
}

STAND_IN_EXPORT std::int32_t SyncWriteRec(std::uint8_t* record_descriptor) {
  if (fails("SyncWriteRec")) return kInjectedFailure;
  return record_call(record_descriptor, &stand_in::PdbFolderStore::SyncWriteRec);
}

STAND_IN_EXPORT std::int32_t SyncReadRecordByIndex(std::uint8_t* record_descriptor) {
  if (fails("SyncReadRecordByIndex")) return kInjectedFailure;
  return record_call(record_descriptor, &stand_in::PdbFolderStore::SyncReadRecordByIndex);
}

STAND_IN_EXPORT std::int32_t SyncFindDbByName(std::uint8_t* find_request, std::uint8_t* db_info) {
  if (fails("SyncFindDbByName")) return kInjectedFailure;
  auto* s = store();
  if (s == nullptr) return kNoHandheld;
  FindDbRequest request;
  request.options = find_request[0];
  request.reserved = get_le32(find_request + 1);
  request.name = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(get_le32(find_request + 5)));
  DbInfo found;
  const SyncStatus status = s->SyncFindDbByName(request, found);
  if (status == kSyncOk) store_back(win32::encode_db_info(found), db_info);
  return as_palm_status(status);
}

STAND_IN_EXPORT std::int32_t SyncReadSingleCardInfo(std::uint8_t* card_info) {
  if (fails("SyncReadSingleCardInfo")) return kInjectedFailure;
  auto* s = store();
  if (s == nullptr) return kNoHandheld;
  CardInfo info;
  info.card = card_info[0];
  const SyncStatus status = s->SyncReadSingleCardInfo(info);
  if (status == kSyncOk) store_back(win32::encode_card_info(info), card_info);
  return status;
}

STAND_IN_EXPORT std::int32_t SyncGetDBRecordCount(std::uint8_t db_handle, std::uint16_t* count) {
  if (fails("SyncGetDBRecordCount")) return kInjectedFailure;
  auto* s = store();
  return s == nullptr ? kNoHandheld : s->SyncGetDBRecordCount(db_handle, *count);
}

STAND_IN_EXPORT std::int32_t SyncReadOpenDbInfo(std::uint8_t* open_db_info_request, std::uint8_t* db_info) {
  if (fails("SyncReadOpenDbInfo")) return kInjectedFailure;
  auto* s = store();
  if (s == nullptr) return kNoHandheld;
  DbInfo info;
  const SyncStatus status = s->SyncReadOpenDbInfo(open_db_info_request[1], info);
  if (status == kSyncOk) store_back(win32::encode_db_info(info), db_info);
  return status;
}

STAND_IN_EXPORT std::uint16_t SyncHostToHHWord(std::uint16_t value) {
  return static_cast<std::uint16_t>(value << 8 | value >> 8);
}

STAND_IN_EXPORT std::uint32_t SyncHostToHHDWord(std::uint32_t value) {
  return value << 24 | (value & 0xFF00) << 8 | (value >> 8 & 0xFF00) | value >> 24;
}

STAND_IN_EXPORT std::uint16_t SyncHHToHostWord(std::uint16_t value) {
  return static_cast<std::uint16_t>(value << 8 | value >> 8);
}
