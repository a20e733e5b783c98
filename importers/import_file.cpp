// Opening, reading and clean-up around an importer's conversion.
#include "importers/import_file.h"

#include <cerrno>
#include <system_error>

#include "base/files.h"

namespace vellora {

namespace {

std::string errno_text(int error) { return std::generic_category().message(error); }

}  // namespace

std::string not_a_regular_file(const std::filesystem::path& source) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(source, error);
  switch (status.type()) {
    case fs::file_type::regular:
      return {};
    case fs::file_type::not_found:
      return "no such file";
    case fs::file_type::directory:
      return "is a folder, not a file";
    default:
      if (const std::string_view kind = special_file_kind(status.type()); !kind.empty())
        return "is " + std::string(kind) + ", not a regular file";
      return error ? error.message() : "is not a regular file";
  }
}

ImportResult import_file(const std::filesystem::path& source,
                         const std::filesystem::path& staging_folder, std::string_view file_name,
                         Conversion convert, SourceKind kind, const ImportOptions& options) {
  if (const std::string why = not_a_regular_file(source); !why.empty())
    return {ImportStatus::cannot_read, host_text(source) + ": " + why, 0};
  const UniqueFile input = open_file(source, "rb");
  if (!input) return {ImportStatus::cannot_read, host_text(source) + ": " + errno_text(errno), 0};
  ByteSource bytes(input.get());
  // The source is read once whole to learn whether it is transcoded, before
  // anything is staged.
  const auto transcoder = options.codec != nullptr ? options.codec->source_transcoder(kind) : nullptr;
  if (transcoder && !bytes.transcode_with(*transcoder))
    return {ImportStatus::cannot_read, host_text(source) + ": read failed: " + errno_text(bytes.read_error()), 0};

  StagingWriter writer;
  if (options.sink != nullptr) {
    writer.open_into(*options.sink, file_name);
  } else if (auto opened = writer.open(staging_folder, file_name); !opened) {
    remove_staging_files(staging_folder);
    return {ImportStatus::cannot_write, opened.reason, 0};
  }
  const auto discard = [&] {
    if (writer.target() == StagingTarget::files) remove_staging_files(staging_folder);
  };
  writer.set_paragraph_limit(options.max_paragraphs);
  const Converted converted = convert(bytes, writer);
  if (bytes.failed()) {
    const int error = bytes.read_error();
    writer.finish(converted.background);
    discard();
    return {ImportStatus::cannot_read, host_text(source) + ": read failed: " + errno_text(error), 0};
  }
  if (auto finished = writer.finish(converted.background); !finished) {
    discard();
    return {ImportStatus::cannot_write, finished.reason, 0};
  }
  ImportResult result{ImportStatus::ok, {}, writer.paragraphs()};
  result.conversion = converted.status;
  result.offset = converted.offset;
  result.incomplete = incomplete_reason(converted, !bytes.is_transcoding());
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
  writer.finish(convert(input, writer).background);
  return writer.take_bytes();
}

}  // namespace vellora
