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

}  // namespace

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

  StagingWriter writer;
  if (options.sink != nullptr) {
    writer.open_into(*options.sink, file_name);
  } else if (auto opened_staging = writer.open(staging_folder, file_name); !opened_staging) {
    remove_staging_files(staging_folder);
    return {ImportStatus::cannot_write, opened_staging.reason, 0};
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
  // Written, cut short or grown while it was read: what was read is no
  // version of the file.
  FileStamp read;
  if (!stamp_open_file(input.get(), read) || !(read == opened)) {
    writer.finish(converted.background);
    discard();
    return {ImportStatus::changed, host_text(source) + ": changed while it was being read", 0};
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
  result.source_stamp = read;
  return result;
}

StagingBytes import_bytes(std::span<const std::uint8_t> bytes, std::string_view file_name, Conversion convert) {
  StagingWriter writer;
  writer.open_in_memory(file_name);
  ByteSource input(bytes);
  writer.finish(convert(input, writer).background);
  return writer.take_bytes();
}

}  // namespace vellora
