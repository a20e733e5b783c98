// `vellora stage`: only the importer, its two staging files left in a
// folder to look at.
#include <cstdio>
#include <memory>
#include <string>

#include "conduit/convert_file.h"
#include "docmodel/staging.h"
#include "hosts/linux/terminal_text.h"
#include "tools/encoding_option.h"
#include "tools/fail.h"
#include "tools/importing.h"
#include "tools/subcommand.h"

namespace vellora::cli {

namespace {

namespace fs = std::filesystem;

struct StageOptions {
  std::string file;
  std::string folder = ".";
  std::string registry;  // empty: the default registry file
  std::string encoding;  // empty: TextEncoding from the registry file, else the locale
};

int stage(const fs::path& file, const fs::path& folder, const std::string& registry_file, const std::string& encoding) {
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
  const ImportResult imported = type->import(
      file, folder, handheld_file_name(file.filename().string(), importing.options.codec), importing.options);
  if (!imported) return fail(imported.reason);
  std::printf(
      "%s: %zu paragraph%s staged in %s%s%s\n", linux_host::terminal_safe(file.string()).c_str(), imported.paragraphs,
      imported.paragraphs == 1 ? "" : "s", linux_host::terminal_safe(folder.string()).c_str(),
      imported.incomplete.empty() ? ""
                                  : linux_host::terminal_safe(" (incomplete: " + imported.incomplete + ")").c_str(),
      transcoding_note(imported).c_str());
  return 0;
}

}  // namespace

Subcommand add_stage(CLI::App& app) {
  auto options = std::make_shared<StageOptions>();
  auto* command = app.add_subcommand("stage", "Run only the importer and leave the two staging files in a folder");
  command->add_option("FILE", options->file, "Document to import (.txt, .htm, .html, .rtf, .doc)")->required();
  command->add_option("-C,--directory", options->folder, "Folder for the staging files (default: current folder)");
  command->add_option("--registry", options->registry, kConverterRegistryHelp);
  command->add_option("--encoding", options->encoding, kEncodingHelp)->check(encoding_choices());
  return {command, [options] { return stage(options->file, options->folder, options->registry, options->encoding); }};
}

}  // namespace vellora::cli
