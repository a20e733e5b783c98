// The handover between a text converter's thread and the reading side:
// 10 MB of RTF in 8192-byte pieces through the shared buffer, read in
// pieces of 4096 bytes as the Word importer reads it.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "importers/word/converter_stream.h"
#include "tests/support/fake_converters.h"

namespace {

void BM_ConverterStreamHandover(benchmark::State& state) {
  vellora::testing::FakeConverters converters;
  vellora::testing::ConverterScript script;
  script.rtf.assign(10 * 1000 * 1000, 'x');
  script.pieces = {static_cast<std::int32_t>(vellora::kSharedBufferBytes)};
  converters.install("bench.so", script);
  std::vector<std::uint8_t> piece(4096);
  for (auto _ : state) {
    vellora::ConverterStream stream(converters, "bench.so");
    if (!stream.open("input.doc")) {
      state.SkipWithError("the converter was not started");
      break;
    }
    std::size_t total = 0;
    for (std::size_t got; (got = stream.read(piece.data(), piece.size())) != 0;) total += got;
    if (total != script.rtf.size() || stream.failed()) state.SkipWithError("the RTF did not arrive whole");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * script.rtf.size()));
}
BENCHMARK(BM_ConverterStreamHandover)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
