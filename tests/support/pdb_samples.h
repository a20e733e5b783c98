// Databases in the PDB format for the tests of what writes and reads them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "docmodel/pdb_format.h"
#include "docmodel/records.h"

namespace vellora::testing {

inline std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

// The header of a document database named `name`, with every date and
// counter 0.
inline PdbHeader document_header(std::string name, std::uint16_t version = kDocumentVersion,
                                 FourCC type = kDocumentType) {
  PdbHeader header;
  header.name = std::move(name);
  header.version = version;
  header.type = type;
  header.creator = kDocumentCreator;
  return header;
}

// Three records with every flag, category and ID width: one of data, one
// empty, one with all flags, category 15 and the largest ID.
inline PdbDatabase sample_database() {
  PdbDatabase db;
  db.header = PdbHeader{.name = "sample",
                        .attributes = 0x0008,
                        .version = 3,
                        .created = 100,
                        .modified = 200,
                        .backed_up = 300,
                        .modification_number = 7,
                        .type = make_four_cc("DATA"),
                        .creator = make_four_cc("test"),
                        .unique_id_seed = 0x40};
  const auto a = bytes_of("abcd");
  const auto c = bytes_of("012345");
  (void)db.append_record({.data = a, .attributes = 0x40, .category = 1, .unique_id = 0x10});
  (void)db.append_record({.data = {}, .attributes = 0x00, .category = 0, .unique_id = 0x11});
  (void)db.append_record({.data = c, .attributes = 0xF0, .category = 15, .unique_id = 0xFFFFFF});
  return db;
}

}  // namespace vellora::testing
