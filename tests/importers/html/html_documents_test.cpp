// Real HTML that nobody here wrote, through the importer and the packer:
// the sample pages kept with the tests, and every HTML manual page that
// Debian installed under /usr/share/doc. Each document must stage valid
// paragraphs whose every packed record keeps the layout rules. Also the
// importer's file road: unreadable sources and the send pass's paragraph
// limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "tests/importers/html/html_staging.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const fs::path kSamples = fs::path(VELLORA_SOURCE_DIR) / "tests/samples/html";
constexpr std::uintmax_t kMaxPageBytes = 1 << 20;

std::vector<StagedParagraph> read_paragraphs(const StagingBytes& staged) {
  StagingReader reader;
  EXPECT_TRUE(reader.open(staged));
  std::vector<StagedParagraph> paragraphs(reader.paragraph_count());
  for (auto& p : paragraphs) EXPECT_TRUE(reader.next(p));
  return paragraphs;
}

std::string text_of(const StagedParagraph& p) { return {p.text.begin(), p.text.end()}; }

TEST(HtmlDocuments, SamplesStageFromFileAsFromMemory) {
  std::size_t samples = 0;
  for (const auto& entry : fs::directory_iterator(kSamples)) {
    if (entry.path().extension() != ".html") continue;
    ++samples;
    SCOPED_TRACE(entry.path().filename().string());
    TempDir dir;
    const ImportResult result = ImportHtml(entry.path(), dir.path(), "sample.htm");
    ASSERT_TRUE(result) << result.reason;
    const StagingBytes from_file{read_file(dir / kStagingDataFile), read_file(dir / kStagingSizesFile)};
    const auto bytes = read_file(entry.path());
    const StagingBytes from_memory = import_bytes(bytes, "sample.htm", &stage_html);
    EXPECT_TRUE(BytesEqual(from_file.data, from_memory.data));
    EXPECT_TRUE(BytesEqual(from_file.sizes, from_memory.sizes));
    EXPECT_EQ(pack_problems(from_file), "");

    // Each sample has a title in its head: a centred paragraph over a rule.
    const auto paragraphs = read_paragraphs(from_file);
    ASSERT_GE(paragraphs.size(), 3u);
    EXPECT_EQ(result.paragraphs, paragraphs.size());
    EXPECT_EQ(paragraphs[0].alignment, kAlignCentred);
    EXPECT_EQ(paragraphs[1].cell_kind(0), kRuleCell);
    EXPECT_EQ(paragraphs[1].cell_font(0), 3);
  }
  EXPECT_EQ(samples, 3u);
}

// A file is read a chunk at a time. Moving a stretch of markup across the
// end of the first chunk puts each of its bytes there once: whatever is
// cut (text, a tag name, attribute text, a comment, a reference) must
// stage as it does from memory. A comment fills the chunk up to it.
TEST(HtmlDocuments, WhatStraddlesAReadChunkStagesAsFromMemory) {
  expect_chunk_edges_stage_as_from_memory(
      "<html><!--",
      "--><b>bold</b> &amp; plain\r\n<FONT color=red size=+1>x</font><!-- c -->\t<p align=center>y &#169;z ", "",
      kDefaultName, &ImportHtml, &stage_html);
}

TEST(HtmlDocuments, ASampleReadsAsItsAuthorMeantIt) {
  const auto bytes = read_file(kSamples / "json-c-readme.html");
  const auto paragraphs = read_paragraphs(import_html(std::string(bytes.begin(), bytes.end())));
  std::vector<std::string> texts;
  for (const auto& p : paragraphs) texts.push_back(text_of(p));
  const auto has = [&](const std::string& text) { return std::find(texts.begin(), texts.end(), text) != texts.end(); };
  EXPECT_EQ(texts[0], "JSON-C - A JSON implementation in C");
  EXPECT_TRUE(has(" \x95 mkdir build"));                                  // list items
  EXPECT_TRUE(has(" Send email to json-c <at> googlegroups <dot> com"));  // references
  EXPECT_TRUE(has("git clone https://github.com/json-c/json-c.git"));     // bold code
  const auto heading = std::find(texts.begin(), texts.end(), "Overview");
  ASSERT_NE(heading, texts.end());
  EXPECT_EQ(paragraphs[static_cast<std::size_t>(heading - texts.begin())].cell_font(0), 2);  // h3 is large
}

TEST(HtmlDocuments, InstalledManualsPackIntoValidRecords) {
  std::vector<fs::path> pages;
  std::error_code error;
  for (fs::recursive_directory_iterator it("/usr/share/doc", fs::directory_options::skip_permission_denied, error), end;
       !error && it != end; it.increment(error)) {
    const auto extension = it->path().extension();
    // Single-page editions of whole manuals (megabytes) repeat their
    // chapters and only cost time.
    if ((extension == ".html" || extension == ".htm") && it->is_regular_file(error) &&
        it->file_size(error) <= kMaxPageBytes)
      pages.push_back(it->path());
  }
  if (pages.empty()) GTEST_SKIP() << "no HTML manuals under /usr/share/doc";
  std::sort(pages.begin(), pages.end());
  std::size_t with_paragraphs = 0;
  for (const auto& page : pages) {
    SCOPED_TRACE(page.string());
    const auto bytes = read_file(page);
    const StagingBytes staged = import_bytes(bytes, page.filename().string(), &stage_html);
    EXPECT_EQ(pack_problems(staged), "");
    if (!staged.sizes.empty()) ++with_paragraphs;
  }
  RecordProperty("pages", static_cast<int>(pages.size()));
  // Pages without an html tag (fragments) stage nothing; real manuals do.
  EXPECT_GT(with_paragraphs, pages.size() / 2);
}

TEST(HtmlDocuments, StagingStopsAtTheParagraphLimit) {
  TempDir dir;
  write_file(dir / "page.htm", "<html><p>a<p>b<table border=1><td>c<td>d</table>");
  const ImportResult all = ImportHtml(dir / "page.htm", dir.path(), "page.htm");
  EXPECT_EQ(all.paragraphs, 9u);  // the table keeps the block flag of the p before it
  for (const std::size_t limit : {0u, 1u, 3u, 4u}) {
    const ImportResult cut = ImportHtml(dir / "page.htm", dir.path(), "page.htm", ImportOptions{limit});
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut.paragraphs, limit);
    EXPECT_EQ(read_file(dir / kStagingSizesFile).size(), 2 * limit);
  }
}

}  // namespace
}  // namespace vellora
