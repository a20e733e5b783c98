// One road from a PC file to a packed document, for a sync and for the
// command line alike: the importer the file's type names, its paragraphs
// laid out as they come (on a second thread where reading costs as much
// as laying out), then the checks that make the result a whole document
// or say why it is not one.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "conduit/document_types.h"
#include "docmodel/packer.h"
#include "docmodel/pipelined_sink.h"
#include "importers/import_file.h"
#include "platform/text_codec.h"

namespace vellora {

// What became of the file, in the order the checks are made: the first
// that applies is the status.
enum class FileConversionStatus {
  converted,     // a whole document
  not_imported,  // the importer failed; nothing was read to keep
  incomplete,    // the importer stopped early; the document holds what came before
  not_packed,    // the layout refused a paragraph
  empty,         // not one paragraph
  too_long,      // more paragraphs than a database holds; the document holds the first ones
};

struct FileConversion {
  FileConversionStatus status = FileConversionStatus::converted;
  std::string reason;  // why, for every status but converted
  ImportResult imported;
  StagingResult packed;
  PackedDocument document;

  explicit operator bool() const { return status == FileConversionStatus::converted; }
};

// The PC file name `file_name` as its document is named from: lower
// case, a ".html" file as ".htm", in the handheld's characters (`codec`,
// null for none). What an importer is given.
std::string handheld_file_name(std::string_view file_name, const TextCodec* codec);

// The name that document has on the handheld: handheld_file_name cut by
// the name rule to what a database name holds. The characters change
// before the cut, so a cut never splits one.
std::string document_name_for(std::string_view file_name, const TextCodec* codec);

// Converts `source`, a file of `type` named `file_name` on the PC, with
// the importer's `options` (registry, converters, codec, listed source,
// converter announcement); the sink and the paragraph limit are set here.
// A text converter's temporary file goes into `work_folder`.
// `source_bytes` sizes the first reserve; `batch_bytes` is how much text
// the second thread is handed at a time.
FileConversion convert_file(const DocumentType& type, const std::filesystem::path& source, std::string_view file_name,
                            const std::filesystem::path& work_folder, ImportOptions options, std::size_t source_bytes,
                            std::size_t batch_bytes = kPipelineBatchBytes);

}  // namespace vellora
