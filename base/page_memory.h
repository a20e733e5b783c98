// Blocks of whole pages for large buffers that are filled once and then
// dropped, such as a database being written. On Linux a block of whole
// huge pages is mapped on their boundary and marked for them, so filling
// it costs one page fault per 2 MB instead of one per 4 KB: in a fresh
// process that is a quarter of what converting a large document costs.
// Elsewhere a block is ordinary memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vellora {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

class PageBlock {
 public:
  PageBlock() = default;
  // At least `bytes` bytes, untouched; throws std::bad_alloc.
  explicit PageBlock(std::size_t bytes);
  PageBlock(PageBlock&& other) noexcept { swap(other); }
  PageBlock& operator=(PageBlock other) noexcept {
    swap(other);
    return *this;
  }
  ~PageBlock();

  std::uint8_t* data() const { return bytes_; }
  std::size_t capacity() const { return capacity_; }

 private:
  void swap(PageBlock& other) noexcept {
    std::swap(bytes_, other.bytes_);
    std::swap(capacity_, other.capacity_);
  }
  std::uint8_t* bytes_ = nullptr;
  std::size_t capacity_ = 0;
};

}  // namespace vellora
