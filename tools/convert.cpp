// `vellora stage` and `vellora convert`: one document through the importer
// and, for convert, the builder, without a sync session.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "docmodel/builder.h"
#include "docmodel/pipelined_sink.h"
#include "docmodel/staging.h"
#include "conduit/document_types.h"
#include "hosts/linux/dl_text_converters.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "hosts/linux/registry_file.h"
#include "hosts/linux/terminal_text.h"
#include "hosts/linux/xdg_paths.h"
#include "tools/commands.h"
#include "tools/encoding_option.h"
#include "tools/output_file.h"
#include "tools/registry_option.h"
#include "tools/scratch_folder.h"

namespace vellora::cli {

namespace fs = std::filesystem;

int fail(const std::string& what, const std::string& reason) { return fail(what + ": " + reason); }

int fail(const std::string& reason_naming_the_file) {
  std::fprintf(stderr, "vellora: %s\n", posix::terminal_safe(reason_naming_the_file).c_str());
  return 1;
}

bool is_same_file(const fs::path& input, const fs::path& output) {
  struct stat in {}, out {};
  return ::stat(input.c_str(), &in) == 0 && ::stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
         in.st_ino == out.st_ino;
}

int fail_same_file(const fs::path& input, const fs::path& output) {
  return fail(input.string() + " and " + output.string() + " are the same file; name another file to write");
}

namespace {

// The importer for a file, chosen by its extension in any case.
const DocumentType* importer_for(const fs::path& file, std::string& why_not) {
  const std::string extension = to_lower_ascii(file.extension().string());
  const DocumentType* type = find_document_type(extension);
  if (type == nullptr) {
    why_not = "not a document type the handheld takes (.txt, .htm, .html, .doc, .rtf)";
    return nullptr;
  }
  return type;
}

// What a sync would name the document: the lower-cased file name, with
// ".html" written as ".htm" as the send folder renames it, in the
// handheld's characters.
std::string document_file_name(const fs::path& file, const TextCodec& codec) {
  std::string name = to_lower_ascii(file.filename().string());
  if (name.size() > 5 && name.ends_with(".html")) name.pop_back();
  return codec.name_to_handheld(name);
}

// What an importer gets from the command line: the registry file's text
// converters, announced on the terminal when one takes the file.
struct Importing {
  bool load(const std::string& registry_file, const std::string& encoding, std::string& why_not) {
    if (!load_registry(registry_file, posix::default_registry_file(), registry, why_not)) return false;
    options.codec = choose_codec(encoding, &registry, why_not);
    if (options.codec == nullptr) return false;
    options.registry = &registry;
    options.converters = &converters;
    options.on_converter = [](const std::string& converter) {
      std::printf("converting with the text converter %s\n", posix::terminal_safe(converter).c_str());
      std::fflush(stdout);
    };
    return true;
  }

