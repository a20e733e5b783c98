// Real RTF that nobody here wrote, through the importer and the packer:
// the samples kept with the tests, and documents that the word processors
// on the machine write from the licence texts and manual pages Debian
// installs. Each must stage valid paragraphs whose packed records keep the
// layout rules, with the same words in the same order as a reference
// RTF-to-text tool reads from it. Also the importer's file road:
// unreadable sources, binary reading and the send pass's paragraph limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "importers/rtf/rtf_state.h"
#include "tests/importers/rtf/rtf_staging.h"
#include "tests/support/programs.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const fs::path kSamples = fs::path(VELLORA_SOURCE_DIR) / "tests/samples/rtf";
const fs::path kHtmlSamples = fs::path(VELLORA_SOURCE_DIR) / "tests/samples/html";
const char* const kLicences[] = {"Apache-2.0", "Artistic", "BSD",      "CC0-1.0",
                                 "GFDL-1.3",   "GPL-3",    "LGPL-2.1", "MPL-2.0"};

std::string text_of(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::vector<StagedParagraph> read_paragraphs(const StagingBytes& staged) {
  StagingReader reader;
  EXPECT_TRUE(reader.open(staged));
  std::vector<StagedParagraph> paragraphs(reader.paragraph_count());
  for (auto& p : paragraphs) EXPECT_TRUE(reader.next(p));
  return paragraphs;
}

// The staged text, one line per paragraph. A paragraph split because it
// was full continues on the same line, so a word cut there stays whole.
std::string staged_text(const StagingBytes& staged) {
  std::string text;
  for (const auto& p : read_paragraphs(staged)) {
    if (p.cell_kind(0) == kCharacterCell) text.append(p.text.begin(), p.text.end());
    if (p.size() < rtf_import::kParagraphCutChars) text += '\n';
  }
  return text;
}

// What the reference tool reads from `rtf`, without its banner.
std::optional<std::string> reference_text(const fs::path& unrtf, const fs::path& rtf) {
  const fs::path out = fs::path(rtf).replace_extension(".ref");
  if (std::system((quoted(unrtf) + " --text " + quoted(rtf) + " >" + quoted(out) + " 2>/dev/null").c_str()) != 0)
    return std::nullopt;
  const std::string text = text_of(read_file(out));
  const std::string banner_end = "\n-----------------\n";
  const std::size_t at = text.find(banner_end);
  return at == std::string::npos ? text : text.substr(at + banner_end.size());
}

// Imports every RTF file in `folder` and holds it against the reference.
void expect_documents_read_as_reference(const fs::path& folder, const fs::path& unrtf, std::size_t expected) {
  std::size_t documents = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".rtf") continue;
    ++documents;
    SCOPED_TRACE(entry.path().filename().string());
    const auto bytes = read_file(entry.path());
    const StagingBytes staged = import_bytes(bytes, entry.path().filename().string(), &stage_rtf);
    EXPECT_EQ(pack_problems(staged), "");
    const auto reference = reference_text(unrtf, entry.path());
    ASSERT_TRUE(reference) << "the reference tool failed";
    const auto words = words_of(staged_text(staged));
    EXPECT_GT(words.size(), 100u);
    EXPECT_EQ(word_differences(words, words_of(*reference)), "");
  }
  EXPECT_EQ(documents, expected);
}

// Licence texts with each paragraph on one line, as Markdown: indented
// lines would otherwise become code blocks.
std::vector<fs::path> licences_as_markdown(const fs::path& folder) {
  std::vector<fs::path> written;
  for (const char* name : kLicences) {
    std::ifstream in(fs::path("/usr/share/common-licenses") / name);
    if (!in) continue;
    std::string markdown, paragraph;
    for (std::string line; std::getline(in, line);) {
      const auto first = line.find_first_not_of(" \t\f");
      if (first == std::string::npos) {
        if (!paragraph.empty()) markdown += paragraph + "\n\n";
        paragraph.clear();
      } else {
        if (!paragraph.empty()) paragraph += ' ';
        paragraph.append(line, first);
      }
    }
    markdown += paragraph + "\n";
    written.push_back(folder / (std::string(name) + ".md"));
    write_file(written.back(), markdown);
  }
  return written;
}

