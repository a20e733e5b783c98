// Send-side throughput: a generated 10 MB text file through the text
// importer, the builder and the PDB-folder handheld, as one sync sends it,
// the peak memory of one send and txt2pdbdoc on the same file; and the
// send of a document with as many paragraphs as a database holds.
#include <algorithm>
#include <random>
#include <string>

#include "bench/peer_tool.h"
#include "bench/send_bench.h"
#include "importers/text/text_importer.h"

namespace {

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

vellora::bench::SendWorkspace& workspace() {
  static vellora::bench::SendWorkspace w = [] {
    const std::string text = generate_text(vellora::bench::kGeneratedBytes);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    return vellora::bench::SendWorkspace("book.txt", text, lines + 1);
  }();
  return w;
}

void BM_SendTextFile(benchmark::State& state) { vellora::bench::measure_send(state, workspace(), &vellora::ImportText); }
BENCHMARK(BM_SendTextFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_SendTextFilePeakMemory(benchmark::State& state) {
  vellora::bench::measure_send_peak(state, workspace(), &vellora::ImportText);
}
BENCHMARK(BM_SendTextFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PeerTxt2pdbdoc(benchmark::State& state) {
  const vellora::bench::SendWorkspace& w = workspace();
  vellora::bench::measure_peer(state, w, "txt2pdbdoc", {"A generated book", w.source, w.root / "peer.pdb"});
}
[[maybe_unused]] const bool kPeerAdded = vellora::bench::add_peer_benchmark("BM_PeerTxt2pdbdoc", BM_PeerTxt2pdbdoc);

// Short lines of a few words, one paragraph each, exactly as many as a
// database holds: the cost per paragraph rather than per byte.
vellora::bench::SendWorkspace& most_paragraphs_workspace() {
  static vellora::bench::SendWorkspace w = [] {
    std::mt19937 random(7);
    std::string text;
    for (std::size_t line = 0; line < vellora::kMaxParagraphs; ++line) {
      for (int words = 2 + static_cast<int>(random() % 5); words > 0; --words) {
        for (int letters = 1 + static_cast<int>(random() % 8); letters > 0; --letters)
          text += static_cast<char>('a' + random() % 26);
        text += words == 1 ? '\n' : ' ';
      }
    }
    return vellora::bench::SendWorkspace("paragraphs.txt", text, vellora::kMaxParagraphs);
  }();
  return w;
}

void BM_SendMostParagraphs(benchmark::State& state) {
  const vellora::bench::SendWorkspace& w = most_paragraphs_workspace();
  vellora::bench::measure_send(state, w, &vellora::ImportText);
  if (!state.error_occurred() && state.counters["paragraphs"] != static_cast<double>(w.paragraphs))
    state.SkipWithError("the database does not hold every generated paragraph");
}
BENCHMARK(BM_SendMostParagraphs)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
