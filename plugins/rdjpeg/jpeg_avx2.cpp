// The AVX2 kernels: the inverse DCT with a whole block row in one register,
// and the colour conversion with byte shuffles for the B, G, R interleave.
// This file alone is built for AVX2; the dispatcher calls it only where the
// processor has it.
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <immintrin.h>

#include "jpeg_simd.h"
#include "jpeg_vector.h"

namespace rdjpeg {
namespace {

struct Ops {
  static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
  static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
  static __m256i mul(__m256i x, int32_t k) {
    return _mm256_srai_epi32(_mm256_mullo_epi32(x, _mm256_set1_epi32(k)), 8);
  }
};

inline __attribute__((always_inline)) void Transpose8(__m256i* v) {
  const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(v[0], v[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(v[2], v[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]);
  const __m256i t5 = _mm256_unpackhi_epi32(v[4], v[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]);
  const __m256i t7 = _mm256_unpackhi_epi32(v[6], v[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);
  const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);
  const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);
  const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
  const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
  v[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  v[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  v[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  v[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  v[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  v[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  v[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  v[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// trunc(x × (whole + fraction / 65536)) of signed 16-bit lanes |x| ≤ 128.
__m128i ChromaProduct(__m128i x, int whole, uint16_t fraction) {
  const __m128i magnitude = _mm_abs_epi16(x);
  __m128i product = _mm_mulhi_epu16(magnitude, _mm_set1_epi16(static_cast<int16_t>(fraction)));
  if (whole != 0) product = _mm_add_epi16(product, magnitude);
  return _mm_sign_epi16(product, x);
}

void ConvertEight(__m128i y, __m128i cb, __m128i cr, __m128i& b, __m128i& g, __m128i& r) {
  const __m128i centre = _mm_set1_epi16(128);
  cb = _mm_sub_epi16(cb, centre);
  cr = _mm_sub_epi16(cr, centre);
  b = _mm_add_epi16(y, ChromaProduct(cb, 1, vector::kCbToBFraction));
  r = _mm_add_epi16(y, ChromaProduct(cr, 1, vector::kCrToRFraction));
  g = _mm_sub_epi16(_mm_sub_epi16(y, ChromaProduct(cb, 0, vector::kCbToGFraction)),
                    ChromaProduct(cr, 0, vector::kCrToGFraction));
}

__m128i LoadChroma(const uint8_t* plane, size_t x, int32_t across) {
  if (across == 1) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + x));
  const __m128i half = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + x / 2));
  return _mm_unpacklo_epi8(half, half);
}

// Shuffle masks that place channel c of sixteen pixels into output bytes
// 16·part .. 16·part + 15 of the B, G, R interleave (0x80: no byte).
struct InterleaveMasks {
  alignas(16) uint8_t bytes[3][3][16];  // [part][channel][byte]
};
constexpr InterleaveMasks MakeInterleaveMasks() {
  InterleaveMasks m{};
  for (int part = 0; part < 3; ++part) {
    for (int channel = 0; channel < 3; ++channel) {
      for (int i = 0; i < 16; ++i) {
        const int position = 16 * part + i;
        m.bytes[part][channel][i] = position % 3 == channel ? static_cast<uint8_t>(position / 3) : 0x80;
      }
    }
  }
  return m;
}
constexpr InterleaveMasks kInterleave = MakeInterleaveMasks();

void StoreInterleaved(__m128i b, __m128i g, __m128i r, uint8_t* out) {
  const __m128i channels[3] = {b, g, r};
  for (int part = 0; part < 3; ++part) {
    __m128i bytes = _mm_setzero_si128();
    for (int channel = 0; channel < 3; ++channel) {
      const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.bytes[part][channel]));
      bytes = _mm_or_si128(bytes, _mm_shuffle_epi8(channels[channel], mask));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * part), bytes);
  }
}

}  // namespace

void IdctAvx2(const int32_t* block, uint8_t* out, size_t stride) {
  const __m256i high = _mm256_set1_epi32(kVectorIdctLimit);
  const __m256i low = _mm256_set1_epi32(-kVectorIdctLimit);
  __m256i rows[8];
  __m256i outside = _mm256_setzero_si256();
  for (int r = 0; r < 8; ++r) {
    rows[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 8 * r));
    outside = _mm256_or_si256(outside, _mm256_or_si256(_mm256_cmpgt_epi32(rows[r], high),
                                                       _mm256_cmpgt_epi32(low, rows[r])));
  }
  if (!_mm256_testz_si256(outside, outside)) {
    IdctPlain(block, out, stride);
    return;
  }
  __m256i work[8];
  vector::Butterflies<Ops>(rows, work);  // columns
  Transpose8(work);
  vector::Butterflies<Ops>(work, rows);  // rows, element i = row i
  Transpose8(rows);
  const __m256i bias = _mm256_set1_epi32(128);
  for (int r = 0; r < 8; ++r) {
    const __m256i samples = _mm256_add_epi32(_mm256_srai_epi32(rows[r], 4), bias);
    const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(samples), _mm256_extracti128_si256(samples, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<size_t>(r) * stride),
                     _mm_packus_epi16(words, words));
  }
}

void ColourAvx2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width,
                int32_t across, uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  size_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
    const __m128i u = LoadChroma(cb, x, across);
    const __m128i v = LoadChroma(cr, x, across);
    __m128i b0, g0, r0, b1, g1, r1;
    ConvertEight(_mm_unpacklo_epi8(y, zero), _mm_unpacklo_epi8(u, zero), _mm_unpacklo_epi8(v, zero), b0, g0, r0);
    ConvertEight(_mm_unpackhi_epi8(y, zero), _mm_unpackhi_epi8(u, zero), _mm_unpackhi_epi8(v, zero), b1, g1, r1);
    StoreInterleaved(_mm_packus_epi16(b0, b1), _mm_packus_epi16(g0, g1), _mm_packus_epi16(r0, r1), out + 3 * x);
  }
  if (x < width) {
    ColourPlain(luma + x, cb + x / static_cast<size_t>(across), cr + x / static_cast<size_t>(across), width - x,
                across, out + 3 * x);
  }
}

}  // namespace rdjpeg

#endif