TEST(RtfDocuments, SamplesStageFromFileAsFromMemory) {
  std::size_t samples = 0;
  for (const auto& entry : fs::directory_iterator(kSamples)) {
    if (entry.path().extension() != ".rtf") continue;
    ++samples;
    SCOPED_TRACE(entry.path().filename().string());
    TempDir dir;
    const ImportResult result = ImportRtf(entry.path(), dir.path(), "sample.rtf");
    ASSERT_TRUE(result) << result.reason;
    const StagingBytes from_file{read_file(dir / kStagingDataFile), read_file(dir / kStagingSizesFile)};
    const StagingBytes from_memory = import_bytes(read_file(entry.path()), "sample.rtf", &stage_rtf);
    EXPECT_TRUE(BytesEqual(from_file.data, from_memory.data));
    EXPECT_TRUE(BytesEqual(from_file.sizes, from_memory.sizes));
    EXPECT_EQ(pack_problems(from_file), "");
    EXPECT_EQ(result.paragraphs, read_paragraphs(from_file).size());
    EXPECT_GT(result.paragraphs, 5u);
  }
  EXPECT_EQ(samples, 2u);
}

// A file is read a chunk at a time. Moving a stretch of RTF across the end
// of the first chunk puts each of its bytes there once: whatever is cut
// (text, a control word or its parameter, a hex escape, a binary run) must
// stage as it does from memory. A skipped group fills the chunk up to it.
TEST(RtfDocuments, WhatStraddlesAReadChunkStagesAsFromMemory) {
  expect_chunk_edges_stage_as_from_memory(
      "{\\rtf1 {\\*\\skipped ",
      "}{\\b bold} \\'e9 text\r\n{\\cf1 x}\\par\\li720 {\\*\\dest y}\\bin3 a{}z\\tab\\lquote w\\fs48 ", "}",
      kDefaultName, &ImportRtf, &stage_rtf);
}

TEST(RtfDocuments, ASampleReadsAsItsAuthorMeantIt) {
  const auto paragraphs = read_paragraphs(import_rtf(text_of(read_file(kSamples / "json-c-readme.rtf"))));
  std::vector<std::string> texts;
  for (const auto& p : paragraphs) texts.emplace_back(p.text.begin(), p.text.end());
  const auto find = [&](const std::string& text) {
    const auto at = std::find(texts.begin(), texts.end(), text);
    EXPECT_NE(at, texts.end()) << text;
    return at == texts.end() ? paragraphs.front() : paragraphs[static_cast<std::size_t>(at - texts.begin())];
  };
  // Headings are bold (18 points is still the standard size), body text
  // is not, links are navy and list items start with their bullet.
  EXPECT_EQ(find("JSON-C - A JSON implementation in C").cell_font(0), 1);
  EXPECT_EQ(find("Overview").cell_font(0), 1);
  EXPECT_EQ(find("git clone https://github.com/json-c/json-c.git").cell_font(0), 0);
  const StagedParagraph link = find("Doxygen generated documentation exists here.");
  EXPECT_EQ(decode_cell(link.cell(0)).colour, kBlackIndex);
  EXPECT_EQ(decode_cell(link.cell(39)).colour, nearest_colour(pack_colour(0, 0, 128)));
  EXPECT_EQ(find("  \x95        cd build ").alignment, kAlignLeft);
}

TEST(RtfDocuments, WordProcessorDocumentsReadAsTheReferenceReadsThem) {
  const auto unrtf = find_program("unrtf");
  const auto soffice = find_program("soffice");
  if (!unrtf || !soffice)
    GTEST_SKIP() << "needs unrtf (Debian package unrtf) and soffice (Debian package libreoffice-writer-nogui)";
  TempDir dir;
  std::string inputs;
  std::size_t expected = 0;
  for (const char* name : kLicences) {
    const fs::path licence = fs::path("/usr/share/common-licenses") / name;
    if (!fs::exists(licence)) continue;
    fs::copy_file(licence, dir / (std::string(name) + ".txt"));
    inputs += " " + quoted(dir / (std::string(name) + ".txt"));
    ++expected;
  }
  const std::string convert = quoted(*soffice) + " -env:UserInstallation=file://" + (dir / "profile").string() +
                              " --headless --convert-to rtf --outdir " + quoted(dir.path());
  ASSERT_TRUE(run_quietly(convert + inputs));
  ASSERT_TRUE(run_quietly(convert + " --infilter='HTML (StarWriter)' " + quoted(kHtmlSamples / "json-c-readme.html") +
                          " " + quoted(kHtmlSamples / "libffi-primitive-types.html")));
  expect_documents_read_as_reference(dir.path(), *unrtf, expected + 2);
}

