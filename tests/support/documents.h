// Document and catalog databases placed straight onto the fake handheld.
#pragma once

#include <string>
#include <vector>

#include "conduit/catalog.h"
#include "docmodel/packer.h"
#include "docmodel/records.h"
#include "tests/support/fake_sync_manager.h"
#include "tests/support/paragraphs.h"

namespace vellora::testing {

// A document whose paragraphs are `texts`; "" is an empty line, "---" a rule.
inline FakeDatabase& put_document(FakeSyncManager& handheld, const std::string& name,
                                  const std::vector<std::string>& texts, std::uint16_t version = 2) {
  auto& db = handheld.add_database(name, kDocumentType, kDocumentCreator, version);
  FakeRecord header;
  header.data.resize(kHeaderRecordBytes);
  encode_header(header.data.data(), HeaderRecord{});
  db.records.push_back(header);
  for (const auto& text : texts) {
    ByteVector bytes;
    pack_paragraph(text.empty()    ? special(kEmptyParagraphCell)
                   : text == "---" ? special(kRuleCell, 1)
                                   : paragraph(text),
                   bytes);
    FakeRecord record;
    record.data.assign(bytes.begin(), bytes.end());
    db.records.push_back(record);
  }
  return db;
}

struct CatalogLine {
  std::string name;
  std::uint16_t category;
  bool marked;
};

inline FakeDatabase& put_catalog(FakeSyncManager& handheld, const std::vector<CatalogLine>& lines) {
  auto& db = handheld.add_database(std::string(kCatalogName), kCatalogType, kCatalogCreator, kCatalogVersion);
  for (const auto& line : lines) {
    CatalogEntry entry;
    std::copy(line.name.begin(), line.name.end(), entry.bytes.begin());
    entry.set_mark(line.marked ? 1 : 0);
    FakeRecord record;
    record.data.assign(entry.bytes.begin(), entry.bytes.end());
    record.category = line.category;
    db.records.push_back(record);
  }
  return db;
}

}  // namespace vellora::testing
