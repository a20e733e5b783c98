// The preview of a sent database: the first three screens of a document
// with as many paragraphs as a database holds, as convert --preview draws
// them; and every screen of the generated 10 MB text document, whose peak
// memory is held to the bound of the other commands.
#include <cstdio>
#include <random>
#include <string>

#include "bench/generated_text.h"
#include "bench/send_bench.h"
#include "importers/text/text_importer.h"
#include "tools/preview_image.h"

namespace {

namespace fs = std::filesystem;
using vellora::bench::SendWorkspace;

// A workspace whose document has been sent once; `database` is its file in
// the handheld folder, empty if the send failed.
struct SentDocument {
  SentDocument(const std::string& name, const std::string& text, std::size_t paragraphs)
      : workspace(name, text, paragraphs) {
    const vellora::BuildResult built = vellora::bench::send_once(workspace, &vellora::ImportText);
    if (!built) return;
    vellora::linux_host::PdbFolderHandheld handheld(workspace.handheld);
    database = handheld.database_path(built.database_name).value_or(fs::path());
  }

  SendWorkspace workspace;
  fs::path database;
  fs::path picture = workspace.root / "preview.png";
};

// Names unlike the send benchmarks' own, whose workspaces are removed at exit.
const SentDocument& most_paragraphs() {
  static const SentDocument sent("preview-paragraphs.txt", vellora::bench::most_paragraphs_text(),
                                 vellora::kMaxParagraphs);
  return sent;
}

const SentDocument& book() {
  static const SentDocument sent("preview-book.txt", vellora::bench::generate_text(vellora::bench::kGeneratedBytes), 0);
  return sent;
}

void BM_PreviewMostParagraphs(benchmark::State& state) {
  const SentDocument& sent = most_paragraphs();
  if (sent.database.empty()) {
    state.SkipWithError("the document could not be sent");
    return;
  }
  long screens = 0;
  std::string why_not;
  for (auto _ : state) {
    screens = vellora::cli::write_preview(sent.database, sent.picture, 3, 2, why_not);
    if (screens < 0) {
      state.SkipWithError(why_not.c_str());
      break;
    }
  }
  if (screens >= 0 && screens != 3) state.SkipWithError("not 3 screens drawn");
  state.counters["screens"] = static_cast<double>(screens);
}
BENCHMARK(BM_PreviewMostParagraphs)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every screen at scale 1, in a forked child as the send peaks are measured.
void BM_PreviewAllScreensPeakMemory(benchmark::State& state) {
  const SentDocument& sent = book();
  if (sent.database.empty()) {
    state.SkipWithError("the document could not be sent");
    return;
  }
  vellora::bench::ChildRun run;
  for (auto _ : state) {
    run = vellora::bench::run_in_child([&]() -> long {
      std::string why_not;
      const long screens = vellora::cli::write_preview(sent.database, sent.picture, -1, 1, why_not);
      if (screens < 0) std::fprintf(stderr, "%s\n", why_not.c_str());
      return screens;
    });
    if (run.peak_kb <= 0) {
      state.SkipWithError("the preview failed");
      break;
    }
  }
  state.counters["peak_MB"] = static_cast<double>(run.peak_kb) / 1024.0;
  state.counters["limit_MB"] = vellora::bench::peak_limit_mb(sent.workspace.input_bytes);
  state.counters["screens"] = static_cast<double>(run.result);
  state.counters["wall_ms"] = run.wall_ms;
}
BENCHMARK(BM_PreviewAllScreensPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
