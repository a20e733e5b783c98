// One whole sync session against the PDB-folder handheld: 1,000 small text
// files go to the handheld and 100 marked documents come back.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "conduit/catalog.h"
#include "conduit/entry_points.h"
#include "conduit/write_document.h"
#include "hosts/linux/dl_text_converters.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "importers/text/text_importer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFilesToSend = 1000;
constexpr int kDocumentsToReceive = 100;

class BenchRegistry : public vellora::Registry {
 public:
  std::string send, receive;
  std::optional<std::string> read_string(vellora::RegistryHive, std::string_view,
                                         std::string_view value) const override {
    if (value == "FolderForSFiles") return send;
    if (value == "FolderForRFiles") return receive;
    return std::nullopt;
  }
  std::optional<std::uint32_t> read_dword(vellora::RegistryHive, std::string_view, std::string_view) const override {
    return 0;  // overwrite without asking
  }
};

class Quiet : public vellora::MessageBoxes, public vellora::HotSyncLog, public vellora::LanguageLibrary {
 public:
  int show(std::string_view, std::string_view, std::uint32_t) override { return vellora::kAnswerOk; }
  void add_entry(std::string_view, std::int32_t) override {}
  vellora::ModuleHandle load(std::string_view, vellora::ModuleHandle, int*) override { return 1; }
  void release(vellora::ModuleHandle, vellora::ModuleHandle) override {}
};

std::string small_text(int n) {
  std::string text;
  for (int line = 0; line < 12; ++line)
    text += "Note " + std::to_string(n) + ", line " + std::to_string(line) +
            ": a few words of ordinary text to lay out on the handheld.\n";
  return text;
}

// Fresh folders: files to send, and a handheld holding the documents to
// receive with a catalog that marks them.
void prepare(const fs::path& root) {
  fs::remove_all(root);
  for (const char* folder : {"send", "receive", "handheld", "stage"}) fs::create_directories(root / folder);
  for (int i = 0; i < kFilesToSend; ++i)
    std::ofstream(root / "send" / ("note-" + std::to_string(i) + ".txt")) << small_text(i);
  vellora::linux_host::PdbFolderHandheld handheld(root / "handheld");
  std::vector<vellora::CatalogEntry> entries;
  for (int i = 0; i < kDocumentsToReceive; ++i) {
    const std::string name = "doc-" + std::to_string(i) + ".txt";
    std::ofstream(root / "stage" / "source") << small_text(i);
    vellora::PackedDocument document;
    vellora::DocumentPacker packer(document);
    vellora::ImportOptions options;
    options.sink = &packer;
    vellora::ImportText(root / "stage" / "source", root / "stage", name, options);
    vellora::write_document(document, handheld);
    vellora::CatalogEntry& entry = entries.emplace_back();
    std::copy(name.begin(), name.end(), entry.bytes.begin());
    entry.category = 1;
    entry.set_mark(1);
  }
  vellora::rebuild_catalog(handheld, entries);
}

void BM_SyncSession(benchmark::State& state) {
  const fs::path root = fs::temp_directory_path() / ("vellora-session-" + std::to_string(::getpid()));
  BenchRegistry registry;
  registry.send = (root / "send").string();
  registry.receive = (root / "receive").string();
  Quiet quiet;
  for (auto _ : state) {
    state.PauseTiming();
    prepare(root);
    vellora::linux_host::PdbFolderHandheld handheld(root / "handheld");
    vellora::linux_host::DlTextConverterLibrary converters;
    vellora::Conduit conduit(vellora::Platform{handheld, registry, quiet, quiet, quiet, converters});
    state.ResumeTiming();
    const int manager = 0;
    vellora::OpenConduit(&manager, conduit);
    state.PauseTiming();
    if (!fs::is_empty(root / "send")) state.SkipWithError("not every file was sent");
    state.ResumeTiming();
  }
  fs::remove_all(root);
}
BENCHMARK(BM_SyncSession)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
