// `vellora export`: a database file through an exporter, without a
// session.
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "conduit/catalog.h"
#include "conduit/document_types.h"
#include "docmodel/records.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "hosts/linux/terminal_text.h"
#include "hosts/linux/xdg_paths.h"
#include "tools/document_type_choices.h"
#include "tools/encoding_option.h"
#include "tools/export_options.h"
#include "tools/fail.h"
#include "tools/output_file.h"
#include "tools/scratch_folder.h"
#include "tools/subcommand.h"

namespace vellora::cli {

namespace {

namespace fs = std::filesystem;

struct ExportInvocation {
  std::string database;
  std::string to;
  std::string output;
  ExportCommandOptions options;
};

int export_document(const fs::path& database, const std::string& to, const fs::path& output,
                    const ExportCommandOptions& command_options) {
  const DocumentType* type = export_type_named(to);
  if (type == nullptr) return fail(to, "not an export type (" + names_in_words(export_type_names(), "or") + ")");
  if (is_same_file(database, output)) return fail_same_file(database, output);
  ExportOptions options;
  if (std::string why_not;
      !resolve_export_options(command_options, linux_host::default_registry_file(), options, why_not))
    return fail(why_not);
  PdbHeader header;
  std::uint16_t records = 0;
  if (auto read = linux_host::read_pdb_header_file(database, header, records); !read) return fail(read.reason);
  if (header.type != kDocumentType || header.creator != kDocumentCreator)
    return fail(database.string(), "not a handheld document (type " + four_cc_text(header.type) + ", creator " +
                                       four_cc_text(header.creator) + ")");
  fs::path output_folder = output.parent_path();
  if (output_folder.empty()) output_folder = ".";
  if (!fs::is_directory(output_folder)) return fail(output.string(), "its folder does not exist");
  if (fs::is_directory(output)) return fail(output.string(), "is a folder; name the file to write");

  // The exporter reads through the handheld interface, so the file is
  // served by a handheld folder of its own; the output is written beside
  // its final name and renamed into place only when complete.
  remove_stale_scratch_folders(fs::temp_directory_path());
  ScratchFolder store(fs::temp_directory_path());
  if (!store) return fail(fs::temp_directory_path().string(), "cannot make a working folder: " + store.error());
  // A hard link serves the file without copying it, however large; the
  // handheld only reads it, and would replace rather than rewrite it. A
  // copy is the fallback when the scratch folder is on another file system
  // or linking is refused.
  std::error_code error;
  const fs::path served = store.path() / "document.pdb";
  // Linking does not follow a symbolic link; the file it names is linked.
  const fs::path target = fs::canonical(database, error);
  if (!error) fs::create_hard_link(target, served, error);
  if (error) {
    error.clear();
    fs::copy_file(database, served, error);
  }
  if (error) return fail(database.string(), error.message());
  remove_stale_scratch_folders(output_folder);
  ScratchFolder staging(output_folder);
  if (!staging) return fail(output_folder.string(), "cannot make a working folder: " + staging.error());
  const fs::path temporary = staging.path() / "export";
  linux_host::PdbFolderHandheld handheld(store.path());
  const ExportResult exported = type->export_to(handheld, header.name, temporary, options);
  if (!exported) return fail(database.string(), exported.reason);
  rename_over_output(temporary, output, error);
  if (error) return fail(output.string(), error.message());
  std::printf("%s -> %s\n", linux_host::terminal_safe(database.string()).c_str(),
              linux_host::terminal_safe(output.string()).c_str());
  return 0;
}

}  // namespace

Subcommand add_export(CLI::App& app) {
  auto invocation = std::make_shared<ExportInvocation>();
  ExportCommandOptions& options = invocation->options;
  auto* command = app.add_subcommand("export", "Write a handheld document database as a PC file");
  command->add_option("DB", invocation->database, "Document database file (.pdb)")->required();
  command->add_option("--to", invocation->to, "File type to write: " + names_in_words(export_type_names(), "or"))
      ->required();
  command->add_option("-o,--output", invocation->output, "File to write")->required();
  command->add_option("--font-name", options.font_name,
                      "Font face written into htm and rtf files (default: FontName from the settings, else none)");
  command->add_option("--font-size", options.font_size,
                      "Base font size in points for rtf files (default: FontSize from the settings, else 10)");
  command->add_option("--registry", options.registry,
                      "Settings file for the font defaults (default: $XDG_CONFIG_HOME/vellora/registry.reg)");
  command->add_option("--encoding", options.encoding, kEncodingHelp)->check(encoding_choices());
  return {command, [invocation] {
            return export_document(invocation->database, invocation->to, invocation->output, invocation->options);
          }};
}

}  // namespace vellora::cli
