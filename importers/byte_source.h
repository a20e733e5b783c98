// The input every importer reads: a buffered byte source over an open file
// or over bytes already in memory. Importers see only bytes, so the same
// conversion runs on a send-folder file, on a test's string and on a fuzz
// input without touching the disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "platform/text_codec.h"

namespace vellora {

class ByteSource {
 public:
  // Reads the bytes in `bytes`, which must outlive the source.
  explicit ByteSource(std::span<const std::uint8_t> bytes);
  // Reads `file` from its current position; the caller keeps it open and
  // closes it.
  explicit ByteSource(std::FILE* file);
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  static constexpr int kEnd = -1;

  // The next byte, or kEnd at the end of the input or after a read error.
  int get() { return pos_ != end_ ? *pos_++ : refill_and_get(); }
  // The next byte without taking it, or kEnd.
  int peek() { return pos_ != end_ || refill() ? *pos_ : kEnd; }
  // The bytes buffered from the current position on (refilled when none
  // are left), all taken at once; empty at the end. Lets a conversion walk
  // a whole buffer in a tight loop.
  std::span<const std::uint8_t> take_buffered();
  // The bytes buffered from the current position on (refilled when none
  // are left), without taking them: a reader scans a run of text in place
  // and then takes what it used with skip(). Empty at the end.
  std::span<const std::uint8_t> buffered() {
    if (pos_ == end_) refill();
    return {pos_, end_};
  }
  // Takes `count` bytes of what buffered() returned.
  void skip(std::size_t count) { pos_ += count; }
  // How many bytes have been taken: the offset of the next one in the
  // source, or in its transcoded text while transcoding.
  std::uint64_t offset() const { return taken_before_ + static_cast<std::uint64_t>(pos_ - start_); }

  // Before the first read of a file: lets `transcoder` examine the whole
  // file, then reads it again from its start through the transcoder, if
  // that changes anything. The transcoder must outlive the source. False
  // after a read error.
  bool transcode_with(SourceTranscoder& transcoder);
  bool is_transcoding() const { return transcoder_ != nullptr; }

  // A read error ended the input early; `read_error()` is its errno.
  bool failed() const { return read_error_ != 0; }
  int read_error() const { return read_error_; }

 private:
  bool refill();
  bool refill_transcoded();
  int refill_and_get() { return refill() ? *pos_++ : kEnd; }

  // Moves to a refilled buffer of `size` bytes.
  void start_buffer(std::size_t size) {
    taken_before_ += static_cast<std::uint64_t>(end_ - start_);
    start_ = pos_ = buffer_.data();
    end_ = pos_ + size;
  }

  const std::uint8_t* start_ = nullptr;  // where the current buffer begins
  const std::uint8_t* pos_ = nullptr;
  const std::uint8_t* end_ = nullptr;
  std::uint64_t taken_before_ = 0;  // bytes in the buffers before it
  std::FILE* file_ = nullptr;       // null for memory
  std::vector<std::uint8_t> buffer_;
  int read_error_ = 0;
  SourceTranscoder* transcoder_ = nullptr;
  // The bytes of a character cut by the end of a read, which the next read
  // puts first.
  std::size_t carry_from_ = 0;
  std::size_t carry_size_ = 0;
};

}  // namespace vellora
