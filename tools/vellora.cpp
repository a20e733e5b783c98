// vellora: the command-line face of the conduit on Linux.
#include <CLI/CLI.hpp>

#include "tools/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"vellora: documents between this PC and a handheld.\n"
               "Converts text files into handheld document databases and shows what they hold."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "vellora 0.1.0");

  std::string file, folder = ".", output;
  bool as_json = false;

  auto* stage = app.add_subcommand("stage", "Run only the importer and leave the two staging files in a folder");
  stage->add_option("FILE", file, "Document to import (.txt)")->required();
  stage->add_option("-C,--directory", folder, "Folder for the staging files (default: current folder)");

  auto* convert = app.add_subcommand("convert", "Convert a document into a handheld database file; the source is kept");
  convert->add_option("FILE", file, "Document to convert (.txt)")->required();
  convert->add_option("-o,--output", output, "Database file to write (e.g. notes.pdb)")->required();

  auto* dump = app.add_subcommand("dump", "Show a handheld database: header and every record decoded");
  dump->add_option("DB", file, "Database file (.pdb)")->required();
  dump->add_flag("--json", as_json, "Print JSON for programs");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;
  }
  if (*stage) return vellora::cli::stage_command(file, folder);
  if (*convert) return vellora::cli::convert_command(file, output);
  return vellora::cli::dump_command(file, as_json);
}
