// A source through a transcoder of the UTF-8 codec, fed in pieces as the
// byte source feeds it: what a piece leaves unfinished comes first in the
// next. Shared by the codec's tests and its fuzz target.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>

#include "hosts/linux/utf8_codec.h"

namespace vellora::testing {

struct Transcoded {
  bool will_transcode = false;
  std::string bytes;
  std::size_t replaced = 0;
};

// Aborts if the transcoder breaks its own contract: more bytes made and
// left unfinished than it was given, or bytes left over at the end.
inline Transcoded transcode(const std::string& source, SourceKind kind = SourceKind::text,
                            std::size_t piece = 1 << 16) {
  const auto transcoder = linux_host::Utf8Codec().source_transcoder(kind);
  if (!transcoder) return {};
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
    if (made + unfinished > buffer.size() || (at_end && unfinished != 0)) std::abort();
    out.bytes.append(buffer, 0, made);
    buffer.erase(0, buffer.size() - unfinished);
  }
  out.replaced = transcoder->replaced();
  return out;
}

}  // namespace vellora::testing
