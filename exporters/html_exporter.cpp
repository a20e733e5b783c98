// Document database to HTML through the shared document reader. Records are
// read one at a time, in index order, and the page is written as it grows,
// so memory stays at one record however long the document is.
#include "exporters/html_exporter.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string>

#include "base/ascii.h"
#include "docmodel/document_reader.h"
#include "docmodel/html_entities.h"
#include "docmodel/palette.h"
#include "exporters/export_file.h"

namespace vellora {

namespace {

constexpr std::string_view kDoctype = R"(<!DOCTYPE HTML PUBLIC "-//W3C//DTD W3 HTML//EN">)";
constexpr std::string_view kGeneratedBy = "<!-- Generated with Vellora for PalmOS. Brisholm Ltd. Web site: ";
constexpr std::string_view kNoTitle = "No title";

// Text waiting to be written is handed to the file once it reaches this.
constexpr std::size_t kWriteChunkBytes = 64 * 1024;

// The align word of a paragraph, by alignment code (0 left, 1 right,
// 2 justified, 3 centred). Codes the builder never writes read as left.
constexpr std::array<std::string_view, 4> kAlignWords = {"left", "right", "justify", "center"};

// The font element of a run, by the run's font (0 standard, 1 bold,
// 2 large): the size it is written with and whether it is strong. Fonts
// outside the table are written as standard.
struct RunStyle {
  int size;
  bool is_bold;
};
constexpr std::array<RunStyle, 3> kRunStyles = {{{3, false}, {4, true}, {5, false}}};

// "#rrggbb" for a palette index.
void append_colour(std::string& html, std::uint8_t index) {
  const Rgb rgb = palette_colour(index);
  html += '#';
  for (const std::uint8_t component : {rgb.red, rgb.green, rgb.blue}) append_hex_byte(html, component, kLowerHexDigits);
}

// A byte the codec writes as a numeric character reference, or as itself.
void append_byte(std::string& html, std::uint8_t byte, const TextCodec& codec) {
  if (const char32_t reference = codec.html_reference(byte); reference != 0) {
    html += "&#";
    html += std::to_string(static_cast<std::uint32_t>(reference));
    html += ';';
  } else {
    html += static_cast<char>(byte);
  }
}

// A run's characters: markup characters and the upper half of Latin-1 as
// entity references, and every space after the first of a row as "&nbsp;"
// so that the browser keeps it.
void append_run_text(std::string& html, std::span<const std::uint8_t> text, const TextCodec& codec) {
  bool follows_space = false;
  for (const std::uint8_t byte : text) {
    if (byte == ' ') {
      html += follows_space ? "&nbsp;" : " ";
      follows_space = true;
      continue;
    }
    follows_space = false;
    if (const auto row = html_entity_row_for(byte)) {
      html += '&';
      html += kHtmlEntityNames[*row];
      html += ';';
    } else {
      append_byte(html, byte, codec);
    }
  }
}

void append_run(std::string& html, const RunEntry& run, std::span<const std::uint8_t> text, const TextCodec& codec) {
  const RunStyle style = run.font < kRunStyles.size() ? kRunStyles[run.font] : kRunStyles[0];
  html += "<font color=\"";
  append_colour(html, run.colour);
  html += "\" size=\"";
  html += std::to_string(style.size);
  html += style.is_bold ? "\"><strong>" : "\">";
  append_run_text(html, text, codec);
  html += style.is_bold ? "</strong></font>" : "</font>";
}

// A text record: its runs take the text in order across all its lines.
void append_text(std::string& html, const TextRecord& record, const TextCodec& codec) {
  html += "<p align=\"";
  html += record.alignment < kAlignWords.size() ? kAlignWords[record.alignment] : kAlignWords[0];
  html += "\">\n";
  const std::span<const std::uint8_t> text = record.text;
  std::size_t at = 0;
  for (const TextLine& line : record.lines) {
    for (const RunEntry& run : line.runs) {
      // The reader already keeps runs within the text; the bound keeps this
      // loop safe without relying on it.
      const std::size_t chars = std::min<std::size_t>(run.chars, text.size() - at);
      append_run(html, run, text.subspan(at, chars), codec);
      at += chars;
    }
  }
  html += "</p>\n";
}

void append_element(std::string& html, const DocumentParagraph& paragraph, const TextCodec& codec) {
  switch (paragraph.kind) {
    case DocumentParagraph::Kind::text: append_text(html, paragraph.text, codec); break;
    case DocumentParagraph::Kind::empty_line: html += "<br>\n"; break;
    case DocumentParagraph::Kind::rule:
      html += "<hr color=\"";
      append_colour(html, paragraph.rule.colour);
      html += "\" size=\"";
      html += std::to_string(2 * paragraph.rule.thickness);
      html += "\">\n";
      break;
    case DocumentParagraph::Kind::other: break;
  }
}

// The title paragraph's text up to its first zero byte.
std::string_view title_of(const TextRecord& record) {
  const auto* text = reinterpret_cast<const char*>(record.text.data());
  const auto end = std::find(record.text.begin(), record.text.end(), std::uint8_t{0});
  return {text, static_cast<std::size_t>(end - record.text.begin())};
}

void append_head(std::string& html, std::string_view title, std::uint8_t background, std::string_view font_name,
                 const TextCodec& codec) {
  html += kDoctype;
  html += '\n';
  html += kGeneratedBy;
  html += kMakerWebAddress;
  html += " -->\n<html>\n<head>\n<title>";
  for (const char c : title) append_byte(html, static_cast<std::uint8_t>(c), codec);
  html += "</title>\n\n<body bgcolor=\"";
  append_colour(html, background);
  html += "\">\n\n<basefont face=\"";
  html += font_name;
  html += "\">\n";
}

}  // namespace

ExportResult ExportHtml(SyncManager& sync, std::string_view database_name, const std::filesystem::path& output,
                        const ExportOptions& options) {
  DocumentReader document(sync);
  if (auto opened = document.open(database_name); !opened) return export_failure(opened);
  const std::uint16_t count = document.record_count();  // at least 2 once open

  // The header and the first two paragraphs decide the head of the page;
  // they are read before the file is created, in index order like the rest.
  HeaderRecord header;
  if (auto read = document.read_header(header); !read) return export_failure(read);
  std::array<DocumentParagraph, 2> leading;
  const std::uint16_t leading_count = std::min<std::uint16_t>(static_cast<std::uint16_t>(count - 1), 2);
  for (std::uint16_t i = 0; i < leading_count; ++i)
    if (auto read = document.read_paragraph(static_cast<std::uint16_t>(i + 1), leading[i]); !read)
      return export_failure(read);
  // A first paragraph followed by a rule is the title, and neither is body.
  const bool has_title = leading_count == 2 && leading[0].kind == DocumentParagraph::Kind::text &&
                         leading[1].kind == DocumentParagraph::Kind::rule;

  ExportFile file(output, options.leaves_flush_pending);
  if (auto opened = file.open(); !opened) return opened;
  std::string html;
  const auto write_out = [&] {
    const bool ok = file.write(html);
    html.clear();
    return ok;
  };

  const TextCodec& codec = options.codec != nullptr ? *options.codec : TextCodec::identity();
  append_head(html, has_title ? title_of(leading[0].text) : kNoTitle, header.background, options.font_name, codec);
  if (!has_title)
    for (std::uint16_t i = 0; i < leading_count; ++i) append_element(html, leading[i], codec);
  DocumentParagraph paragraph;
  for (std::uint16_t index = static_cast<std::uint16_t>(1 + leading_count); index < count; ++index) {
    if (auto read = document.read_paragraph(index, paragraph); !read) return export_failure(read);
    append_element(html, paragraph, codec);
    if (html.size() >= kWriteChunkBytes && !write_out()) return file.failure();
  }
  html += "</body>\n</html>\n";
  if (!write_out()) return file.failure();
  return file.finish();
}

}  // namespace vellora
