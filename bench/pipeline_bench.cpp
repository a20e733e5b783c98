// Send-side throughput: a generated 10 MB text file through the text
// importer, the builder and the PDB-folder handheld, as one sync sends it.
// Peak memory is measured in a child process that runs the pipeline once.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "docmodel/builder.h"
#include "importers/text/text_importer.h"
#include "platform/posix/pdb_folder_handheld.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kInputBytes = 10 * 1000 * 1000;

// Prose-like text as editors save it: one line per paragraph, 300 to 1,100
// characters of words from 1 to 12 letters, a blank line between
// paragraphs, now and then a tab. The document stays under the database's
// 32,765-paragraph limit, so every byte reaches the handheld.
std::string generate_text(std::size_t bytes) {
  std::mt19937 random(42);
  std::string text;
  text.reserve(bytes + 2048);
  while (text.size() < bytes) {
    if (random() % 7 == 0) text += '\t';
    const std::size_t length = 300 + random() % 800;
    for (std::size_t line = 0; line < length;) {
      const int letters = 1 + static_cast<int>(random() % 12);
      for (int i = 0; i < letters; ++i) text += static_cast<char>('a' + random() % 26);
      text += random() % 15 == 0 ? ", " : " ";
      line += static_cast<std::size_t>(letters) + 1;
    }
    text += "\n\n";
  }
  text.resize(bytes);
  return text;
}

struct Workspace {
  fs::path root;
  fs::path source = root / "book.txt";
  fs::path send = root / "send";
  fs::path handheld = root / "handheld";
  bool owned = false;

  explicit Workspace(fs::path at) : root(std::move(at)) {}
  static Workspace create() {
    Workspace w(fs::temp_directory_path() / ("vellora-bench-" + std::to_string(::getpid())));
    w.owned = true;
    fs::create_directories(w.send);
    std::ofstream(w.source, std::ios::binary) << generate_text(kInputBytes);
    return w;
  }
  ~Workspace() {
    if (owned) fs::remove_all(root);
  }
  Workspace(Workspace&& other) noexcept
      : root(other.root), source(other.source), send(other.send), handheld(other.handheld), owned(other.owned) {
    other.owned = false;
  }
};

const std::string& self_path() {
  static const std::string path = fs::read_symlink("/proc/self/exe").string();
  return path;
}

Workspace& workspace() {
  static Workspace w = Workspace::create();
  return w;
}

bool send_once(const Workspace& w, bool* was_cut = nullptr) {
  fs::remove_all(w.handheld);
  fs::create_directories(w.handheld);
  if (!vellora::ImportText(w.source, w.send, "book.txt")) return false;
  vellora::posix::PdbFolderHandheld handheld(w.handheld);
  const auto built = vellora::build_document(w.send, handheld);
  if (was_cut != nullptr) *was_cut = built.was_cut;
  return static_cast<bool>(built);
}

// Peak memory of one send in a fresh process (this program run with
// --send-once), so nothing the benchmark itself allocated is counted.
void BM_SendTextFilePeakMemory(benchmark::State& state) {
  auto& w = workspace();
  long peak_kb = 0;
  for (auto _ : state) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::execl(self_path().c_str(), self_path().c_str(), "--send-once", w.root.c_str(), nullptr);
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("send failed");
    peak_kb = usage.ru_maxrss;
  }
  state.counters["peak_MB"] = static_cast<double>(peak_kb) / 1024.0;
  state.counters["limit_MB"] = 3.0 * kInputBytes / (1024.0 * 1024.0) + 16.0;
}
BENCHMARK(BM_SendTextFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SendTextFile(benchmark::State& state) {
  auto& w = workspace();
  bool was_cut = false;
  for (auto _ : state)
    if (!send_once(w, &was_cut)) state.SkipWithError("send failed");
  if (was_cut) state.SkipWithError("the document was cut; the input is not what it claims");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kInputBytes));
}
BENCHMARK(BM_SendTextFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

// Defined here rather than by the benchmark library: the peak-memory
// benchmark runs this program again as a single send.
int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--send-once") return send_once(Workspace(argv[2])) ? 0 : 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
