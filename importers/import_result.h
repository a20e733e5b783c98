// What every importer reports: whether the staging files were written, and
// why not. An importer converts as far as its input can be read; a source it
// cannot read at all leaves no staging files behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/files.h"

namespace vellora {

// What a conversion found that cost it part of its source. It still
// converts as far as the source can be read and keeps what it got; the
// status says why the rest is missing, for the one-line message.
enum class ConversionStatus : std::uint8_t {
  complete,
  stray_closing_brace,  // RTF: a '}' that closes no group, with text after it
  bad_hex_escape,       // RTF: a hex escape holding a byte that is no hex digit
  title_too_long,       // HTML: a title cut to kMaxTitleChars
};

// HTML titles longer than this are cut.
inline constexpr std::size_t kMaxTitleChars = 254;

// What a conversion returns besides the paragraphs it staged.
struct Converted {
  std::uint8_t background = 0;  // the document's background, a palette index
  ConversionStatus status = ConversionStatus::complete;
  std::uint64_t offset = 0;  // the byte of the input at which the loss was found
  bool is_complete() const { return status == ConversionStatus::complete; }
};

// Why a conversion is incomplete, in words that follow "FILE: ", with the
// offset unless `offset_is_the_files` is false (it then counts transcoded
// bytes, which would mislead); empty for a complete one.
std::string incomplete_reason(const Converted& converted, bool offset_is_the_files = true);

// cannot_convert: a converter failed, or no converter takes the file.
// changed: the source was written, cut or replaced while it was read, so
// what was read is no version of it.
enum class ImportStatus { ok, cannot_read, cannot_write, cannot_convert, changed };

struct ImportResult {
  ImportStatus status = ImportStatus::ok;
  std::string reason;          // one line naming the file
  std::size_t paragraphs = 0;  // paragraphs staged
  // Non-empty when part of the source could not be converted: why, in
  // words that follow "FILE: ", from the status and offset below. The file
  // must then not be taken as sent.
  std::string incomplete{};
  ConversionStatus conversion = ConversionStatus::complete;
  std::uint64_t offset = 0;
  // The source was transcoded into the handheld's character set, and this
  // many of its characters, missing from that set, became '?'.
  bool was_transcoded = false;
  std::size_t replaced = 0;
  // The source as it was when the import had read it: a sync deletes it
  // only while it still has this stamp.
  FileStamp source_stamp{};
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
