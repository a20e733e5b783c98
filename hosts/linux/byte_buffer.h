// A growable byte buffer in its own memory mapping. It grows by remapping
// its pages instead of copying them into a new block, so a database being
// written never needs its old and new storage at once: peak memory stays at
// its size, not twice it, whatever state the allocator is in. The largest
// mapping released is kept and serves the next buffer, so a session
// writing database after database does not map and fault in fresh pages
// for each: on virtual machines that costs more than the copy.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include <sys/mman.h>
#include <span>

namespace vellora::posix {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer& other) { append(other.view()); }
  ByteBuffer(ByteBuffer&& other) noexcept { swap(other); }
  ByteBuffer& operator=(ByteBuffer other) noexcept {
    swap(other);
    return *this;
  }
  ~ByteBuffer() { release(bytes_, capacity_); }

  const std::uint8_t* data() const { return bytes_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::span<const std::uint8_t> view() const { return {bytes_, size_}; }
  operator std::span<const std::uint8_t>() const { return view(); }

  void reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    // Whole huge pages once it is that large: a mapping of whole huge pages
    // is placed on their boundary and can be backed by them.
    const std::size_t unit = capacity >= kHugePageBytes ? kHugePageBytes : kPageBytes;
    capacity = (capacity + unit - 1) / unit * unit;
    if (bytes_ == nullptr) take_spare(bytes_, capacity_);
    if (capacity <= capacity_) return;
    void* grown = bytes_ == nullptr
                      ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                      : ::mremap(bytes_, capacity_, capacity, MREMAP_MAYMOVE);
    if (grown == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    // A fresh page costs a fault, which on virtual machines costs more than
    // filling it; a database of megabytes takes a few hundred fewer. Only a
    // hint: without it the buffer works the same.
    if (capacity >= kHugePageBytes) ::madvise(grown, capacity, MADV_HUGEPAGE);
#endif
    bytes_ = static_cast<std::uint8_t*>(grown);
    capacity_ = capacity;
  }

  void append(std::span<const std::uint8_t> more) {
    if (more.empty()) return;
    if (size_ + more.size() > capacity_) reserve(std::max(size_ + more.size(), capacity_ + capacity_ / 2));
    std::memcpy(bytes_ + size_, more.data(), more.size());
    size_ += more.size();
  }

  friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) {
    return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.bytes_, b.bytes_, a.size_) == 0);
  }

 private:
  static constexpr std::size_t kPageBytes = 4096;
  static constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

  struct Spare {
    std::mutex lock;
    std::uint8_t* bytes = nullptr;
    std::size_t capacity = 0;
  };
  static Spare& spare() {
    static Spare instance;
    return instance;
  }
  static void take_spare(std::uint8_t*& bytes, std::size_t& capacity) {
    Spare& s = spare();
    const std::lock_guard guard(s.lock);
    bytes = std::exchange(s.bytes, nullptr);
    capacity = std::exchange(s.capacity, 0);
  }
  static void release(std::uint8_t* bytes, std::size_t capacity) {
    if (bytes == nullptr) return;
    {
      // The larger mapping is kept, the smaller one unmapped.
      Spare& s = spare();
      const std::lock_guard guard(s.lock);
      if (capacity > s.capacity) {
        std::swap(bytes, s.bytes);
        std::swap(capacity, s.capacity);
      }
    }
    if (bytes != nullptr) ::munmap(bytes, capacity);
  }
  void swap(ByteBuffer& other) noexcept {
    std::swap(bytes_, other.bytes_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }
  std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace vellora::posix
