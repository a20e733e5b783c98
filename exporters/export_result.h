// What every exporter reports. An export either writes its whole output
// file or reports why not; a failed export leaves no partial output behind.
#pragma once

#include <string>

namespace vellora {

enum class ExportStatus {
  ok,
  not_found,      // no database of that name could be opened
  no_paragraphs,  // the database holds only its header record: no file is written
  wrong_version,  // not a version 2 document database: left alone
  read_failed,    // a record could not be read
  cannot_write,   // the output file could not be written
};

struct ExportResult {
  ExportStatus status = ExportStatus::ok;
  std::string reason;  // one line
  explicit operator bool() const { return status == ExportStatus::ok; }
};

}  // namespace vellora
