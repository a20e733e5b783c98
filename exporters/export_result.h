// What every exporter reports. An export either writes its whole output
// file or reports why not; a failed export leaves no partial output behind.
#pragma once

#include <string>

#include "docmodel/document_reader.h"

namespace vellora {

enum class ExportStatus {
  ok,
  not_found,      // no database of that name could be opened
  no_paragraphs,  // the database holds only its header record: no file is written
  wrong_type,     // a database of another application: left alone
  wrong_version,  // not a version 2 document database: left alone
  read_failed,    // a record could not be read
  cannot_write,   // the output file could not be written
};

struct ExportResult {
  ExportStatus status = ExportStatus::ok;
  std::string reason;  // one line
  explicit operator bool() const { return status == ExportStatus::ok; }
};

// The export's result when reading the database failed.
inline ExportResult export_failure(const DocumentResult& read) {
  ExportStatus status = ExportStatus::read_failed;
  switch (read.status) {
    case DocumentStatus::ok: status = ExportStatus::ok; break;
    case DocumentStatus::not_found: status = ExportStatus::not_found; break;
    case DocumentStatus::no_paragraphs: status = ExportStatus::no_paragraphs; break;
    case DocumentStatus::wrong_type: status = ExportStatus::wrong_type; break;
    case DocumentStatus::wrong_version: status = ExportStatus::wrong_version; break;
    case DocumentStatus::read_failed: status = ExportStatus::read_failed; break;
  }
  return {status, read.reason};
}

}  // namespace vellora
