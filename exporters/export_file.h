// The file an exporter writes. It is created (or replaced) when opened,
// removed again when the export ends without finishing it, so a failed
// export never leaves a partial file, and on disk before finish() reports
// success, so the rename that follows can never expose a partial file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "base/files.h"
#include "exporters/export_result.h"

namespace vellora {

class ExportFile {
 public:
  // With `leaves_flush_pending`, finish() closes without flushing.
  explicit ExportFile(std::filesystem::path path, bool leaves_flush_pending = false)
      : path_(std::move(path)), leaves_flush_pending_(leaves_flush_pending) {}
  ~ExportFile();
  ExportFile(const ExportFile&) = delete;
  ExportFile& operator=(const ExportFile&) = delete;

  ExportResult open();
  // False on a write error; failure() then says why.
  bool write(std::string_view bytes);
  // Makes the file durable (unless the caller will) and closes it; a
  // failure removes it.
  ExportResult finish();
  // The write error just seen, naming the file.
  ExportResult failure() const;

 private:
  std::filesystem::path path_;
  UniqueFile file_;
  bool is_finished_ = false;
  bool leaves_flush_pending_ = false;
};

}  // namespace vellora
