// Arbitrary document databases -> the RTF exporter. The records come from
// the input through an in-memory handheld (see memory_handheld.h), so every
// run reaches the record decoding, the colour scan and the writer. Besides
// the sanitizers, each run checks that the export succeeds exactly when the
// database has a paragraph, that the braces of the file balance into one
// group, that every colour number refers to an entry of the colour table,
// that every size fits in 16 bits, and that the file holds one paragraph
// per record and one group per run.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "docmodel/document_reader.h"
#include "exporters/rtf_exporter.h"
#include "fuzz/export_driver.h"

namespace {

using namespace vellora;
using fuzz::count_of;

[[noreturn]] void fail(const char* what) { fuzz::fail("rtf export", what); }

// The largest number written after each occurrence of `word`, or -1.
long largest_after(std::string_view text, std::string_view word) {
  long largest = -1;
  for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    std::size_t digit = at + word.size();
    if (digit >= text.size() || text[digit] < '0' || text[digit] > '9') fail("a control word without its number");
    long number = 0;
    for (; digit < text.size() && text[digit] >= '0' && text[digit] <= '9' && number < 1'000'000; ++digit)
      number = number * 10 + (text[digit] - '0');
    largest = std::max(largest, number);
  }
  return largest;
}

// Text bytes never write a raw brace, so the file must be one group whose
// depth returns to 0 only at its closing brace, and every group the writer
// opens starts with a control word.
void check_braces(std::string_view rtf) {
  long depth = 0;
  for (std::size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '{') {
      ++depth;
      if (i + 1 == rtf.size() || rtf[i + 1] != '\\') fail("a brace from the text");
    }
    if (rtf[i] == '}' && --depth == 0 && i + 2 != rtf.size()) fail("the outer group closes early");
    if (depth < 0) fail("a brace closes nothing");
  }
  if (depth != 0) fail("a group is left open");
}

std::size_t decoded_runs(const fuzz::MemoryHandheld& handheld) {
  std::size_t runs = 0;
  for (std::size_t i = 1; i < handheld.record_count(); ++i)
    for (const auto& line : decode_for_export(handheld.record(i)).text.lines) runs += line.runs.size();
  return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::MemoryHandheld handheld(data, size);
  // Sizes around the clamping bounds, picked by the input so each is reached.
  constexpr std::array<std::uint32_t, 5> kFontSizes = {10, 0, 32763, 32764, 0xFFFFFFFF};
  const ExportOptions options{"Fuzz Sans", kFontSizes[size % kFontSizes.size()]};
  static const auto output = fuzz::export_file_path(".rtf");
  const auto exported = fuzz::export_text(handheld, &ExportRtf, options, "rtf export", output);
  if (!exported) return 0;
  const std::string& rtf = *exported;

  const std::string_view font_line = "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fnil Fuzz Sans;}}\n";
  if (rtf.compare(0, font_line.size(), font_line) != 0 || !rtf.ends_with("\\par}\n}\n"))
    fail("the file is not complete");
  check_braces(rtf);

  const std::string_view text(rtf);
  const std::size_t table_end = text.find('\n', font_line.size());
  const std::string_view table = text.substr(font_line.size(), table_end - font_line.size());
  const auto table_entries = static_cast<long>(count_of(table, "\\red"));
  const std::string_view body = text.substr(table_end);
  if (largest_after(body, "\\cf") >= table_entries || largest_after(body, "\\highlight") >= table_entries)
    fail("a colour number past the colour table");
  if (largest_after(body, "\\fs") > 0xFFFF) fail("a size past 16 bits");
  if (count_of(body, "{\\pard") != handheld.record_count() - 1) fail("a paragraph is missing or extra");
  if (count_of(body, "{\\plain\\cf") != decoded_runs(handheld)) fail("a run is missing or extra");
  return 0;
}
