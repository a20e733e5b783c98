// `vellora preview`: a picture of a document database as the handheld
// shows it.
#include <cstdio>

#include "hosts/linux/terminal_text.h"
#include "tools/commands.h"
#include "tools/preview_image.h"

namespace vellora::cli {

namespace fs = std::filesystem;

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

int preview_command(const fs::path& database, const fs::path& output, const std::string& screens_text, int scale) {
  long screens = 0;
  if (!parse_screens(screens_text, screens)) return fail("--screens " + screens_text, "say a number of screens from 1, or all");
  if (is_same_file(database, output)) return fail_same_file(database, output);
  fs::path output_folder = output.parent_path();
  if (output_folder.empty()) output_folder = ".";
  if (!fs::is_directory(output_folder)) return fail(output.string(), "its folder does not exist");
  if (fs::is_directory(output)) return fail(output.string(), "is a folder; name the picture to write");
  std::string why_not;
  const long drawn = write_preview(database, output, screens, scale, why_not);
  if (drawn < 0) return fail(why_not);
  std::printf("%s -> %s: %ld screen%s at %dx\n", posix::terminal_safe(database.string()).c_str(),
              posix::terminal_safe(output.string()).c_str(), drawn, drawn == 1 ? "" : "s", scale);
  return 0;
}

}  // namespace vellora::cli
