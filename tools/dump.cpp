// `vellora dump`: a database file shown record by record, for people or,
// with --json, for programs. Document databases are decoded and checked
// against the layout rules; any other database is shown as bytes. Records
// are read and printed one at a time, so a database of any size is shown
// in the memory of its record list and one record.
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "conduit/catalog.h"
#include "conduit/document_types.h"
#include "docmodel/palette.h"
#include "docmodel/records.h"
#include "docmodel/staging.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/terminal_text.h"
#include "hosts/linux/utf8_codec.h"
#include "tools/encoding_option.h"
#include "tools/fail.h"
#include "tools/subcommand.h"

namespace vellora::cli {

namespace {

using linux_host::PdbReader;

// How handheld text is shown, through the codec: with UTF-8 every byte as
// the character it stands for; otherwise the upper half as Latin-1 and the
// bytes 0x80 to 0x9F escaped, as a terminal that takes bytes would not
// show them either.
struct Shown {
  bool decodes_handheld_set = false;

  char32_t character(std::uint8_t b) const { return decodes_handheld_set ? linux_host::handheld_to_unicode(b) : b; }
};

const char* alignment_name(std::uint16_t code) {
  switch (code) {
    case kAlignLeft: return "left";
    case kAlignRight: return "right";
    case kAlignJustified: return "justified";
    case kAlignCentred: return "centred";
    default: return "other";
  }
}

std::string date_text(std::uint32_t pdb_seconds) {
  if (pdb_seconds == 0) return "never";
  const std::time_t t = static_cast<std::time_t>(unix_time_from_pdb(pdb_seconds));
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

std::string colour_text(std::uint8_t index) {
  if (index == kNoHighlight) return "250 (none)";
  const Rgb rgb = palette_colour(index);
  char text[32];
  std::snprintf(text, sizeof text, "%u #%02X%02X%02X", index, rgb.red, rgb.green, rgb.blue);
  return text;
}

// Handheld text as UTF-8 with control bytes escaped.
std::string printable(const Shown& shown, std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    const char32_t c = shown.character(b);
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
      text += escape;
    } else {
      linux_host::append_utf8(c, text);
    }
  }
  return text;
}

std::string json_string(const Shown& shown, std::span<const std::uint8_t> bytes) {
  std::string text = "\"";
  for (std::uint8_t b : bytes) {
    if (b == '"' || b == '\\') {
      text += '\\';
      text += static_cast<char>(b);
    } else if (b >= 0x20 && b < 0x7F) {
      text += static_cast<char>(b);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(shown.character(b)));
      text += escape;
    }
  }
  return text + "\"";
}

