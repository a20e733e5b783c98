// How text crosses between the PC and the handheld, which keeps one byte
// per character in its own character set. The core asks the codec at four
// places: a source file's bytes before an importer reads them, a PC file
// name becoming a handheld name, a handheld name becoming a PC file name,
// and the text an exporter writes. The identity codec passes every byte
// unchanged: PC text is then already in the handheld's set, as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vellora {

// What a source file is, for the codec to know what in it is text.
enum class SourceKind { text, html, rtf };

// A source file's bytes on their way to an importer. The whole file is
// examined first, so that a file is either transcoded throughout or not at
// all; then it is transcoded a buffer at a time.
class SourceTranscoder {
 public:
  virtual ~SourceTranscoder() = default;

  // Sees the source's next bytes; every byte once, in order.
  virtual void examine(std::span<const std::uint8_t> bytes) = 0;
  // After the last examine(): whether transcoding changes the bytes.
  virtual bool will_transcode() = 0;
  // Transcodes the next `size` bytes of the source in place and returns
  // how many bytes of the result now start at `bytes`. A character cut off
  // by the end of the buffer is not transcoded: its `unfinished` bytes, the
  // last of the input, must come first in the next call. With `at_end`
  // nothing is left unfinished.
  virtual std::size_t transcode(std::uint8_t* bytes, std::size_t size, bool at_end, std::size_t& unfinished) = 0;
  // Characters the handheld's set lacks, replaced by '?' so far.
  virtual std::size_t replaced() const = 0;
};

class TextCodec {
 public:
  virtual ~TextCodec() = default;

  // A transcoder for one source file of this kind, or null when sources of
  // this kind pass unchanged.
  virtual std::unique_ptr<SourceTranscoder> source_transcoder(SourceKind kind) const = 0;
  // A PC file name in the handheld's characters, before the name rule cuts
  // it to length: a cut then never splits a character.
  virtual std::string name_to_handheld(std::string_view pc_name) const = 0;
  // A handheld name as a PC file name; none when it holds a character that
  // no file name should.
  virtual std::optional<std::string> name_to_pc(std::string_view handheld_name) const = 0;
  // Appends handheld text as the PC writes it in a text file.
  virtual void append_pc_text(std::span<const std::uint8_t> text, std::string& out) const = 0;
  // The code point an HTML page writes as a numeric character reference
  // for `byte`, or 0 when the page holds the byte itself.
  virtual char32_t html_reference(std::uint8_t byte) const = 0;
  // Whether this codec changes anything, for messages.
  virtual bool is_identity() const = 0;

  // Every byte unchanged, both ways.
  static const TextCodec& identity();
};

}  // namespace vellora
