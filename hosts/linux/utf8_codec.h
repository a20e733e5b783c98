// The codec of a UTF-8 desktop. The handheld's character set is
// Windows-1252 (the euro sign at 0x80) with the four card suits at 0x8D to
// 0x90; every byte stands for one Unicode character, and the two bytes
// Windows-1252 leaves undefined (0x81, 0x9D) stand for the C1 controls of
// the same number, so that every handheld byte survives a round trip.
//
// Sources: a text or HTML file that is valid UTF-8 is transcoded, its
// byte-order mark dropped and each character outside the set replaced by
// '?'. A file that is not valid UTF-8 is taken to be in the handheld's set
// already and passes unchanged, as does an HTML page whose own <meta>
// names ISO-8859-1 or Windows-1252. In a transcoded HTML page a numeric
// character reference above 255 becomes its character as well, because the
// HTML reader takes reference numbers modulo 256. RTF passes unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text_codec.h"

namespace vellora::linux_host {

// The Unicode character a handheld byte stands for.
char32_t handheld_to_unicode(std::uint8_t byte);
// The handheld byte of a Unicode character, or none outside the set.
std::optional<std::uint8_t> unicode_to_handheld(char32_t c);
void append_utf8(char32_t c, std::string& out);

class Utf8Codec final : public TextCodec {
 public:
  std::unique_ptr<SourceTranscoder> source_transcoder(SourceKind kind) const override;
  std::string name_to_handheld(std::string_view pc_name) const override;
  std::optional<std::string> name_to_pc(std::string_view handheld_name) const override;
  void append_pc_text(std::span<const std::uint8_t> text, std::string& out) const override;
  char32_t html_reference(std::uint8_t byte) const override;
  bool is_identity() const override { return false; }
};

}  // namespace vellora::linux_host
