// One .doc import through the bundled office converter, as the Word
// importer drives it: IsFormatCorrect32 and ForeignToRtf32 of a generated
// book of about 100 pages (250 KB of prose), loaded with dlopen and fed
// through the shared buffer. LibreOffice's start-up dominates.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "hosts/linux/dl_text_converters.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kProseBytes = 250 * 1000;

// Paragraphs of 60 to 160 made-up words, a chapter heading every 30.
std::string generated_book(std::size_t bytes) {
  std::mt19937 random(20240601);
  std::string text;
  text.reserve(bytes + 1024);
  for (int paragraph = 0; text.size() < bytes; ++paragraph) {
    if (paragraph % 30 == 0) text += "Chapter " + std::to_string(paragraph / 30 + 1) + "\n\n";
    for (std::size_t words = 60 + random() % 100; words > 0; --words) {
      for (std::size_t letters = 1 + random() % 9; letters > 0; --letters)
        text += static_cast<char>('a' + random() % 26);
      text += words == 1 ? ".\n\n" : " ";
    }
  }
  return text;
}

struct BookWorkspace {
  fs::path root = fs::temp_directory_path() / ("vellora-office-bench-" + std::to_string(::getpid()));
  fs::path doc = root / "book.doc";
  BookWorkspace() {
    fs::create_directories(root);
    std::ofstream(root / "book.txt", std::ios::binary) << generated_book(kProseBytes);
    const std::string command = "soffice -env:UserInstallation=file://" + root.string() +
                                "/profile --headless --convert-to 'doc:MS Word 97' --outdir '" + root.string() + "' '" +
                                (root / "book.txt").string() + "' >/dev/null 2>&1 </dev/null";
    if (std::system(command.c_str()) != 0) fs::remove(doc);
  }
  ~BookWorkspace() { fs::remove_all(root); }
  BookWorkspace(const BookWorkspace&) = delete;
  BookWorkspace& operator=(const BookWorkspace&) = delete;
};

std::size_t rtf_bytes = 0;

std::int32_t count_rtf(std::int32_t byte_count, std::int32_t) {
  rtf_bytes += static_cast<std::size_t>(byte_count);
  return 0;
}

vellora::GlobalHandle string_block(vellora::TextConverterLibrary& library, const std::string& text) {
  const vellora::GlobalHandle block = library.allocate(text.size() + 1);
  std::memcpy(library.lock(block), text.c_str(), text.size() + 1);
  library.unlock(block);
  return block;
}

void BM_OfficeConverterHundredPages(benchmark::State& state) {
  if (std::system("command -v soffice >/dev/null 2>&1") != 0) {
    state.SkipWithError("LibreOffice (soffice) is not installed");
    return;
  }
  const BookWorkspace book;
  if (!fs::is_regular_file(book.doc)) {
    state.SkipWithError("LibreOffice could not make the .doc to convert");
    return;
  }
  vellora::linux_host::DlTextConverterLibrary library;
  const vellora::ModuleHandle office = library.load(VELLORA_OFFICE_CONVERTER);
  if (office == 0) {
    state.SkipWithError("the office converter cannot be loaded");
    return;
  }
  auto* check = reinterpret_cast<vellora::IsFormatCorrectEntry>(library.resolve(office, vellora::kIsFormatCorrectName));
  auto* convert = reinterpret_cast<vellora::ForeignToRtfEntry>(library.resolve(office, vellora::kForeignToRtfName));
  const vellora::GlobalHandle name = string_block(library, book.doc.string());
  const vellora::GlobalHandle class_name = string_block(library, "");
  const vellora::GlobalHandle buffer = library.allocate(8192);
  for (auto _ : state) {
    rtf_bytes = 0;
    if (check(name, class_name) != 1 || convert(name, nullptr, buffer, class_name, nullptr, count_rtf) != 0) {
      state.SkipWithError("the conversion failed");
      break;
    }
  }
  state.counters["doc_bytes"] = static_cast<double>(fs::file_size(book.doc));
  state.counters["rtf_bytes"] = static_cast<double>(rtf_bytes);
  library.release(buffer);
  library.release(class_name);
  library.release(name);
  library.free(office);
}
BENCHMARK(BM_OfficeConverterHundredPages)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
