// The journal's text: a first line that names the format, then one line
// per entry, file and database name separated by a tab. Bytes below 0x20,
// 0x7F and '%' are written as %XX, so no name can break a line.
#include "conduit/send_journal.h"

#include <cstdio>
#include <optional>
#include <system_error>

#include "base/ascii.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFirstLine = "vellora send journal 1";
// A batch holds a few hundred entries; a larger file is not ours.
constexpr std::uintmax_t kMostJournalBytes = 4 << 20;

void append_escaped(std::string& out, std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == '%') {
      out += '%';
      append_hex_byte(out, byte);
    } else {
      out += c;
    }
  }
}

// The journal is written in upper case only; anything else is not ours.
int hex_value(char c) { return c >= 'a' && c <= 'f' ? -1 : hex_digit_value(c); }

std::optional<std::string> unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      if (static_cast<unsigned char>(text[i]) < 0x20) return std::nullopt;
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hex_value(text[i + 1]);
    const int low = hex_value(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace

void SendJournal::add(std::string_view file, std::string_view database) {
  if (!file_) {
    // Created, never opened: a link or a FIFO placed at the name since the
    // last journal was removed is not followed, and this journal is then
    // not written.
    file_ = create_new_file(path_);
    if (!file_) return;
    std::fprintf(file_.get(), "%.*s\n", static_cast<int>(kFirstLine.size()), kFirstLine.data());
  }
  std::string line;
  append_escaped(line, file);
  line += '\t';
  append_escaped(line, database);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), file_.get());
  std::fflush(file_.get());
}

void SendJournal::clear() {
  if (!file_) return;
  file_.reset();
  std::error_code ignored;
  fs::remove(path_, ignored);
}

void SendJournal::remove(const fs::path& folder) {
  std::error_code ignored;
  fs::remove(folder / kSendJournalName, ignored);
}

std::vector<JournalEntry> SendJournal::read(const fs::path& folder, bool& found) {
  std::vector<JournalEntry> entries;
  const fs::path path = folder / kSendJournalName;
  std::error_code error;
  found = fs::exists(fs::symlink_status(path, error));
  // Only a regular file of a sane size is read; anything else is removed
  // with the rest of the journal and never followed.
  FileStamp stamp;
  const UniqueFile file = found ? open_regular_file(path, stamp) : UniqueFile();
  if (!file || stamp.size_bytes > kMostJournalBytes) return entries;
  std::string text;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) text.append(chunk, got);
  std::string_view rest(text);
  bool is_first = true;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    if (end == std::string_view::npos) break;  // the last line was cut short
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (is_first) {
      if (line != kFirstLine) return {};
      is_first = false;
      continue;
    }
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    auto name = unescaped(line.substr(0, tab));
    auto database = unescaped(line.substr(tab + 1));
    if (name && database) entries.push_back({std::move(*name), std::move(*database)});
  }
  return entries;
}

}  // namespace vellora
