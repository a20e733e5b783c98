// Opening, reading and clean-up around an importer's conversion.
#include "importers/import_file.h"

#include <cerrno>
#include <system_error>

#include "docmodel/files.h"

namespace vellora {

namespace {

std::string errno_text(int error) { return std::generic_category().message(error); }

}  // namespace

ImportResult import_file(const std::filesystem::path& source,
                         const std::filesystem::path& staging_folder, std::string_view file_name,
                         Conversion convert, SourceKind kind, const ImportOptions& options) {
  const UniqueFile input = open_file(source, "rb");
  if (!input) return {ImportStatus::cannot_read, source.string() + ": " + errno_text(errno), 0};
  ByteSource bytes(input.get());
  // The source is read once whole to learn whether it is transcoded, before
  // anything is staged.
  const auto transcoder = options.codec != nullptr ? options.codec->source_transcoder(kind) : nullptr;
  if (transcoder && !bytes.transcode_with(*transcoder))
    return {ImportStatus::cannot_read, source.string() + ": read failed: " + errno_text(bytes.read_error()), 0};

  StagingWriter writer;
  if (options.sink != nullptr) {
    writer.open_into(*options.sink, file_name);
  } else if (auto opened = writer.open(staging_folder, file_name); !opened) {
    remove_staging_files(staging_folder);
    return {ImportStatus::cannot_write, opened.reason, 0};
  }
  const auto discard = [&] {
    if (options.sink == nullptr) remove_staging_files(staging_folder);
  };
  writer.set_paragraph_limit(options.max_paragraphs);
  const std::uint8_t background = convert(bytes, writer);
  if (bytes.failed()) {
    const int error = bytes.read_error();
    writer.finish(background);
    discard();
    return {ImportStatus::cannot_read, source.string() + ": read failed: " + errno_text(error), 0};
  }
  if (auto finished = writer.finish(background); !finished) {
    discard();
    return {ImportStatus::cannot_write, finished.reason, 0};
  }
  ImportResult result{ImportStatus::ok, {}, writer.paragraphs()};
  if (bytes.is_transcoding()) {
    result.was_transcoded = true;
    result.replaced = transcoder->replaced();
  }
  return result;
}

StagingBytes import_bytes(std::span<const std::uint8_t> bytes, std::string_view file_name,
                          Conversion convert) {
  StagingWriter writer;
  writer.open_in_memory(file_name);
  ByteSource input(bytes);
  writer.finish(convert(input, writer));
  return writer.take_bytes();
}

}  // namespace vellora
