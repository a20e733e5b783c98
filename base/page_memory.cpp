// Page blocks: mapped on Linux, ordinary memory elsewhere.
#include "base/page_memory.h"

#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace vellora {

namespace {

constexpr std::size_t kPageBytes = 4096;

std::size_t rounded_up(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

}  // namespace

#ifdef __linux__

PageBlock::PageBlock(std::size_t bytes) {
  // Whole huge pages once it is that large: a mapping of whole huge pages
  // is placed on their boundary and can be backed by them.
  const std::size_t capacity =
      rounded_up(bytes == 0 ? 1 : bytes, bytes >= kHugePageBytes ? kHugePageBytes : kPageBytes);
  void* mapped = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  // Only a hint: without it the block works the same.
  if (capacity >= kHugePageBytes) ::madvise(mapped, capacity, MADV_HUGEPAGE);
#endif
  bytes_ = static_cast<std::uint8_t*>(mapped);
  capacity_ = capacity;
}

PageBlock::~PageBlock() {
  if (bytes_ != nullptr) ::munmap(bytes_, capacity_);
}

#else

PageBlock::PageBlock(std::size_t bytes) {
  const std::size_t capacity = rounded_up(bytes == 0 ? 1 : bytes, kPageBytes);
  bytes_ = static_cast<std::uint8_t*>(::operator new(capacity));
  capacity_ = capacity;
}

PageBlock::~PageBlock() { ::operator delete(bytes_); }

#endif

}  // namespace vellora
