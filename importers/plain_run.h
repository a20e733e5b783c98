// A first, coarse pass over a run of text: whole 16-byte blocks that hold
// no control byte (below 0x20) and none of three markup bytes. Readers scan
// text byte by byte against a table of the bytes they treat specially; this
// lets them skip most of it sixteen bytes at a time and look closely only
// at the block where something may stop the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellora {

// How many bytes from the front of `bytes` surely hold none of those
// bytes: a multiple of 16, and 0 where vector instructions are missing.
// The caller's exact scan goes on from there.
inline std::size_t plain_block_bytes(std::span<const std::uint8_t> bytes, std::uint8_t a, std::uint8_t b,
                                     std::uint8_t c) {
  std::size_t count = 0;
#if defined(__SSE2__)
  const __m128i below_space = _mm_set1_epi8(0x1F);
  const __m128i byte_a = _mm_set1_epi8(static_cast<char>(a));
  const __m128i byte_b = _mm_set1_epi8(static_cast<char>(b));
  const __m128i byte_c = _mm_set1_epi8(static_cast<char>(c));
  for (; count + 16 <= bytes.size(); count += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + count));
    // A byte is below 0x20 when its unsigned minimum with 0x1F is itself.
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(block, below_space), block);
    const __m128i markup = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, byte_a), _mm_cmpeq_epi8(block, byte_b)),
                                        _mm_cmpeq_epi8(block, byte_c));
    if (_mm_movemask_epi8(_mm_or_si128(control, markup)) != 0) break;
  }
#else
  static_cast<void>(bytes);
  static_cast<void>(a);
  static_cast<void>(b);
  static_cast<void>(c);
#endif
  return count;
}

}  // namespace vellora
