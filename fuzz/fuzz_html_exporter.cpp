// Arbitrary document databases -> the HTML exporter. The records come from
// the input through an in-memory handheld (see memory_handheld.h), so every
// run reaches the record decoding and the page writer. Besides the
// sanitizers, each run checks that the export succeeds exactly when the
// database has a paragraph, and that the page holds one element per body
// record and one font element per run.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "docmodel/document_reader.h"
#include "exporters/html_exporter.h"
#include "fuzz/export_driver.h"

namespace {

using namespace vellora;
using fuzz::count_of;

[[noreturn]] void fail(const char* what) { fuzz::fail("html export", what); }

struct ElementCounts {
  std::size_t paragraphs = 0, breaks = 0, rules = 0, runs = 0;
  bool operator==(const ElementCounts&) const = default;
};

// What the page's body must hold, from the records decoded independently.
ElementCounts expected_counts(const fuzz::MemoryHandheld& handheld) {
  std::vector<DocumentParagraph> paragraphs;
  for (std::size_t i = 1; i < handheld.record_count(); ++i) paragraphs.push_back(decode_for_export(handheld.record(i)));
  const bool has_title = paragraphs.size() >= 2 && paragraphs[0].kind == DocumentParagraph::Kind::text &&
                         paragraphs[1].kind == DocumentParagraph::Kind::rule;
  ElementCounts counts;
  for (std::size_t i = has_title ? 2 : 0; i < paragraphs.size(); ++i) {
    switch (paragraphs[i].kind) {
      case DocumentParagraph::Kind::text:
        ++counts.paragraphs;
        for (const auto& line : paragraphs[i].text.lines) counts.runs += line.runs.size();
        break;
      case DocumentParagraph::Kind::empty_line: ++counts.breaks; break;
      case DocumentParagraph::Kind::rule: ++counts.rules; break;
      case DocumentParagraph::Kind::other: break;
    }
  }
  return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::MemoryHandheld handheld(data, size);
  static const auto output = fuzz::export_file_path(".htm");
  const auto exported = fuzz::export_text(handheld, &ExportHtml, ExportOptions{"Fuzz Sans", 10}, "html export", output);
  if (!exported) return 0;
  const std::string& page = *exported;
  // Run text escapes '<', so tags after the base font are the writer's own.
  const std::string_view base_font = "<basefont face=\"Fuzz Sans\">\n";
  const std::string_view end = "</body>\n</html>\n";
  const auto body_at = page.find(base_font);
  if (body_at == std::string::npos || page.size() < end.size() ||
      page.compare(page.size() - end.size(), end.size(), end) != 0)
    fail("the page is not complete");
  const std::string_view body = std::string_view(page).substr(body_at + base_font.size());
  const ElementCounts written{count_of(body, "<p align=\""), count_of(body, "<br>\n"), count_of(body, "<hr color=\""),
                              count_of(body, "</font>")};
  if (!(written == expected_counts(handheld))) fail("an element is missing or extra");
  return 0;
}
