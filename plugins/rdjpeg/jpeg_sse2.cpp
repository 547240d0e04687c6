// The SSE2 kernels: the inverse DCT four columns or rows at a time, and the
// colour conversion sixteen pixels at a time. On 32-bit x86 this file alone
// is built for SSE2; the dispatcher calls it only where the processor has it.
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <emmintrin.h>

#include "jpeg_simd.h"
#include "jpeg_vector.h"

namespace rdjpeg {
namespace {

// SSE2 has no 32-bit multiply-low: the two even and the two odd lanes are
// multiplied separately; the low halves of the unsigned products are those of
// the signed ones.
__m128i MulLow(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_si128(a, 4), _mm_srli_si128(b, 4));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

struct Ops {
  static __m128i add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
  static __m128i sub(__m128i a, __m128i b) { return _mm_sub_epi32(a, b); }
  static __m128i mul(__m128i x, int32_t k) { return _mm_srai_epi32(MulLow(x, _mm_set1_epi32(k)), 8); }
};

void Transpose4(__m128i* v) {
  const __m128i t0 = _mm_unpacklo_epi32(v[0], v[1]);
  const __m128i t1 = _mm_unpackhi_epi32(v[0], v[1]);
  const __m128i t2 = _mm_unpacklo_epi32(v[2], v[3]);
  const __m128i t3 = _mm_unpackhi_epi32(v[2], v[3]);
  v[0] = _mm_unpacklo_epi64(t0, t2);
  v[1] = _mm_unpackhi_epi64(t0, t2);
  v[2] = _mm_unpacklo_epi64(t1, t3);
  v[3] = _mm_unpackhi_epi64(t1, t3);
}

// True when some coefficient lies outside ±kVectorIdctLimit.
bool OutOfRange(const int32_t* block) {
  const __m128i high = _mm_set1_epi32(kVectorIdctLimit);
  const __m128i low = _mm_set1_epi32(-kVectorIdctLimit);
  __m128i outside = _mm_setzero_si128();
  for (int i = 0; i < 64; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    outside = _mm_or_si128(outside, _mm_or_si128(_mm_cmpgt_epi32(v, high), _mm_cmplt_epi32(v, low)));
  }
  return _mm_movemask_epi8(outside) != 0;
}

// Eight samples of one output row from its left and right halves.
void StoreRow(__m128i left, __m128i right, uint8_t* out) {
  const __m128i bias = _mm_set1_epi32(128);
  left = _mm_add_epi32(_mm_srai_epi32(left, 4), bias);
  right = _mm_add_epi32(_mm_srai_epi32(right, 4), bias);
  const __m128i words = _mm_packs_epi32(left, right);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

// trunc(x × (whole + fraction / 65536)) of signed 16-bit lanes |x| ≤ 128.
__m128i ChromaProduct(__m128i x, int whole, uint16_t fraction) {
  const __m128i sign = _mm_srai_epi16(x, 15);
  const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(x, sign), sign);
  __m128i product = _mm_mulhi_epu16(magnitude, _mm_set1_epi16(static_cast<int16_t>(fraction)));
  if (whole != 0) product = _mm_add_epi16(product, magnitude);
  return _mm_sub_epi16(_mm_xor_si128(product, sign), sign);
}

// B, G and R of eight pixels from their 16-bit Y, Cb and Cr.
void ConvertEight(__m128i y, __m128i cb, __m128i cr, __m128i& b, __m128i& g, __m128i& r) {
  const __m128i centre = _mm_set1_epi16(128);
  cb = _mm_sub_epi16(cb, centre);
  cr = _mm_sub_epi16(cr, centre);
  b = _mm_add_epi16(y, ChromaProduct(cb, 1, vector::kCbToBFraction));
  r = _mm_add_epi16(y, ChromaProduct(cr, 1, vector::kCrToRFraction));
  g = _mm_sub_epi16(_mm_sub_epi16(y, ChromaProduct(cb, 0, vector::kCbToGFraction)),
                    ChromaProduct(cr, 0, vector::kCrToGFraction));
}

// Sixteen chroma samples for sixteen pixels starting at `x`.
__m128i LoadChroma(const uint8_t* plane, size_t x, int32_t across) {
  if (across == 1) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + x));
  const __m128i half = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + x / 2));
  return _mm_unpacklo_epi8(half, half);
}

}  // namespace

void IdctSse2(const int32_t* block, uint8_t* out, size_t stride) {
  if (OutOfRange(block)) {
    IdctPlain(block, out, stride);
    return;
  }
  // Column pass on the left and right four columns.
  __m128i left[8], right[8];
  for (int r = 0; r < 8; ++r) {
    left[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
    right[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r + 4));
  }
  __m128i wl[8], wr[8];
  vector::Butterflies<Ops>(left, wl);
  vector::Butterflies<Ops>(right, wr);
  // Row pass on the top and bottom four rows: element i of top[j] is
  // workspace row i, column j.
  __m128i top[8] = {wl[0], wl[1], wl[2], wl[3], wr[0], wr[1], wr[2], wr[3]};
  __m128i bottom[8] = {wl[4], wl[5], wl[6], wl[7], wr[4], wr[5], wr[6], wr[7]};
  Transpose4(top);
  Transpose4(top + 4);
  Transpose4(bottom);
  Transpose4(bottom + 4);
  __m128i ot[8], ob[8];
  vector::Butterflies<Ops>(top, ot);
  vector::Butterflies<Ops>(bottom, ob);
  Transpose4(ot);
  Transpose4(ot + 4);
  Transpose4(ob);
  Transpose4(ob + 4);
  for (int r = 0; r < 4; ++r) {
    StoreRow(ot[r], ot[4 + r], out + static_cast<size_t>(r) * stride);
    StoreRow(ob[r], ob[4 + r], out + static_cast<size_t>(r + 4) * stride);
  }
}

void ColourSse2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width,
                int32_t across, uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  alignas(16) uint8_t planes[3][16];
  size_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
    const __m128i u = LoadChroma(cb, x, across);
    const __m128i v = LoadChroma(cr, x, across);
    __m128i b0, g0, r0, b1, g1, r1;
    ConvertEight(_mm_unpacklo_epi8(y, zero), _mm_unpacklo_epi8(u, zero), _mm_unpacklo_epi8(v, zero), b0, g0, r0);
    ConvertEight(_mm_unpackhi_epi8(y, zero), _mm_unpackhi_epi8(u, zero), _mm_unpackhi_epi8(v, zero), b1, g1, r1);
    _mm_store_si128(reinterpret_cast<__m128i*>(planes[0]), _mm_packus_epi16(b0, b1));
    _mm_store_si128(reinterpret_cast<__m128i*>(planes[1]), _mm_packus_epi16(g0, g1));
    _mm_store_si128(reinterpret_cast<__m128i*>(planes[2]), _mm_packus_epi16(r0, r1));
    uint8_t* pixel = out + 3 * x;
    for (int i = 0; i < 16; ++i, pixel += 3) {
      pixel[0] = planes[0][i];
      pixel[1] = planes[1][i];
      pixel[2] = planes[2][i];
    }
  }
  if (x < width) {
    ColourPlain(luma + x, cb + x / static_cast<size_t>(across), cr + x / static_cast<size_t>(across), width - x,
                across, out + 3 * x);
  }
}

}  // namespace rdjpeg

#endif
