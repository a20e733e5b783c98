// Send-side throughput: a generated 10 MB text file through the text
// importer, the builder and the PDB-folder handheld, as one sync sends it,
// the peak memory of one send and txt2pdbdoc on the same file; the same
// file read by the UTF-8 codec, and a UTF-8 file of the same shape that it
// transcodes; and the send of a document with as many paragraphs as a
// database holds.
#include <algorithm>
#include <random>
#include <string>
#include <string_view>

#include "bench/generated_text.h"
#include "bench/peer_tool.h"
#include "bench/send_bench.h"
#include "hosts/linux/utf8_codec.h"
#include "importers/text/text_importer.h"

namespace {

using vellora::bench::generate_text;
using vellora::bench::Utf8Decoration;

const vellora::linux_host::Utf8Codec kUtf8Codec;

std::string generated_book() { return generate_text(vellora::bench::kGeneratedBytes); }
[[maybe_unused]] const bool kInputAdded = vellora::bench::add_generated_input("book.txt", generated_book);

vellora::bench::SendWorkspace& workspace() {
  static vellora::bench::SendWorkspace w = [] {
    const std::string text = generated_book();
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    return vellora::bench::SendWorkspace("book.txt", text, lines + 1);
  }();
  return w;
}

void BM_SendTextFile(benchmark::State& state) {
  vellora::bench::measure_send(state, workspace(), &vellora::ImportText);
}
BENCHMARK(BM_SendTextFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_SendTextFilePeakMemory(benchmark::State& state) {
  vellora::bench::measure_send_peak(state, workspace(), &vellora::ImportText);
}
BENCHMARK(BM_SendTextFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// A user whose desktop is UTF-8 sending the same ASCII file: the codec
// reads it whole once to find nothing to transcode.
void BM_SendTextFileUtf8Setting(benchmark::State& state) {
  vellora::bench::measure_send(state, workspace(), &vellora::ImportText, &kUtf8Codec);
  if (!state.error_occurred() && state.counters["transcoded"] != 0) state.SkipWithError("an ASCII file was transcoded");
}
BENCHMARK(BM_SendTextFileUtf8Setting)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

vellora::bench::SendWorkspace& utf8_workspace() {
  static vellora::bench::SendWorkspace w = [] {
    Utf8Decoration decoration;
    const std::string text = generate_text(vellora::bench::kGeneratedBytes, &decoration);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    return vellora::bench::SendWorkspace("book-utf8.txt", text, lines + 1);
  }();
  return w;
}

void BM_SendUtf8TextFile(benchmark::State& state) {
  vellora::bench::measure_send(state, utf8_workspace(), &vellora::ImportText, &kUtf8Codec);
  if (!state.error_occurred() && (state.counters["transcoded"] != 1 || state.counters["replaced"] == 0))
    state.SkipWithError("the file was not transcoded, or nothing in it replaced");
}
BENCHMARK(BM_SendUtf8TextFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_SendUtf8TextFilePeakMemory(benchmark::State& state) {
  vellora::bench::measure_send_peak(state, utf8_workspace(), &vellora::ImportText, &kUtf8Codec);
}
BENCHMARK(BM_SendUtf8TextFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PeerTxt2pdbdoc(benchmark::State& state) {
  const vellora::bench::SendWorkspace& w = workspace();
  vellora::bench::measure_peer(state, w, "txt2pdbdoc", {"A generated book", w.source, w.root / "peer.pdb"});
}
[[maybe_unused]] const bool kPeerAdded = vellora::bench::add_peer_benchmark("BM_PeerTxt2pdbdoc", BM_PeerTxt2pdbdoc);

// Short lines of a few words, one paragraph each, exactly as many as a
// database holds: the cost per paragraph rather than per byte.
vellora::bench::SendWorkspace& most_paragraphs_workspace() {
  static vellora::bench::SendWorkspace w("paragraphs.txt", vellora::bench::most_paragraphs_text(),
                                         vellora::kMaxParagraphs);
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
