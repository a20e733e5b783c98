// `vellora convert`: one document through the importer and the builder
// into a database file, without a sync session; the source is kept.
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "base/ascii.h"
#include "base/files.h"
#include "conduit/convert_file.h"
#include "conduit/write_document.h"
#include "docmodel/staging.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "hosts/linux/terminal_text.h"
#include "tools/encoding_option.h"
#include "tools/fail.h"
#include "tools/importing.h"
#include "tools/output_file.h"
#include "tools/scratch_folder.h"
#include "tools/subcommand.h"

namespace vellora::cli {

namespace {

namespace fs = std::filesystem;

struct ConvertOptions {
  std::string file;
  std::string output;
  std::string registry;  // empty: the default registry file
  std::string encoding;  // empty: TextEncoding from the registry file, else the locale
  // When not empty, a PNG file for the database's first screens.
  std::string preview;
  // With flush the database is on the disk before it takes the output's
  // name; without, a crash may lose the new file, but the rename still
  // leaves the old one or the new one whole, never part of either.
  bool flush = false;
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

int convert(const fs::path& file, const fs::path& output, const std::string& registry_file, const std::string& encoding,
            const fs::path& preview, bool flush) {
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
  // A document cut short or at the paragraph limit is still written, with
  // a note; one that could not be read or laid out, or has no paragraph,
  // is not worth a database.
  const FileConversion conversion = convert_file(*type, file, file.filename().string(), scratch.path(),
                                                 importing.options, error ? 0 : static_cast<std::size_t>(source_bytes));
  const ImportResult& imported = conversion.imported;
  const PackedDocument& document = conversion.document;
  if (conversion.status == FileConversionStatus::not_imported) return fail(conversion.reason);
  if (!conversion.packed) return fail(file.string(), conversion.packed.reason);
  if (document.paragraphs == 0) {
    const bool is_html = type->number == find_document_type(".htm")->number;
    return fail(file.string(), std::string("no text could be read from it") +
                                   (is_html ? " (an HTML page is read from its <html> tag on)" : ""));
  }

  // The database is written by the same handheld code a sync uses. The
  // folder holds one database, so the index needs no watch on it.
  BuildResult built;
  {
    linux_host::PdbFolderHandheld handheld(scratch.path(), linux_host::FolderWatch::stat_only);
    built = write_document(document, handheld);
    if (built && flush && handheld.flush_pending_writes() != kSyncOk) return fail(handheld.last_error());
    if (!built) return fail_to_write(built, scratch.path(), file, output);
    const auto written = handheld.database_path(built.database_name);
    if (!written) return fail(file.string(), "the database was not written");
    if (!flush) handheld.drop_pending_flush();
    rename_over_output(*written, output, error);
    if (error) return fail(output.string(), error.message());
    if (flush) static_cast<void>(flush_folder(output_folder));
  }
  const TextCodec& codec = *importing.options.codec;
  const std::string database_name = codec.name_to_pc(built.database_name).value_or(built.database_name);
  std::printf(
      "%s -> %s: \"%s\", %zu paragraph%s, %zu record%s%s%s%s\n", linux_host::terminal_safe(file.string()).c_str(),
      linux_host::terminal_safe(output.string()).c_str(), linux_host::terminal_safe(database_name).c_str(),
      built.paragraphs, built.paragraphs == 1 ? "" : "s", built.records, built.records == 1 ? "" : "s",
      built.was_cut ? (" (cut at " + with_thousands(kMaxParagraphs) + " paragraphs)").c_str() : "",
      imported.incomplete.empty() ? ""
                                  : linux_host::terminal_safe(" (incomplete: " + imported.incomplete + ")").c_str(),
      transcoding_note(imported).c_str());
  // The picture is what `vellora preview` draws by default.
  return preview.empty() ? 0 : draw_preview(output, preview, "3", 2);
}

}  // namespace

Subcommand add_convert(CLI::App& app) {
  auto options = std::make_shared<ConvertOptions>();
  auto* command = app.add_subcommand("convert", "Convert a document into a handheld database file; the source is kept");
  command->add_option("FILE", options->file, "Document to convert (.txt, .htm, .html, .rtf, .doc)")->required();
  command->add_option("-o,--output", options->output, "Database file to write (e.g. notes.pdb)")->required();
  command->add_option("--registry", options->registry, kConverterRegistryHelp);
  command->add_option("--encoding", options->encoding, kEncodingHelp)->check(encoding_choices());
  command->add_option("--preview", options->preview,
                      "Also draw the database's first 3 screens into this PNG file, as vellora preview does");
  command->add_flag("--flush", options->flush,
                    "Wait until the database is on the disk before giving it the output's name, for scripts that "
                    "delete the source next");
  return {command, [options] {
            return convert(options->file, options->output, options->registry, options->encoding, options->preview,
                           options->flush);
          }};
}

}  // namespace vellora::cli