TEST(RtfDocuments, PandocDocumentsReadAsTheReferenceReadsThem) {
  const auto unrtf = find_program("unrtf");
  const auto pandoc = find_program("pandoc");
  if (!unrtf || !pandoc) GTEST_SKIP() << "needs unrtf (Debian package unrtf) and pandoc (Debian package pandoc)";
  // Web pages are left out: for a link whose text is not its address the
  // reference prints the address instead of the text.
  TempDir dir;
  const fs::path sources = dir / "sources";
  fs::create_directory(sources);
  fs::create_directory(dir / "rtf");
  std::size_t expected = 0;
  for (const auto& markdown : licences_as_markdown(sources)) {
    ASSERT_TRUE(run_quietly(quoted(*pandoc) + " -s -f markdown -t rtf -o " +
                            quoted(dir / "rtf" / markdown.stem().concat(".rtf")) + " " + quoted(markdown)));
    ++expected;
  }
  expect_documents_read_as_reference(dir / "rtf", *unrtf, expected);
}

TEST(RtfDocuments, TheFileIsReadAsBytes) {
  TempDir dir;
  // A text-mode read would end at Ctrl-Z or turn CR LF into LF.
  write_file(dir / "doc.rtf", "{\\rtf1 a\x1A\r\nb\\bin2 \r\n}");
  ASSERT_TRUE(ImportRtf(dir / "doc.rtf", dir.path(), "doc.rtf"));
  const StagingBytes staged{read_file(dir / kStagingDataFile), read_file(dir / kStagingSizesFile)};
  const StagingBytes want = staging_of({para("a\x1A"
                                             "b"),
                                        empty_holding('a')});
  EXPECT_TRUE(BytesEqual(staged.data, want.data));
  EXPECT_TRUE(BytesEqual(staged.sizes, want.sizes));
}

// The offset of an error counts every byte the file reader took, across
// its buffers, and the text before the error is staged.
TEST(RtfDocuments, AnErrorFarIntoTheFileIsReportedAtItsOffset) {
  TempDir dir;
  const std::string before = "{\\rtf1 " + std::string(200000, 'a') + "}";
  write_file(dir / "doc.rtf", before + "}more\\par}");
  const ImportResult result = ImportRtf(dir / "doc.rtf", dir.path(), "doc.rtf");
  ASSERT_TRUE(result) << result.reason;
  EXPECT_EQ(result.conversion, ConversionStatus::stray_closing_brace);
  EXPECT_EQ(result.offset, before.size());
  EXPECT_NE(result.incomplete.find("at offset " + std::to_string(before.size()) + ";"), std::string::npos)
      << result.incomplete;
  EXPECT_EQ(result.paragraphs, (200000 + rtf_import::kParagraphCutChars - 1) / rtf_import::kParagraphCutChars);
}

TEST(RtfDocuments, StagingStopsAtTheParagraphLimit) {
  TempDir dir;
  write_file(dir / "doc.rtf", "{\\rtf1 a\\par b\\par\\par c\\par d}");
  EXPECT_EQ(ImportRtf(dir / "doc.rtf", dir.path(), "doc.rtf").paragraphs, 5u);
  for (const std::size_t limit : {0u, 1u, 3u, 4u}) {
    const ImportResult cut = ImportRtf(dir / "doc.rtf", dir.path(), "doc.rtf", ImportOptions{limit});
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut.paragraphs, limit);
    EXPECT_EQ(read_file(dir / kStagingSizesFile).size(), 2 * limit);
  }
}

TEST(RtfDocuments, TheDocumentIsNamedByTheNameGiven) {
  // The Word importer passes the .doc file's name for its temporary RTF.
  TempDir dir;
  write_file(dir / "$$!!doc_file_temp!!$$.tmp", "{\\rtf1 x}");
  ASSERT_TRUE(ImportRtf(dir / "$$!!doc_file_temp!!$$.tmp", dir.path(), "a very long report name of 40 chars.doc"));
  const auto data = read_file(dir / kStagingDataFile);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data())), "a very long report name of .doc");
}

}  // namespace
}  // namespace vellora
