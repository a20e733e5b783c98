// The one road from a PC file to staged paragraphs, shared by every
// importer whose input is the file's own bytes. It opens and reads the
// source, runs the importer's conversion over a byte source into the
// caller's sink or the staging files, names the document, and leaves no
// staging files behind when the source cannot be read or the staging files
// cannot be written. An importer is then only its conversion, and tests and
// fuzz targets run the same conversion from memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "docmodel/staging.h"
#include "importers/byte_source.h"
#include "importers/import_result.h"
#include "importers/staging_output.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "platform/text_converter.h"

namespace vellora {

// The handheld name of a file: at most 31 characters. A longer name keeps
// its last extension and as much of the front as fits before it; a longer
// name without '.' is cut to 31. Every importer names its document so.
std::string handheld_name(std::string_view file_name);

// Reads `input` to its end, or until `out.is_full()`, staging paragraphs
// into `out`, and returns the document's background colour with what, if
// anything, could not be converted and where. Malformed input is converted
// as far as it can be read.
using Conversion = Converted (*)(ByteSource& input, StagingOutput& out);

// What a sync or a command gives every importer besides the file.
struct ImportOptions {
  ImportOptions() = default;
  explicit ImportOptions(std::size_t paragraph_limit) : max_paragraphs(paragraph_limit) {}

  // Staging stops after this many paragraphs; see StagingOutput.
  std::size_t max_paragraphs = std::numeric_limits<std::size_t>::max();
  // Where the Word importer finds its text converters: the registrations
  // in `registry`, the libraries through `converters`. Without them only an
  // RTF file under a .doc name is imported.
  const Registry* registry = nullptr;
  TextConverterLibrary* converters = nullptr;
  // Told the library path of the converter that took a file, before the
  // conversion starts: converting can take a while.
  std::function<void(const std::string& converter)> on_converter;
  // When set, paragraphs go straight to this sink (the packer, in a sync)
  // instead of staging files; the staging folder then only holds a
  // converter's temporary file.
  StagingSink* sink = nullptr;
  // How the PC's text becomes the handheld's; null passes it unchanged.
  const TextCodec* codec = nullptr;
  // In a sync: the send folder's entry as the walk listed it. The source is
  // then opened only as that same regular file, never through a link that
  // has taken its place.
  const FileStamp* listed_source = nullptr;
};

// Why `source` cannot be imported as a file ("is a FIFO, not a regular
// file"), or empty when it is a regular file, through links. Devices, FIFOs
// and folders are refused before they are opened: opening a FIFO waits for
// a writer, and a device may never end.
std::string not_a_regular_file(const std::filesystem::path& source);

// Converts the file `source` into the options' sink, or else into staging
// files in `staging_folder`; the document is named from `file_name` by the
// handheld name rule. The options' codec reads the source as a file of
// kind `kind`.
ImportResult import_file(const std::filesystem::path& source, const std::filesystem::path& staging_folder,
                         std::string_view file_name, Conversion convert, SourceKind kind,
                         const ImportOptions& options = {});

// Converts `bytes` into `sink` as import_file converts a file: the name
// record of `file_name`, at most `max_paragraphs` paragraphs, the
// background.
Converted stage_bytes(std::span<const std::uint8_t> bytes, std::string_view file_name, Conversion convert,
                      StagingSink& sink, std::size_t max_paragraphs = std::numeric_limits<std::size_t>::max());

// Converts `bytes` into staging bytes in memory.
StagingBytes import_bytes(std::span<const std::uint8_t> bytes, std::string_view file_name, Conversion convert);

}  // namespace vellora
