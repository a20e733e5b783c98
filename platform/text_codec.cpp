// The identity codec: PC text is already in the handheld's character set.
#include "platform/text_codec.h"

namespace vellora {

namespace {

class IdentityCodec final : public TextCodec {
 public:
  std::unique_ptr<SourceTranscoder> source_transcoder(SourceKind) const override { return nullptr; }
  std::string name_to_handheld(std::string_view pc_name) const override { return std::string(pc_name); }
  std::optional<std::string> name_to_pc(std::string_view handheld_name) const override {
    return std::string(handheld_name);
  }
  void append_pc_text(std::span<const std::uint8_t> text, std::string& out) const override {
    out.append(reinterpret_cast<const char*>(text.data()), text.size());
  }
  char32_t html_reference(std::uint8_t) const override { return 0; }
  bool is_identity() const override { return true; }
};

}  // namespace

const TextCodec& TextCodec::identity() {
  static const IdentityCodec codec;
  return codec;
}

}  // namespace vellora
