// The handheld's catalog database, "Vellora file DB": one 40-byte record
// per document on the handheld, where the user marks documents to copy to
// the PC. Bytes 0-37 hold the document's database name (zero-terminated),
// bytes 38-39 the export mark; the record's category is the document type.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sync_manager.h"

namespace vellora {

inline constexpr std::string_view kCatalogName = "Vellora file DB";
inline constexpr FourCC kCatalogType = make_four_cc("VLdb");
inline constexpr FourCC kCatalogCreator = make_four_cc("bhVL");
constexpr std::uint16_t kCatalogVersion = 10;
constexpr std::size_t kCatalogRecordBytes = 40;
constexpr std::size_t kCatalogNameBytes = 38;
constexpr std::uint8_t kCatalogOpenMode = kOpenRead | kOpenWrite | kOpenExclusive;  // 0xD0

struct CatalogEntry {
  std::array<std::uint8_t, kCatalogRecordBytes> bytes{};
  std::uint16_t category = 0;

  std::string name() const;  // the text before the first zero of bytes 0-37
  bool is_marked() const;
  void set_mark(std::uint16_t mark);  // big-endian, as the handheld stores it
};

enum class CatalogStatus {
  ok,
  missing,  // no database of that name
  empty,    // the catalog holds no record
  foreign,  // a database of another application has the catalog's name
  failed,   // it is there but cannot be read (damaged, or a call failed)
};

struct CatalogResult {
  CatalogStatus status = CatalogStatus::ok;
  std::string reason;  // one line, for foreign and failed; the caller names the catalog
  explicit operator bool() const { return status == CatalogStatus::ok; }
};

// Reads every record of the catalog. No database of that name: `missing`;
// no records: `empty`; another application's database: `foreign`, left
// closed and untouched; a catalog that cannot be opened or read: `failed`,
// with `out` unusable. Only `ok` and `empty` may be rebuilt.
CatalogResult read_catalog(SyncManager& sync, std::vector<CatalogEntry>& out);

// Deletes the catalog and writes it anew with `entries`, in order, with
// version 10 and flags 0. A failed create or write is tried once more;
// nothing is written without a database to write to.
CatalogResult rebuild_catalog(SyncManager& sync, const std::vector<CatalogEntry>& entries);

}  // namespace vellora
