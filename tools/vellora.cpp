// vellora: the command-line face of the conduit on Linux. Each subcommand
// adds itself from its own file; main parses and hands over.
#include <CLI/CLI.hpp>

#include <array>

#include "tools/subcommand.h"

int main(int argc, char** argv) {
  using namespace vellora::cli;
  CLI::App app{
      "vellora: documents between this PC and a handheld.\n"
      "Syncs documents with a handheld over network HotSync, a serial port or a USB\n"
      "cradle, or with a handheld folder of .pdb databases; converts documents to\n"
      "and from handheld databases and shows what they hold."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "vellora " VELLORA_VERSION);
  const std::array subcommands = {add_sync(app), add_device(app),  add_stage(app),  add_convert(app),
                                  add_dump(app), add_preview(app), add_export(app), add_mark(app)};
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;
  }
  for (const Subcommand& subcommand : subcommands)
    if (subcommand.command->parsed()) return subcommand.run();
  return 1;
}
