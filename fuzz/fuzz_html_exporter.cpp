// Arbitrary document databases -> the HTML exporter. The records come from
// the input through an in-memory handheld (see memory_handheld.h), so every
// run reaches the record decoding and the page writer. Besides the
// sanitizers, each run checks that the export succeeds exactly when the
// database has a paragraph, and that the page holds one element per body
// record and one font element per run.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "docmodel/document_reader.h"
#include "exporters/html_exporter.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/memory_handheld.h"

namespace {

using namespace vellora;

// Every export ends with an fsync; on a memory-backed folder that costs
// nothing, so the scratch file lives there when the host has one.
const std::filesystem::path& output_file() {
  static const auto* path = [] {
    std::error_code error;
    const std::filesystem::path memory_folder = "/dev/shm";
    const auto folder = std::filesystem::is_directory(memory_folder, error) ? memory_folder : fuzz::scratch_folder();
    return new std::filesystem::path(folder / ("vellora-fuzz-html-" + std::to_string(::getpid()) + ".htm"));
  }();
  return *path;
}

std::size_t count_of(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "html export: %s\n", what);
  std::abort();
}

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
      case DocumentParagraph::Kind::empty_line:
        ++counts.breaks;
        break;
      case DocumentParagraph::Kind::rule:
        ++counts.rules;
        break;
      case DocumentParagraph::Kind::other:
        break;
    }
  }
  return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::MemoryHandheld handheld(data, size);
  const auto& output = output_file();
  const ExportResult result =
      ExportHtml(handheld, fuzz::MemoryHandheld::kDatabaseName, output, ExportOptions{"Fuzz Sans", 10});
  const bool has_file = std::filesystem::exists(output);
  if (handheld.record_count() < 2) {
    if (result.status != ExportStatus::no_paragraphs || has_file) fail("a database without paragraphs was exported");
    return 0;
  }
  if (!result || !has_file) fail(result.reason.c_str());

  std::string page;
  {
    UniqueFile file = open_file(output, "rb");
    if (!file) fail("the page cannot be read back");
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) page.append(chunk, got);
  }
  std::error_code ignored;
  std::filesystem::remove(output, ignored);
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
