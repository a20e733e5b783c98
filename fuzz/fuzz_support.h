// Shared pieces of the fuzz targets: a scratch folder per process and a
// check that a packed document keeps every layout rule.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "docmodel/packer.h"
#include "docmodel/records.h"
#include "importers/import_file.h"

namespace vellora::fuzz {

// Never destroyed, so the exit handler that removes it can still use it.
inline const std::filesystem::path& scratch_folder() {
  static const auto* folder = [] {
    auto* path = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                           ("vellora-fuzz-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*path);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratch_folder(), ignored);
    });
    return path;
  }();
  return *folder;
}

inline void write_bytes(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  UniqueFile file = open_file(path, "wb");
  if (!file) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file.get());
}

// Aborts, so the fuzzer reports the input, when a packed document breaks a
// layout rule.
inline void check_packed(const PackedDocument& document) {
  std::vector<std::vector<std::uint8_t>> records;
  for (std::size_t i = 0; i < document.record_count(); ++i) {
    const auto record = document.record(i);
    records.emplace_back(record.begin(), record.end());
  }
  const auto problems = check_document(records);
  if (problems.empty()) return;
  for (const auto& problem : problems) std::fprintf(stderr, "layout: %s\n", problem.c_str());
  std::abort();
}

// Aborts when an importer's staging bytes do not pack (an importer must
// always stage valid paragraphs) or the packed document breaks a layout rule.
inline PackedDocument check_staged(const StagingBytes& staged) {
  PackedDocument document;
  const auto packed = pack_document(staged, document);
  if (!packed) {
    std::fprintf(stderr, "importer wrote invalid staging files: %s\n", packed.reason.c_str());
    std::abort();
  }
  check_packed(document);
  return document;
}

// Runs a conversion over the input as a whole, both through staging bytes
// and laid out as it goes, then once more with a small
// paragraph limit taken from the first byte, as the send pass sets one, so
// that stopping early is exercised too.
inline void check_conversion(const std::uint8_t* data, std::size_t size, std::string_view name, Conversion convert) {
  const PackedDocument from_staging = check_staged(import_bytes({data, size}, name, convert));

  // Laid out as a sync does it, paragraph by paragraph from the importer:
  // the same records byte for byte.
  PackedDocument streamed;
  {
    DocumentPacker packer(streamed, size);
    stage_bytes({data, size}, name, convert, packer);
    if (!packer.result() || streamed.bytes != from_staging.bytes || streamed.offsets != from_staging.offsets) {
      std::fprintf(stderr, "streamed layout differs from the staging files' layout\n");
      std::abort();
    }
  }

  const std::size_t limit = size == 0 ? 0 : data[0] % 8;
  StagingMemory memory;
  const Converted converted = stage_bytes({data, size}, name, convert, memory, limit);
  const StagingBytes limited = memory.take_bytes();
  if (limited.sizes.size() / 2 > limit) std::abort();
  // A loss is found at a byte of the input.
  if (!converted.is_complete() && converted.offset >= size) std::abort();
  check_staged(limited);
}

}  // namespace vellora::fuzz
