// Fuzzes the codec of a UTF-8 desktop in both directions. The first byte
// picks text or HTML, the second how many bytes each read hands over; the
// rest is the source. Read in pieces, a source must transcode exactly as in
// one piece and never grow. The same bytes, taken as handheld text and
// written as UTF-8, must come back unchanged and without a '?'; taken as a
// handheld name, likewise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hosts/linux/utf8_codec.h"
#include "tests/support/transcode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  using testing::transcode;
  using testing::Transcoded;
  if (size < 2) return 0;
  const SourceKind kind = data[0] % 2 == 0 ? SourceKind::text : SourceKind::html;
  const std::size_t piece = 1 + data[1] % 32;
  const std::string source(reinterpret_cast<const char*>(data + 2), size - 2);

  const Transcoded whole = transcode(source, kind, source.size() + 1);
  const Transcoded pieces = transcode(source, kind, piece);
  if (whole.will_transcode != pieces.will_transcode || whole.bytes != pieces.bytes || whole.replaced != pieces.replaced)
    std::abort();
  if (whole.bytes.size() > source.size() || whole.replaced > source.size()) std::abort();

  const linux_host::Utf8Codec codec;
  std::string pc;
  codec.append_pc_text({data + 2, size - 2}, pc);
  const Transcoded back = transcode(pc, SourceKind::text, piece);
  if ((back.will_transcode ? back.bytes : pc) != source || back.replaced != 0) std::abort();

  if (codec.name_to_handheld(source).size() > source.size()) std::abort();
  if (const auto name = codec.name_to_pc(source); name && codec.name_to_handheld(*name) != source) std::abort();
  return 0;
}
