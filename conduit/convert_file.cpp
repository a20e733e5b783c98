// A PC file to a packed document, and the name it takes on the handheld.
#include "conduit/convert_file.h"

#include "base/ascii.h"
#include "docmodel/staging.h"

namespace vellora {

std::string handheld_file_name(std::string_view file_name, const TextCodec* codec) {
  std::string name = to_lower_ascii(file_name);
  if (name.size() > 5 && name.ends_with(".html")) name.pop_back();
  return codec == nullptr ? name : codec->name_to_handheld(name);
}

std::string document_name_for(std::string_view file_name, const TextCodec* codec) {
  return handheld_name(handheld_file_name(file_name, codec));
}

FileConversion convert_file(const DocumentType& type, const std::filesystem::path& source, std::string_view file_name,
                            const std::filesystem::path& work_folder, ImportOptions options, std::size_t source_bytes,
                            std::size_t batch_bytes) {
  FileConversion conversion;
  // Staging stops one paragraph past what a database holds: enough to know
  // the file is too long, without reading all of a huge file.
  options.max_paragraphs = kMaxParagraphs + 1;
  // The importer's paragraphs are laid out as they come, in the staging
  // form, so no staging files pass through a folder.
  DocumentPacker packer(conversion.document, source_bytes);
  PipelinedSink pipeline(packer, batch_bytes);
  options.sink = type.is_laid_out_while_read ? static_cast<StagingSink*>(&pipeline) : &packer;
  conversion.imported = type.import(source, work_folder, handheld_file_name(file_name, options.codec), options);
  pipeline.finish();
  conversion.packed = packer.result();

  const ImportResult& imported = conversion.imported;
  const auto set = [&conversion](FileConversionStatus status, std::string reason) {
    conversion.status = status;
    conversion.reason = std::move(reason);
  };
  if (!imported)
    set(FileConversionStatus::not_imported, imported.reason);
  else if (!imported.incomplete.empty())
    set(FileConversionStatus::incomplete, imported.incomplete);
  else if (!conversion.packed)
    set(FileConversionStatus::not_packed, conversion.packed.reason);
  else if (conversion.document.paragraphs == 0)
    set(FileConversionStatus::empty, "no text could be read from it");
  else if (conversion.document.was_cut)
    set(FileConversionStatus::too_long,
        "it has more than " + with_thousands(kMaxParagraphs) + " paragraphs, more than a handheld document holds");
  return conversion;
}

}  // namespace vellora
