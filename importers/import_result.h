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
  // Non-empty when part of the source could not be converted: why, in
  // words that follow "FILE: ". The file must then not be taken as sent.
  std::string incomplete{};
  // The source was transcoded into the handheld's character set, and this
  // many of its characters, missing from that set, became '?'.
  bool was_transcoded = false;
  std::size_t replaced = 0;
  explicit operator bool() const { return status == ImportStatus::ok; }
};

// " (transcoded from UTF-8, 2 characters replaced by '?')" for the line
// that reports the file; empty when it was not transcoded.
inline std::string transcoding_note(const ImportResult& result) {
  if (!result.was_transcoded) return {};
  std::string note = " (transcoded from UTF-8";
  if (result.replaced > 0)
    note += ", " + std::to_string(result.replaced) + (result.replaced == 1 ? " character" : " characters") +
            " replaced by '?'";
  return note + ")";
}

}  // namespace vellora
