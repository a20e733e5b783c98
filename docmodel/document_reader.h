// Reading a document database back from the handheld, for every exporter:
// open by name, check that it is a document of the right version, count
// its records, and read each record whole (up to the 65,535 bytes a record
// can hold) into a decoded form whose every count has been checked against
// the bytes read. Exporters never see raw record bytes, so none of them can
// read past a record however it was damaged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "docmodel/records.h"
#include "platform/sync_manager.h"

namespace vellora {

enum class DocumentStatus {
  ok,
  not_found,      // no database of that name could be opened
  no_paragraphs,  // the database holds only its header record
  wrong_type,     // a database of another application
  wrong_version,  // not a version 2 document database
  read_failed,    // a Sync Manager call failed
};

struct DocumentResult {
  DocumentStatus status = DocumentStatus::ok;
  std::string reason;  // one line naming the database
  explicit operator bool() const { return status == DocumentStatus::ok; }
};

// A paragraph record as decoded for export. Bytes a record lacks read as
// zero, as they would from a zero-filled read buffer; a text record keeps
// the text it holds and its line and run entries up to the first one that
// does not fit (a cut line's run count is the runs kept), with runs cut so
// that together they never claim more text than there is.
struct DocumentParagraph {
  enum class Kind { text, empty_line, rule, other } kind = Kind::other;
  TextRecord text;
  RuleRecord rule;
};

// Opens one database for reading and closes it when destroyed.
class DocumentReader {
 public:
  explicit DocumentReader(SyncManager& sync) : sync_(sync) {}
  ~DocumentReader();
  DocumentReader(const DocumentReader&) = delete;
  DocumentReader& operator=(const DocumentReader&) = delete;

  // Opens `name` on card 0 in read-exclusive mode (0x90), counts its
  // records and checks its version and type. A database that fails a check
  // is closed again.
  DocumentResult open(std::string_view name);
  std::uint16_t record_count() const { return count_; }

  // Reads record `index` whole.
  DocumentResult read_record(std::uint16_t index, std::vector<std::uint8_t>& bytes);
  // Record 0: the document's header.
  DocumentResult read_header(HeaderRecord& out);
  // Records 1 to count - 1.
  DocumentResult read_paragraph(std::uint16_t index, DocumentParagraph& out);

 private:
  DocumentResult fail(DocumentStatus status, const std::string& what, SyncStatus error);

  SyncManager& sync_;
  std::string name_;
  DbHandle handle_ = 0;
  bool is_open_ = false;
  std::uint16_t count_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> record_;  // the last record read_paragraph read
};

// The decoding read_paragraph applies to a record's bytes.
DocumentParagraph decode_for_export(std::span<const std::uint8_t> bytes);

}  // namespace vellora
