// Buffered reading for the importers' byte source.
#include "importers/byte_source.h"

#include <cerrno>
#include <cstring>

namespace vellora {

namespace {

constexpr std::size_t kReadChunkBytes = 1 << 16;

}  // namespace

ByteSource::ByteSource(std::span<const std::uint8_t> bytes)
    : start_(bytes.data()), pos_(bytes.data()), end_(bytes.data() + bytes.size()) {}

ByteSource::ByteSource(std::FILE* file) : file_(file), buffer_(kReadChunkBytes) {}

bool ByteSource::refill() {
  if (file_ == nullptr || read_error_ != 0) return false;
  if (transcoder_ != nullptr) return refill_transcoded();
  const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  if (got == 0) {
    if (std::ferror(file_)) read_error_ = errno != 0 ? errno : EIO;
    file_ = nullptr;  // the end stays the end
    return false;
  }
  start_buffer(got);
  return true;
}

bool ByteSource::refill_transcoded() {
  for (;;) {
    const std::size_t carried = carry_size_;
    if (carried > 0) std::memmove(buffer_.data(), buffer_.data() + carry_from_, carried);
    const std::size_t got = std::fread(buffer_.data() + carried, 1, buffer_.size() - carried, file_);
    const bool at_end = got < buffer_.size() - carried;
    if (at_end && std::ferror(file_)) {
      read_error_ = errno != 0 ? errno : EIO;
      file_ = nullptr;
      return false;
    }
    std::size_t unfinished = 0;
    const std::size_t size = carried + got;
    const std::size_t made = transcoder_->transcode(buffer_.data(), size, at_end, unfinished);
    carry_from_ = size - unfinished;
    carry_size_ = unfinished;
    if (at_end) file_ = nullptr;  // the end stays the end
    if (made > 0) {
      start_buffer(made);
      return true;
    }
    if (at_end) return false;
  }
}

bool ByteSource::transcode_with(SourceTranscoder& transcoder) {
  if (file_ == nullptr) return true;
  std::size_t got = 0;
  bool is_whole_file_read = true;
  for (;;) {
    got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    transcoder.examine({buffer_.data(), got});
    if (got < buffer_.size()) break;
    is_whole_file_read = false;
  }
  if (std::ferror(file_)) {
    read_error_ = errno != 0 ? errno : EIO;
    return false;
  }
  if (transcoder.will_transcode()) transcoder_ = &transcoder;
  // A file that fit in one read is still in the buffer, as most files of a
  // sync are: it is read from there instead of from the disk again.
  if (is_whole_file_read) {
    file_ = nullptr;  // the end stays the end
    if (transcoder_ == nullptr) {
      start_buffer(got);
      return true;
    }
    // Transcoded as if it were left over from a read that reached the end.
    std::size_t unfinished = 0;
    const std::size_t made = transcoder.transcode(buffer_.data(), got, true, unfinished);
    start_buffer(made);
    return true;
  }
  if (std::fseek(file_, 0, SEEK_SET) != 0) {
    read_error_ = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}

std::span<const std::uint8_t> ByteSource::take_buffered() {
  if (pos_ == end_ && !refill()) return {};
  std::span<const std::uint8_t> bytes(pos_, end_);
  pos_ = end_;
  return bytes;
}

}  // namespace vellora
