// What every importer reports: whether the staging files were written, and
// why not. An importer converts as far as its input can be read; a source it
// cannot read at all leaves no staging files behind.
#pragma once

#include <cstddef>
#include <string>

namespace vellora {

// cannot_convert: a converter failed, or no converter takes the file.
enum class ImportStatus { ok, cannot_read, cannot_write, cannot_convert };

struct ImportResult {
  ImportStatus status = ImportStatus::ok;
  std::string reason;          // one line naming the file
  std::size_t paragraphs = 0;  // paragraphs staged
  explicit operator bool() const { return status == ImportStatus::ok; }
};

}  // namespace vellora
