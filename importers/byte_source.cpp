// Buffered reading for the importers' byte source.
#include "importers/byte_source.h"

#include <cerrno>

namespace vellora {

namespace {

constexpr std::size_t kReadChunkBytes = 1 << 16;

}  // namespace

ByteSource::ByteSource(std::span<const std::uint8_t> bytes)
    : pos_(bytes.data()), end_(bytes.data() + bytes.size()) {}

ByteSource::ByteSource(std::FILE* file) : file_(file), buffer_(kReadChunkBytes) {}

bool ByteSource::refill() {
  if (file_ == nullptr || read_error_ != 0) return false;
  const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  if (got == 0) {
    if (std::ferror(file_)) read_error_ = errno != 0 ? errno : EIO;
    file_ = nullptr;  // the end stays the end
    return false;
  }
  pos_ = buffer_.data();
  end_ = pos_ + got;
  return true;
}

std::span<const std::uint8_t> ByteSource::take_buffered() {
  if (pos_ == end_ && !refill()) return {};
  std::span<const std::uint8_t> bytes(pos_, end_);
  pos_ = end_;
  return bytes;
}

}  // namespace vellora
