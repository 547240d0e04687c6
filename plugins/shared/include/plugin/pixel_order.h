// Exchanging the first and third byte of every 3-byte pixel (RGB <-> BGR),
// which the TIFF reader and writer do for every 24-bit row.
//
// SwapRedBlue works 16 pixels (48 bytes) at a time with SSSE3's byte
// shuffle where the processor has it (asked once), else 5 pixels at a time
// with SSE2 where the compiler targets it (every x86-64 build), and falls back
// on the byte loop elsewhere; all give the same bytes. `from` and `to` may be
// the same row; otherwise they must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <tmmintrin.h>
#define PIXELS_BYTE_SHUFFLE 1
#endif
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

#if defined(PIXELS_BYTE_SHUFFLE)
inline bool HasByteShuffle() {
  static const bool has = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_SSSE3) != 0;
  }();
  return has;
}

// 48 bytes in three vectors a, b, c; output byte i of a pixel's three takes
// input byte 3p + 2 − k. Each output vector is shuffled together from the
// input vectors its bytes come from (−1 selects 0). All three are loaded
// before any is stored, so working in place is safe.
__attribute__((target("ssse3"))) inline void SwapRedBlueShuffled(const uint8_t* from,
                                                                 uint8_t* to, size_t count) {
  const __m128i aFromA = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, -1);
  const __m128i aFromB = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1);
  const __m128i bFromA = _mm_setr_epi8(-1, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i bFromB = _mm_setr_epi8(0, -1, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, -1, 15);
  const __m128i bFromC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1);
  const __m128i cFromB = _mm_setr_epi8(14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i cFromC = _mm_setr_epi8(-1, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
  for (; count >= 16; count -= 16, from += 48, to += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32));
    const __m128i outA = _mm_or_si128(_mm_shuffle_epi8(a, aFromA), _mm_shuffle_epi8(b, aFromB));
    const __m128i outB =
        _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, bFromA), _mm_shuffle_epi8(b, bFromB)),
                     _mm_shuffle_epi8(c, bFromC));
    const __m128i outC = _mm_or_si128(_mm_shuffle_epi8(b, cFromB), _mm_shuffle_epi8(c, cFromC));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), outA);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), outB);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32), outC);
  }
  SwapRedBlueBytewise(from, to, count);
}
#endif

inline void SwapRedBlueSse2(const uint8_t* from, uint8_t* to, size_t count) {
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

inline void SwapRedBlue(const uint8_t* from, uint8_t* to, size_t count) {
#if defined(PIXELS_BYTE_SHUFFLE)
  if (HasByteShuffle()) return SwapRedBlueShuffled(from, to, count);
#endif
  SwapRedBlueSse2(from, to, count);
}

}  // namespace pixels
