// A converter that emits arbitrary bytes in arbitrary pieces -> the
// converter stream, read in arbitrary sizes. The input's first bytes are
// the piece sizes the converter reports (zero, negative and larger than the
// shared buffer included), whether and when it fails, and the read sizes;
// the rest is the RTF it emits. Besides the sanitizers, each run checks
// that the reading side gets exactly the emitted bytes in order, or learns
// that the conversion failed, and that both threads end.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "importers/word/converter_stream.h"
#include "tests/support/fake_converters.h"

namespace {

using namespace vellora;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "converter stream: %s\n", what);
  std::abort();
}

struct Reader {
  const std::uint8_t* at;
  const std::uint8_t* end;
  std::uint8_t byte() { return at != end ? *at++ : 0; }
  std::int16_t number() { return static_cast<std::int16_t>(byte() | byte() << 8); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader input{data, data + size};
  testing::ConverterScript script;
  script.pieces.clear();
  for (int count = input.byte() % 8 + 1; count > 0; --count) script.pieces.push_back(input.number());
  // At least one piece must carry bytes, or the converter would never end.
  if (std::none_of(script.pieces.begin(), script.pieces.end(), [](std::int32_t n) { return n > 0; }))
    script.pieces.push_back(8192);
  const std::uint8_t failure = input.byte();
  script.fail_after_pieces = failure < 16 ? failure : -1;
  std::vector<std::size_t> read_sizes;
  for (int count = input.byte() % 4 + 1; count > 0; --count)
    read_sizes.push_back(static_cast<std::uint16_t>(input.number()) % 9000 + 1);
  script.rtf.assign(input.at, input.end);

  testing::FakeConverters converters;
  converters.install("fuzz.so", script);
  std::string read;
  bool failed = false;
  {
    ConverterStream stream(converters, "fuzz.so");
    if (!stream.is_format_correct("input.doc") || !stream.open("input.doc")) fail("the converter was not started");
    std::vector<std::uint8_t> buffer(9000);
    for (std::size_t i = 0;; ++i) {
      const std::size_t wanted = read_sizes[i % read_sizes.size()];
      const std::size_t got = stream.read(buffer.data(), wanted);
      if (got > wanted) fail("a read returned more than asked");
      if (got == 0) break;
      read.append(reinterpret_cast<const char*>(buffer.data()), got);
    }
    failed = stream.failed();
  }
  if (converters.libraries_loaded() != 0) fail("the library was not released");
  if (failed && script.fail_after_pieces < 0) fail("a conversion that did not fail was reported failed");
  if (!failed && read != script.rtf) fail("the bytes read differ from the bytes emitted");
  if (failed && script.rtf.compare(0, read.size(), read) != 0) fail("a failed conversion delivered other bytes");
  return 0;
}
