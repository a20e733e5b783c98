// Opening, reading and clean-up around an importer's conversion.
#include "importers/import_file.h"

#include <cerrno>
#include <system_error>

#include "base/files.h"

namespace vellora {

std::string not_a_regular_file(const std::filesystem::path& source) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(source, error);
  switch (status.type()) {
    case fs::file_type::regular: return {};
    case fs::file_type::not_found: return "no such file";
    case fs::file_type::directory: return "is a folder, not a file";
    default:
      if (const std::string_view kind = special_file_kind(status.type()); !kind.empty())
        return "is " + std::string(kind) + ", not a regular file";
      return error ? error.message() : "is not a regular file";
  }
}

namespace {

// Opens the source. A sync's source must still be the regular file the walk
// listed; a command's may be reached through a link.
UniqueFile open_source(const std::filesystem::path& source, const ImportOptions& options, FileStamp& stamp,
                       ImportResult& failure) {
  const std::string name = host_text(source);
  if (options.listed_source == nullptr) {
    if (const std::string why = not_a_regular_file(source); !why.empty()) {
      failure = {ImportStatus::cannot_read, name + ": " + why, 0};
      return {};
    }
    UniqueFile input = open_file(source, "rb");
    if (!input || !stamp_open_file(input.get(), stamp)) {
      failure = {ImportStatus::cannot_read, name + ": " + errno_text(errno), 0};
      return {};
    }
    return input;
  }
  UniqueFile input = open_regular_file(source, stamp);
  if (!input) {
    const int error = errno;
    if (error == ELOOP || error == EINVAL)
      failure = {ImportStatus::changed,
                 name + ": was replaced by something that is not a regular file while the sync ran", 0};
    else
      failure = {ImportStatus::cannot_read, name + ": " + errno_text(error), 0};
    return {};
  }
  if (!stamp.is_same_file(*options.listed_source)) {
    failure = {ImportStatus::changed, name + ": was replaced by another file while the sync ran", 0};
    return {};
  }
  return input;
}

// What a read that reached its end found: a read error, or a source
// written, cut short or grown while it was read (what was read is then no
// version of the file). Otherwise ok, with the source's stamp as read.
ImportResult check_read(const ByteSource& bytes, std::FILE* input, const FileStamp& opened,
                        const std::filesystem::path& source) {
  if (bytes.failed())
    return {ImportStatus::cannot_read, host_text(source) + ": read failed: " + errno_text(bytes.read_error()), 0};
  ImportResult read;
  if (!stamp_open_file(input, read.source_stamp) || !(read.source_stamp == opened))
    return {ImportStatus::changed, host_text(source) + ": changed while it was being read", 0};
  return read;
}

// Stages the document read from `bytes` into `sink`, and says how the read
// went and what the conversion lost.
ImportResult stage_source(ByteSource& bytes, std::FILE* input, const FileStamp& opened,
                          const std::filesystem::path& source, std::string_view file_name, Conversion convert,
                          const ImportOptions& options, StagingSink& sink) {
  sink.take_name(name_record(handheld_name(file_name)));
  StagingOutput out(sink, options.max_paragraphs);
  const Converted converted = convert(bytes, out);
  ImportResult result = check_read(bytes, input, opened, source);
  sink.take_background(converted.background);
  if (!result) return result;
  result.paragraphs = out.paragraphs();
  result.conversion = converted.status;
  result.offset = converted.offset;
  result.incomplete = incomplete_reason(converted, !bytes.is_transcoding());
  return result;
}

}  // namespace

std::string handheld_name(std::string_view file_name) {
  if (file_name.size() <= kMaxHandheldNameChars) return std::string(file_name);
  const auto dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return std::string(file_name.substr(0, kMaxHandheldNameChars));
  const std::string_view extension = file_name.substr(dot);
  // An extension of 31 characters or more leaves no room for the front;
  // the name is then the extension's own first 31 characters.
  if (extension.size() >= kMaxHandheldNameChars) return std::string(extension.substr(0, kMaxHandheldNameChars));
  return std::string(file_name.substr(0, kMaxHandheldNameChars - extension.size())) + std::string(extension);
}

ImportResult import_file(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                         std::string_view file_name, Conversion convert, SourceKind kind,
                         const ImportOptions& options) {
  FileStamp opened;
  ImportResult failure;
  const UniqueFile input = open_source(source, options, opened, failure);
  if (!input) return failure;
  ByteSource bytes(input.get());
  // The source is read once whole to learn whether it is transcoded, before
  // anything is staged.
  const auto transcoder = options.codec != nullptr ? options.codec->source_transcoder(kind) : nullptr;
  if (transcoder && !bytes.transcode_with(*transcoder))
    return {ImportStatus::cannot_read, host_text(source) + ": read failed: " + errno_text(bytes.read_error()), 0};
  const auto stage_into = [&](StagingSink& sink) {
    ImportResult result = stage_source(bytes, input.get(), opened, source, file_name, convert, options, sink);
    if (result && bytes.is_transcoding()) {
      result.was_transcoded = true;
      result.replaced = transcoder->replaced();
    }
    return result;
  };
  if (options.sink != nullptr) return stage_into(*options.sink);

  StagingFiles files;
  if (auto opened_staging = files.open(staging_folder); !opened_staging) {
    remove_staging_files(staging_folder);
    return {ImportStatus::cannot_write, opened_staging.reason, 0};
  }
  ImportResult result = stage_into(files);
  // A failed read outranks a failed write: it says more about the file.
  if (const StagingResult finished = files.finish(); result && !finished)
    result = {ImportStatus::cannot_write, finished.reason, 0};
  if (!result) remove_staging_files(staging_folder);
  return result;
}

Converted stage_bytes(std::span<const std::uint8_t> bytes, std::string_view file_name, Conversion convert,
                      StagingSink& sink, std::size_t max_paragraphs) {
  sink.take_name(name_record(handheld_name(file_name)));
  StagingOutput out(sink, max_paragraphs);
  ByteSource input(bytes);
  const Converted converted = convert(input, out);
  sink.take_background(converted.background);
  return converted;
}

StagingBytes import_bytes(std::span<const std::uint8_t> bytes, std::string_view file_name, Conversion convert) {
  StagingMemory memory;
  stage_bytes(bytes, file_name, convert, memory);
  return memory.take_bytes();
}

}  // namespace vellora