std::string json_string(const Shown& shown, std::string_view text) {
  return json_string(shown, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::string hex(std::span<const std::uint8_t> bytes, std::size_t limit) {
  std::string text;
  char cell[4];
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += cell;
  }
  if (bytes.size() > limit) text += " ...";
  return text;
}

bool is_catalog(const PdbHeader& header) { return header.type == kCatalogType && header.creator == kCatalogCreator; }

CatalogEntry catalog_entry(std::span<const std::uint8_t> data, const PdbRecordEntry& record) {
  CatalogEntry entry;
  std::copy_n(data.begin(), std::min(data.size(), entry.bytes.size()), entry.bytes.begin());
  entry.category = record.category;
  return entry;
}

std::string type_text(int category) {
  const DocumentType* type = document_type_number(category);
  return type == nullptr ? "unknown type " + std::to_string(category)
                         : "type " + std::to_string(category) + " (" + std::string(type->extension) + ")";
}

bool is_document(const PdbHeader& header) { return header.type == kDocumentType && header.creator == kDocumentCreator; }

// The problems check_document finds, in its order, handed to `report` one
// at a time from records read one at a time: holding a whole document to
// check it would cost the file's size. Fails only when a record cannot be
// read.
PdbResult each_layout_problem(const PdbReader& db, std::vector<std::uint8_t>& bytes,
                              const std::function<void(const std::string&)>& report) {
  DocumentCheck check(report);
  for (std::size_t i = 0; i < db.record_count(); ++i) {
    if (auto read = db.read_record(i, bytes); !read) return read;
    check.add(bytes);
  }
  check.finish();
  return {};
}

// ---------------------------------------------------------------- people

void print_text_record(const Shown& shown, const TextRecord& text) {
  std::printf("  text, %s, height %u, %zu line%s, %zu characters\n", alignment_name(text.alignment), text.height,
              text.lines.size(), text.lines.size() == 1 ? "" : "s", text.text.size());
  std::size_t pos = 0;
  for (std::size_t l = 0; l < text.lines.size(); ++l) {
    const LineEntry& line = text.lines[l].entry;
    const std::size_t end = std::min(text.text.size(), pos + line.chars);
    std::printf("    line %zu: %u chars, width %u, height %u, indent %u: \"%s\"\n", l + 1, line.chars, line.width,
                line.height, line.indent, printable(shown, {text.text.data() + pos, end - pos}).c_str());
    for (const RunEntry& run : text.lines[l].runs)
      std::printf("      %s run: %u chars, width %u, height %u, font %u, colour %s, highlight %s\n",
                  run.kind == kSpaceRun ? "space" : "text", run.chars, run.width, run.height, run.font,
                  colour_text(run.colour).c_str(), colour_text(run.highlight).c_str());
    pos = end;
  }
}

PdbResult print_human(const Shown& shown, const std::string& file, const PdbReader& db) {
  const auto& h = db.header();
  std::printf("%s: \"%s\"\n", linux_host::terminal_safe(file).c_str(),
              printable(shown, {reinterpret_cast<const std::uint8_t*>(h.name.data()), h.name.size()}).c_str());
  std::printf("  type %s, creator %s, version %u, attributes 0x%04X, %zu records\n", four_cc_text(h.type).c_str(),
              four_cc_text(h.creator).c_str(), h.version, h.attributes, db.record_count());
  std::printf("  created %s, modified %s, backed up %s\n", date_text(h.created).c_str(), date_text(h.modified).c_str(),
              date_text(h.backed_up).c_str());
  const bool document = is_document(h);
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i < db.record_count(); ++i) {
    const PdbRecordEntry& record = db.entry(i);
    if (auto read = db.read_record(i, data); !read) return read;
    std::printf("record %zu: %zu bytes, id %u, category %u, attributes 0x%02X\n", i, data.size(), record.unique_id,
                record.category, record.attributes);
    if (is_catalog(h)) {
      const CatalogEntry entry = catalog_entry(data, record);
      const std::string name = entry.name();
      std::printf("  catalog entry \"%s\", %s, %s\n",
                  printable(shown, {reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}).c_str(),
                  type_text(entry.category).c_str(), entry.is_marked() ? "marked for the PC" : "not marked");
      continue;
    }
    if (!document) {
      std::printf("  %s\n", hex(data, 48).c_str());
      continue;
    }
    if (i == 0) {
      HeaderRecord header;
      if (auto r = decode_header(data, header); !r)
        std::printf("  undecodable: %s\n", r.reason.c_str());
      else
        std::printf("  header, tag %u, lineTotal %u, background %s\n", header.tag, header.line_total,
                    colour_text(header.background).c_str());
      continue;
    }
    ParagraphRecord paragraph;
    if (auto r = decode_paragraph(data, paragraph); !r) {
      std::printf("  undecodable: %s\n", r.reason.c_str());
    } else if (const auto* text = std::get_if<TextRecord>(&paragraph)) {
      print_text_record(shown, *text);
    } else if (const auto* rule = std::get_if<RuleRecord>(&paragraph)) {
      std::printf("  rule, height %u, thickness %u, colour %s, highlight %s\n", rule->height, rule->thickness,
                  colour_text(rule->colour).c_str(), colour_text(rule->highlight).c_str());
    } else {
      std::printf("  empty line, height %u\n", std::get<EmptyLineRecord>(paragraph).height);
    }
  }
  if (!document) return {};
  bool has_problems = false;
  const auto read = each_layout_problem(db, data, [&](const std::string& problem) {
    has_problems = true;
    std::printf("layout check: %s\n", problem.c_str());
  });
  if (read && !has_problems) std::printf("layout check: ok\n");
  return read;
}

// ---------------------------------------------------------------- programs

std::string json_text_record(const Shown& shown, const TextRecord& text) {
  std::string out = "\"kind\":\"text\",\"alignment\":" + std::to_string(text.alignment) +
                    ",\"height\":" + std::to_string(text.height) + ",\"text\":" + json_string(shown, text.text) +
                    ",\"lines\":[";
  for (std::size_t l = 0; l < text.lines.size(); ++l) {
    const LineEntry& e = text.lines[l].entry;
    if (l != 0) out += ',';
    out += "{\"chars\":" + std::to_string(e.chars) + ",\"width\":" + std::to_string(e.width) +
           ",\"height\":" + std::to_string(e.height) + ",\"indent\":" + std::to_string(e.indent) + ",\"runs\":[";
    for (std::size_t r = 0; r < text.lines[l].runs.size(); ++r) {
      const RunEntry& run = text.lines[l].runs[r];
      if (r != 0) out += ',';
      out += "{\"kind\":" + std::to_string(run.kind) + ",\"chars\":" + std::to_string(run.chars) +
             ",\"width\":" + std::to_string(run.width) + ",\"height\":" + std::to_string(run.height) +
             ",\"font\":" + std::to_string(run.font) + ",\"colour\":" + std::to_string(run.colour) +
             ",\"highlight\":" + std::to_string(run.highlight) + "}";
    }
    out += "]}";
  }
  return out + "]";
}