  posix::RegistryFile registry{posix::bundled_office_converter()};
  posix::DlTextConverterLibrary converters;
  ImportOptions options;
};

// A database that could not be written. Its file is in the scratch folder,
// which the user never sees, and there is no handheld to speak of: the
// failure is the output's, in the system's words.
int fail_to_write(const BuildResult& built, const fs::path& scratch, const fs::path& file, const fs::path& output) {
  const std::string& reason = built.reason;
  const auto at = reason.find(scratch.string());
  const auto words = at == std::string::npos ? std::string::npos : reason.find(": ", at);
  if (words == std::string::npos) return fail(file.string(), reason);
  return fail(output.string(), reason.substr(words + 2));
}

bool is_readable_file(const fs::path& file, std::string& why_not) {
  why_not = not_a_regular_file(file);
  return why_not.empty();
}

}  // namespace

int stage_command(const fs::path& file, const fs::path& folder, const std::string& registry_file,
                  const std::string& encoding) {
  std::string why_not;
  if (!is_readable_file(file, why_not)) return fail(file.string(), why_not);
  const DocumentType* type = importer_for(file, why_not);
  if (type == nullptr) return fail(file.string(), why_not);
  if (!fs::is_directory(folder)) return fail(folder.string(), "no such folder");
  // The staging files are written in place, so one of them must not be
  // the document being read.
  for (const char* staging_file : {kStagingSizesFile, kStagingDataFile})
    if (is_same_file(file, folder / staging_file)) return fail_same_file(file, folder / staging_file);
  Importing importing;
  if (!importing.load(registry_file, encoding, why_not)) return fail(why_not);
  const ImportResult imported =
      type->import(file, folder, document_file_name(file, *importing.options.codec), importing.options);
  if (!imported) return fail(imported.reason);
  std::printf("%s: %zu paragraph%s staged in %s%s%s\n", posix::terminal_safe(file.string()).c_str(), imported.paragraphs,
              imported.paragraphs == 1 ? "" : "s",
              posix::terminal_safe(folder.string()).c_str(),
              imported.incomplete.empty() ? "" : posix::terminal_safe(" (incomplete: " + imported.incomplete + ")").c_str(),
              transcoding_note(imported).c_str());
  return 0;
}

int convert_command(const fs::path& file, const fs::path& output, const std::string& registry_file,
                    const std::string& encoding, const fs::path& preview, bool flush) {
  std::string why_not;
  if (!is_readable_file(file, why_not)) return fail(file.string(), why_not);
  const DocumentType* type = importer_for(file, why_not);
  if (type == nullptr) return fail(file.string(), why_not);
  if (is_same_file(file, output)) return fail_same_file(file, output);
  if (!preview.empty() && is_same_file(file, preview)) return fail_same_file(file, preview);
  Importing importing;
  if (!importing.load(registry_file, encoding, why_not)) return fail(why_not);
  fs::path output_folder = output.parent_path();
  if (output_folder.empty()) output_folder = ".";
  if (!fs::is_directory(output_folder)) return fail(output.string(), "its folder does not exist");
  if (fs::is_directory(output)) return fail(output.string(), "is a folder; name the database file to write");

  // One private folder beside the output holds what a text converter
  // writes and the database before its rename, which then stays on one
  // file system. Those of killed runs go first.
  remove_stale_scratch_folders(output_folder);
  ScratchFolder scratch(output_folder);
  if (!scratch) return fail(output_folder.string(), "cannot make a working folder: " + scratch.error());
  std::error_code error;
  const auto source_bytes = fs::file_size(file, error);
  PackedDocument document;
  DocumentPacker packer(document, error ? 0 : static_cast<std::size_t>(source_bytes));
  PipelinedSink pipeline(packer);
  importing.options.sink = type->is_laid_out_while_read ? static_cast<StagingSink*>(&pipeline) : &packer;
  importing.options.max_paragraphs = kMaxParagraphs + 1;  // one more shows that it was cut
  const ImportResult imported =
      type->import(file, scratch.path(), document_file_name(file, *importing.options.codec), importing.options);
  pipeline.finish();
  if (!imported) return fail(imported.reason);
  if (const StagingResult& packed = packer.result(); !packed) return fail(file.string(), packed.reason);
  // As in a sync: a document without a paragraph is not worth a database.
  if (document.paragraphs == 0) {
    const bool is_html = type->number == find_document_type(".htm")->number;
    return fail(file.string(), std::string("no text could be read from it") +
                                   (is_html ? " (an HTML page is read from its <html> tag on)" : ""));
  }

  // The database is written by the same handheld code a sync uses. The
  // folder holds one database, so the index needs no watch on it.
  BuildResult built;
  {
    posix::PdbFolderHandheld handheld(scratch.path(), posix::FolderWatch::stat_only);
    built = write_document(document, handheld);
    if (built && flush && handheld.make_writes_durable() != kSyncOk) return fail(handheld.last_error());
    if (!built) return fail_to_write(built, scratch.path(), file, output);
    const auto written = handheld.database_path(built.database_name);
    if (!written) return fail(file.string(), "the database was not written");
    if (!flush) handheld.skip_pending_flush();
    rename_over_output(*written, output, error);
    if (error) return fail(output.string(), error.message());
    if (flush) posix::sync_folder(output_folder);
  }
  const TextCodec& codec = *importing.options.codec;
  const std::string database_name = codec.name_to_pc(built.database_name).value_or(built.database_name);
  std::printf("%s -> %s: \"%s\", %zu paragraph%s, %zu record%s%s%s%s\n", posix::terminal_safe(file.string()).c_str(),
              posix::terminal_safe(output.string()).c_str(), posix::terminal_safe(database_name).c_str(),
              built.paragraphs, built.paragraphs == 1 ? "" : "s", built.records, built.records == 1 ? "" : "s",
              built.was_cut ? (" (cut at " + with_thousands(kMaxParagraphs) + " paragraphs)").c_str() : "",
              imported.incomplete.empty() ? "" : posix::terminal_safe(" (incomplete: " + imported.incomplete + ")").c_str(),
              transcoding_note(imported).c_str());
  // The picture is what `vellora preview` draws by default.
  return preview.empty() ? 0 : preview_command(output, preview, "3", 2);
}

}  // namespace vellora::cli
