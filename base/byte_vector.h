// A byte vector whose resize leaves new bytes uninitialised. Paragraph and
// record buffers are resized constantly and always overwritten at once, so
// zero-filling them first would only cost time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vellora {

template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <typename U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  // Value-initialisation (what resize asks for) becomes default-initialisation.
  template <typename U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

using ByteVector = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

}  // namespace vellora
