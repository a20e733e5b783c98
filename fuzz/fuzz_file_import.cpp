// Text, HTML or RTF bytes (the first byte chooses) written to a file and
// converted the way a sync converts a send-folder file: opened as the
// listed regular file, read in buffers and laid out on a second thread, in
// batches so small that every document crosses threads. The records must
// be byte for byte those of the same conversion from memory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "conduit/convert_file.h"
#include "conduit/document_types.h"
#include "docmodel/pipelined_sink.h"
#include "fuzz/fuzz_support.h"
#include "importers/html/html_importer.h"
#include "importers/rtf/rtf_importer.h"
#include "importers/text/text_importer.h"

namespace {

struct Kind {
  std::string_view extension;
  vellora::Conversion convert;
};

constexpr Kind kKinds[] = {
    {".txt", &vellora::stage_text}, {".htm", &vellora::stage_html}, {".rtf", &vellora::stage_rtf}};

// Small enough that a few paragraphs fill a batch.
constexpr std::size_t kTinyBatchBytes = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  if (size == 0) return 0;
  const Kind& kind = kKinds[data[0] % std::size(kKinds)];
  ++data;
  --size;
  const std::string name = "input" + std::string(kind.extension);
  const std::filesystem::path file = fuzz::scratch_folder() / name;
  fuzz::write_bytes(file, data, size);
  FileStamp listed;
  if (!stamp_entry(file, listed)) std::abort();

  ImportOptions options;
  options.listed_source = &listed;
  const FileConversion conversion = convert_file(*find_document_type(kind.extension), file, name,
                                                 fuzz::scratch_folder(), options, size, kTinyBatchBytes);
  if (!conversion.imported) {
    std::fprintf(stderr, "the file could not be imported: %s\n", conversion.imported.reason.c_str());
    std::abort();
  }
  if (!(conversion.imported.source_stamp == listed)) std::abort();
  const PackedDocument& from_file = conversion.document;

  PackedDocument from_memory;
  {
    DocumentPacker packer(from_memory, size);
    stage_bytes({data, size}, name, kind.convert, packer, kMaxParagraphs + 1);
  }
  if (from_file.bytes != from_memory.bytes || from_file.offsets != from_memory.offsets) {
    std::fprintf(stderr, "the file's records differ from those converted from memory\n");
    std::abort();
  }
  if (from_file.record_count() > 0) fuzz::check_packed(from_file);
  return 0;
}
