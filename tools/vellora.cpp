// vellora: the command-line face of the conduit on Linux.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "tools/commands.h"
#include "tools/document_type_choices.h"
#include "tools/encoding_option.h"

int main(int argc, char** argv) {
  using vellora::cli::document_type_names;
  using vellora::cli::export_type_names;
  using vellora::cli::names_in_words;
  CLI::App app{"vellora: documents between this PC and a handheld.\n"
               "Syncs documents with a handheld over network HotSync, a serial port or a USB\n"
               "cradle, or with a handheld folder of .pdb databases; converts documents to\n"
               "and from handheld databases and shows what they hold."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "vellora " VELLORA_VERSION);

  std::string file, folder = ".", output, to, as;
  bool as_json = false;
  vellora::cli::SyncOptions sync_options;

  auto* sync = app.add_subcommand("sync", "Run one sync session: receive marked documents, then send the send folder");
  sync->footer("Exit status: 0 when the session ran without problems; 1 when it could not run, or the handheld "
               "was lost or cancelled the sync; 3 when it ran but reported problems (each on standard error).");
  sync->add_option("--registry", sync_options.registry, "Settings file (default: $XDG_CONFIG_HOME/vellora/registry.reg)");
  sync->add_option("--handheld", sync_options.handheld, "Handheld folder of .pdb files (default: $XDG_DATA_HOME/vellora/handheld)");
  sync->add_option("--answer", sync_options.answer, "Answer to overwrite questions when not on a terminal (default: no)")
      ->check(CLI::IsMember({"yes", "no"}));
  sync->add_option("--log", sync_options.log, "HotSync log file (default: $XDG_STATE_HOME/vellora/hotsync.log)");
  sync->add_option("--wait", sync_options.wait_seconds,
                   "Seconds to wait for another session that uses the same folders (default: 10)")
      ->check(CLI::Range(0.0, 3600.0));
  const auto encodings = CLI::IsMember({"utf-8", "cp1252"});
  sync->add_option("--encoding", sync_options.encoding, vellora::cli::kEncodingHelp)->check(encodings);
  const char* device_help =
      "A real handheld instead of a folder: net (network HotSync, port 14238 on every address), net:PORT, "
      "net:ADDRESS:PORT, or the path of a serial port or USB cradle's tty (e.g. /dev/ttyUSB1)";
  const char* timeout_help = "Seconds to wait for a handheld, and at most for each of its answers (default: no limit)";
  const char* speed_help = "Most bits per second a serial link may agree (default: 115200)";
  const auto speeds = CLI::IsMember({9600, 19200, 38400, 57600, 115200, 230400});
  auto* device_option = sync->add_option("--device", sync_options.device, device_help);
  device_option->excludes(sync->get_option("--handheld"));
  sync->add_option("--timeout", sync_options.timeout_seconds, timeout_help)->check(CLI::Range(0.0, 86400.0));
  sync->add_option("--speed", sync_options.speed, speed_help)->check(speeds);
  sync->add_flag("--keep-running", sync_options.keep_running,
                 "With --device: serve handheld after handheld until stopped (or, with --timeout, until none came within it), "
                 "as a HotSync manager stays resident");

  auto* device = app.add_subcommand("device", "Talk to a real handheld without syncing");
  device->require_subcommand(1);
  vellora::cli::SyncOptions device_options;
  auto* device_info = device->add_subcommand(
      "info", "Show the handheld's user, Palm OS and DLP versions, free memory and databases, to check the link");
  device_info->add_option("--device", device_options.device, device_help)->required();
  device_info->add_option("--timeout", device_options.timeout_seconds, timeout_help)->check(CLI::Range(0.0, 86400.0));
  device_info->add_option("--speed", device_options.speed, speed_help)->check(speeds);
  std::string encoding;

  auto* stage = app.add_subcommand("stage", "Run only the importer and leave the two staging files in a folder");
  std::string registry;
  const char* registry_help = "Registry file with the text converters for .doc files (default: $XDG_CONFIG_HOME/vellora/registry.reg)";
  stage->add_option("FILE", file, "Document to import (.txt, .htm, .html, .rtf, .doc)")->required();
  stage->add_option("-C,--directory", folder, "Folder for the staging files (default: current folder)");
  stage->add_option("--registry", registry, registry_help);
  stage->add_option("--encoding", encoding, vellora::cli::kEncodingHelp)->check(encodings);

  auto* convert = app.add_subcommand("convert", "Convert a document into a handheld database file; the source is kept");
  convert->add_option("FILE", file, "Document to convert (.txt, .htm, .html, .rtf, .doc)")->required();
  convert->add_option("-o,--output", output, "Database file to write (e.g. notes.pdb)")->required();
  convert->add_option("--registry", registry, registry_help);
  convert->add_option("--encoding", encoding, vellora::cli::kEncodingHelp)->check(encodings);
  std::string preview_file;
  convert->add_option("--preview", preview_file, "Also draw the database's first 3 screens into this PNG file, as vellora preview does");
  bool flush = false;
  convert->add_flag("--flush", flush, "Wait until the database is on the disk before giving it the output's name, for scripts that delete the source next");

  auto* dump = app.add_subcommand("dump", "Show a handheld database: header and every record decoded");
  dump->add_option("DB", file, "Database file (.pdb)")->required();
  dump->add_flag("--json", as_json, "Print JSON for programs");
  dump->add_option("--encoding", encoding, "How handheld text is shown: utf-8 decodes the handheld's character set, "
                                           "cp1252 shows it as Latin-1 (default: TextEncoding from the settings, else the locale)")
      ->check(encodings);

  auto* preview = app.add_subcommand(
      "preview",
      "Draw a document database as the handheld shows it, screen after screen, into a PNG file.\n"
      "Glyphs come from a free font, but every character sits where the handheld's font width table puts it, "
      "so line breaks, widths and positions are the handheld's own");
  std::string screens = "3";
  int scale = 2;
  preview->add_option("DB", file, "Document database file (.pdb)")->required();
  preview->add_option("-o,--output", output, "PNG file to write")->required();
  preview->add_option("--screens", screens, "How many 160 x 160 screens to draw, or all (default: 3)");
  preview->add_option("--scale", scale, "Picture pixels per handheld pixel (default: 2)")->check(CLI::Range(1, 16));

  auto* exporter = app.add_subcommand("export", "Write a handheld document database as a PC file");
  exporter->add_option("DB", file, "Document database file (.pdb)")->required();
  exporter->add_option("--to", to, "File type to write: " + names_in_words(export_type_names(), "or"))->required();
  exporter->add_option("-o,--output", output, "File to write")->required();
  vellora::cli::ExportCommandOptions export_options;
  exporter->add_option("--font-name", export_options.font_name,
                       "Font face written into htm and rtf files (default: FontName from the settings, else none)");
  exporter->add_option("--font-size", export_options.font_size,
                       "Base font size in points for rtf files (default: FontSize from the settings, else 10)");
  exporter->add_option("--registry", export_options.registry,
                       "Settings file for the font defaults (default: $XDG_CONFIG_HOME/vellora/registry.reg)");
  exporter->add_option("--encoding", export_options.encoding, vellora::cli::kEncodingHelp)->check(encodings);

  auto* mark = app.add_subcommand("mark", "Mark a handheld document for the PC, as the user does on the handheld");
  mark->add_option("NAME", file, "Document name on the handheld, e.g. notes.txt")->required();
  mark->add_option("--handheld", folder, "Handheld folder of .pdb files (default: $XDG_DATA_HOME/vellora/handheld)");
  mark->add_option("--as", as, "Type to receive it as: " + names_in_words(document_type_names(), "or") +
                                   " (default: from the name)");
  mark->add_option("--encoding", encoding, "How the name is typed: utf-8 or cp1252 (default: TextEncoding from the settings, else the locale)")->check(encodings);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;
  }
  if (*sync) {
    if (sync_options.keep_running && sync_options.device.empty()) {
      std::fprintf(stderr, "vellora: --keep-running waits for handhelds, so it needs --device\n");
      return 1;
    }
    return vellora::cli::sync_command(sync_options);
  }
  if (*device) return vellora::cli::device_info_command(device_options);
  if (*exporter) return vellora::cli::export_command(file, to, output, export_options);
  if (*mark) return vellora::cli::mark_command(mark->count("--handheld") ? folder : vellora::cli::default_handheld_folder(), file, as, encoding);
  if (*stage) return vellora::cli::stage_command(file, folder, registry, encoding);
  if (*convert) return vellora::cli::convert_command(file, output, registry, encoding, preview_file, flush);
  if (*preview) return vellora::cli::preview_command(file, output, screens, scale);
  return vellora::cli::dump_command(file, as_json, encoding);
}
