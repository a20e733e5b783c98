// `vellora preview`: a picture of a document database as the handheld
// shows it.
#include <cstdio>
#include <memory>
#include <string>

#include "hosts/linux/terminal_text.h"
#include "tools/fail.h"
#include "tools/preview_image.h"
#include "tools/subcommand.h"

namespace vellora::cli {

namespace fs = std::filesystem;

namespace {

struct PreviewOptions {
  std::string database;
  std::string output;
  std::string screens = "3";  // a number from 1, or "all"
  int scale = 2;
};

bool parse_screens(const std::string& text, long& screens) {
  if (text == "all") {
    screens = -1;
    return true;
  }
  screens = 0;
  for (const char c : text) {
    if (c < '0' || c > '9' || screens > 1'000'000) return false;
    screens = screens * 10 + (c - '0');
  }
  return !text.empty() && screens > 0;
}

}  // namespace

int draw_preview(const fs::path& database, const fs::path& output, const std::string& screens_text, int scale) {
  long screens = 0;
  if (!parse_screens(screens_text, screens))
    return fail("--screens " + screens_text, "say a number of screens from 1, or all");
  if (is_same_file(database, output)) return fail_same_file(database, output);
  fs::path output_folder = output.parent_path();
  if (output_folder.empty()) output_folder = ".";
  if (!fs::is_directory(output_folder)) return fail(output.string(), "its folder does not exist");
  if (fs::is_directory(output)) return fail(output.string(), "is a folder; name the picture to write");
  std::string why_not;
  const long drawn = write_preview(database, output, screens, scale, why_not);
  if (drawn < 0) return fail(why_not);
  std::printf("%s -> %s: %ld screen%s at %dx\n", linux_host::terminal_safe(database.string()).c_str(),
              linux_host::terminal_safe(output.string()).c_str(), drawn, drawn == 1 ? "" : "s", scale);
  return 0;
}

Subcommand add_preview(CLI::App& app) {
  auto options = std::make_shared<PreviewOptions>();
  auto* command = app.add_subcommand(
      "preview",
      "Draw a document database as the handheld shows it, screen after screen, into a PNG file.\n"
      "Glyphs come from a free font, but every character sits where the handheld's font width table puts it, "
      "so line breaks, widths and positions are the handheld's own");
  command->add_option("DB", options->database, "Document database file (.pdb)")->required();
  command->add_option("-o,--output", options->output, "PNG file to write")->required();
  command->add_option("--screens", options->screens, "How many 160 x 160 screens to draw, or all (default: 3)");
  command->add_option("--scale", options->scale, "Picture pixels per handheld pixel (default: 2)")
      ->check(CLI::Range(1, 16));
  return {command,
          [options] { return draw_preview(options->database, options->output, options->screens, options->scale); }};
}

}  // namespace vellora::cli
