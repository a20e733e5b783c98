// What the exporter fuzz targets share: one export of the database the
// input describes into a scratch file, the checks that hold for every
// exporter, and the file's text for the target's own checks.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/files.h"
#include "conduit/document_types.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/memory_handheld.h"

namespace vellora::fuzz {

[[noreturn]] inline void fail(std::string_view target, std::string_view what) {
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(target.size()), target.data(), static_cast<int>(what.size()),
               what.data());
  std::abort();
}

inline std::size_t count_of(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

// Every export ends with an fsync; on a memory-backed folder that costs
// nothing, so the scratch file lives there when the host has one.
inline std::filesystem::path export_file_path(std::string_view extension) {
  std::error_code error;
  const std::filesystem::path memory_folder = "/dev/shm";
  const auto folder = std::filesystem::is_directory(memory_folder, error) ? memory_folder : scratch_folder();
  return folder / ("vellora-fuzz-" + std::to_string(::getpid()) + std::string(extension));
}

// Exports the database and returns the file's text, or nothing when the
// database holds no paragraph. Aborts when the export succeeds without a
// paragraph, fails with one, or leaves a file it did not report.
inline std::optional<std::string> export_text(MemoryHandheld& handheld, Exporter exporter, const ExportOptions& options,
                                              std::string_view target, const std::filesystem::path& output) {
  const ExportResult result = exporter(handheld, MemoryHandheld::kDatabaseName, output, options);
  const bool has_file = std::filesystem::exists(output);
  if (handheld.record_count() < 2) {
    if (result.status != ExportStatus::no_paragraphs || has_file)
      fail(target, "a database without paragraphs was exported");
    return std::nullopt;
  }
  if (!result || !has_file) fail(target, result.reason);
  std::string text;
  {
    UniqueFile file = open_file(output, "rb");
    if (!file) fail(target, "the file cannot be read back");
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) text.append(chunk, got);
  }
  std::error_code ignored;
  std::filesystem::remove(output, ignored);
  return text;
}

}  // namespace vellora::fuzz