PdbResult print_json(const Shown& shown, const std::string& file, const PdbReader& db) {
  const auto& h = db.header();
  std::string out = "{\"file\":" + json_string(shown, file) + ",\"name\":" + json_string(shown, h.name) +
                    ",\"type\":" + json_string(shown, four_cc_text(h.type)) +
                    ",\"creator\":" + json_string(shown, four_cc_text(h.creator)) +
                    ",\"version\":" + std::to_string(h.version) + ",\"attributes\":" + std::to_string(h.attributes) +
                    ",\"created\":" + std::to_string(h.created) + ",\"modified\":" + std::to_string(h.modified) +
                    ",\"records\":[";
  const bool document = is_document(h);
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i < db.record_count(); ++i) {
    // Written out record by record: the whole text of a large database
    // would cost several times its size.
    std::fputs(out.c_str(), stdout);
    const PdbRecordEntry& record = db.entry(i);
    if (auto read = db.read_record(i, data); !read) return read;
    out = i != 0 ? ",\n" : "\n";
    out += "{\"index\":" + std::to_string(i) + ",\"size\":" + std::to_string(data.size()) +
           ",\"id\":" + std::to_string(record.unique_id) + ",\"category\":" + std::to_string(record.category) +
           ",\"attributes\":" + std::to_string(record.attributes) + ",";
    HeaderRecord header;
    ParagraphRecord paragraph;
    if (is_catalog(h)) {
      const CatalogEntry entry = catalog_entry(data, record);
      out += "\"kind\":\"catalog\",\"name\":" + json_string(shown, entry.name()) +
             ",\"marked\":" + (entry.is_marked() ? "true" : "false");
    } else if (!document) {
      out += "\"kind\":\"data\",\"hex\":" + json_string(shown, hex(data, data.size()));
    } else if (i == 0 && decode_header(data, header)) {
      out += "\"kind\":\"header\",\"tag\":" + std::to_string(header.tag) +
             ",\"line_total\":" + std::to_string(header.line_total) +
             ",\"background\":" + std::to_string(header.background);
    } else if (i == 0 || !decode_paragraph(data, paragraph)) {
      out += "\"kind\":\"undecodable\",\"hex\":" + json_string(shown, hex(data, data.size()));
    } else if (const auto* text = std::get_if<TextRecord>(&paragraph)) {
      out += json_text_record(shown, *text);
    } else if (const auto* rule = std::get_if<RuleRecord>(&paragraph)) {
      out += "\"kind\":\"rule\",\"height\":" + std::to_string(rule->height) +
             ",\"thickness\":" + std::to_string(rule->thickness) + ",\"colour\":" + std::to_string(rule->colour) +
             ",\"highlight\":" + std::to_string(rule->highlight);
    } else {
      out += "\"kind\":\"empty_line\",\"height\":" + std::to_string(std::get<EmptyLineRecord>(paragraph).height);
    }
    out += "}";
  }
  out += "\n],\"problems\":[";
  std::fputs(out.c_str(), stdout);
  if (document) {
    bool is_first = true;
    const auto read = each_layout_problem(db, data, [&](const std::string& problem) {
      if (!is_first) std::fputc(',', stdout);
      std::fputs(json_string(shown, problem).c_str(), stdout);
      is_first = false;
    });
    if (!read) return read;
  }
  std::fputs("]}\n", stdout);
  return {};
}

struct DumpOptions {
  std::string database;
  bool as_json = false;
  std::string encoding;  // empty: TextEncoding from the registry file, else the locale
};

int dump(const std::filesystem::path& file, bool as_json, const std::string& encoding) {
  std::string why_not;
  const TextCodec* codec = choose_codec(encoding, why_not);
  if (codec == nullptr) return fail(why_not);
  const Shown shown{!codec->is_identity()};
  PdbReader db;
  if (const auto opened = db.open(file); !opened) return fail(opened.reason);
  const auto printed = as_json ? print_json(shown, file.string(), db) : print_human(shown, file.string(), db);
  if (!printed) {
    // What was shown so far goes out before the reason it stops there.
    std::fflush(stdout);
    return fail(printed.reason);
  }
  return 0;
}

}  // namespace

Subcommand add_dump(CLI::App& app) {
  auto options = std::make_shared<DumpOptions>();
  auto* command = app.add_subcommand("dump", "Show a handheld database: header and every record decoded");
  command->add_option("DB", options->database, "Database file (.pdb)")->required();
  command->add_flag("--json", options->as_json, "Print JSON for programs");
  command
      ->add_option("--encoding", options->encoding,
                   "How handheld text is shown: utf-8 decodes the handheld's character set, cp1252 shows it as "
                   "Latin-1 (default: TextEncoding from the settings, else the locale)")
      ->check(encoding_choices());
  return {command, [options] { return dump(options->database, options->as_json, options->encoding); }};
}

}  // namespace vellora::cli
