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

#include "platform/posix/utf8_codec.h"

namespace {

using namespace vellora;

struct Transcoded {
  bool will_transcode = false;
  std::string bytes;
  std::size_t replaced = 0;
};

Transcoded transcode(const std::string& source, SourceKind kind, std::size_t piece) {
  const auto transcoder = posix::Utf8Codec().source_transcoder(kind);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(source.data());
  for (std::size_t at = 0; at < source.size(); at += piece)
    transcoder->examine({bytes + at, std::min(piece, source.size() - at)});
  Transcoded out;
  out.will_transcode = transcoder->will_transcode();
  if (!out.will_transcode) return out;
  std::string buffer;
  std::size_t at = 0;
  for (bool at_end = false; !at_end;) {
    const std::size_t take = std::min(piece, source.size() - at);
    buffer.append(source, at, take);
    at += take;
    at_end = at == source.size();
    std::size_t unfinished = 0;
    const std::size_t made =
        transcoder->transcode(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size(), at_end, unfinished);
    if (made + unfinished > buffer.size()) std::abort();
    if (at_end && unfinished != 0) std::abort();
    out.bytes.append(buffer, 0, made);
    buffer.erase(0, buffer.size() - unfinished);
  }
  out.replaced = transcoder->replaced();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const SourceKind kind = data[0] % 2 == 0 ? SourceKind::text : SourceKind::html;
  const std::size_t piece = 1 + data[1] % 32;
  const std::string source(reinterpret_cast<const char*>(data + 2), size - 2);

  const Transcoded whole = transcode(source, kind, source.size() + 1);
  const Transcoded pieces = transcode(source, kind, piece);
  if (whole.will_transcode != pieces.will_transcode || whole.bytes != pieces.bytes || whole.replaced != pieces.replaced)
    std::abort();
  if (whole.bytes.size() > source.size() || whole.replaced > source.size()) std::abort();

  const posix::Utf8Codec codec;
  std::string pc;
  codec.append_pc_text({data + 2, size - 2}, pc);
  const Transcoded back = transcode(pc, SourceKind::text, piece);
  if ((back.will_transcode ? back.bytes : pc) != source || back.replaced != 0) std::abort();

  if (codec.name_to_handheld(source).size() > source.size()) std::abort();
  if (const auto name = codec.name_to_pc(source); name && codec.name_to_handheld(*name) != source) std::abort();
  return 0;
}
