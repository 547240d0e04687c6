// Exchanging the first and third byte of every 3-byte pixel (RGB <-> BGR),
// which the TIFF reader and writer do for every 24-bit row.
//
// SwapRedBlue works 5 pixels (15 bytes) at a time with SSE2 where the
// compiler targets it (every x86-64 build) and falls back on the byte loop
// elsewhere; both give the same bytes. `from` and `to` may be the same row;
// otherwise they must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pixels {

inline void SwapRedBlueBytewise(const uint8_t* from, uint8_t* to, size_t count) {
  for (size_t i = 0; i < count; ++i, from += 3, to += 3) {
    const uint8_t first = from[0];
    to[0] = from[2];
    to[1] = from[1];
    to[2] = first;
  }
}

inline void SwapRedBlue(const uint8_t* from, uint8_t* to, size_t count) {
#if defined(__SSE2__)
  // Within 16 bytes starting at a pixel: byte i takes byte i + 2 when i % 3
  // is 0, byte i − 2 when i % 3 is 2, and keeps itself when i % 3 is 1. Byte
  // 15 (the next group's first) is kept as it was, so the group after it,
  // which starts there, still finds it when working in place.
  const __m128i keep = _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, -1);
  const __m128i third = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0);
  const __m128i first = _mm_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0);
  const auto swap = [&](__m128i v) {
    return _mm_or_si128(_mm_and_si128(v, keep),
                        _mm_or_si128(_mm_and_si128(_mm_srli_si128(v, 2), third),
                                     _mm_and_si128(_mm_slli_si128(v, 2), first)));
  };
  // Each group is loaded before the previous one is stored: in place, a load
  // overlapping the byte just stored would wait for the store to complete.
  if (count >= 6) {  // 16 bytes to read and write
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    for (; count >= 11; count -= 5, from += 15, to += 15) {  // the next group has 16 too
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 15));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), swap(v));
      v = next;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), swap(v));
    count -= 5;
    from += 15;
    to += 15;
  }
#endif
  SwapRedBlueBytewise(from, to, count);
}

}  // namespace pixels
