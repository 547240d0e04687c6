// The inverse DCT: a column pass into a workspace, then a row pass into the
// samples. Constants carry 8 fractional bits; every shift truncates (an
// arithmetic shift), and each output is (value >> 4) + 128, range limited.
// Products are formed in 64 bits, so coefficients up to kDequantisedLimit
// cannot overflow anywhere.
#include "jpeg_idct.h"

#include "jpeg_tables.h"

namespace rdjpeg {
namespace {

constexpr int32_t kK1 = 362;  // √2 × 256
constexpr int32_t kK2 = 473;  // 1.847759065 × 256
constexpr int32_t kK3 = 277;  // 1.082392200 × 256
constexpr int32_t kK4 = 669;  // 2.613125930 × 256

inline int32_t Mul(int32_t x, int32_t k) {
  return static_cast<int32_t>((static_cast<int64_t>(x) * k) >> 8);
}

// One 8-point butterfly network: in[0..7] at `step` apart -> out[0..7].
template <typename Out>
inline void Butterflies(int32_t d0, int32_t d1, int32_t d2, int32_t d3, int32_t d4, int32_t d5,
                        int32_t d6, int32_t d7, Out&& out) {
  int32_t t10 = d0 + d4;
  int32_t t11 = d0 - d4;
  int32_t t13 = d2 + d6;
  int32_t t12 = Mul(d2 - d6, kK1) - t13;
  int32_t e0 = t10 + t13;
  int32_t e3 = t10 - t13;
  int32_t e1 = t11 + t12;
  int32_t e2 = t11 - t12;

  int32_t z13 = d5 + d3;
  int32_t z10 = d5 - d3;
  int32_t z11 = d1 + d7;
  int32_t z12 = d1 - d7;
  int32_t o7 = z11 + z13;
  int32_t u11 = Mul(z11 - z13, kK1);
  int32_t z5 = Mul(z10 + z12, kK2);
  int32_t u10 = Mul(z12, kK3) - z5;
  int32_t u12 = Mul(z10, -kK4) + z5;
  int32_t o6 = u12 - o7;
  int32_t o5 = u11 - o6;
  int32_t o4 = u10 + o5;

  out(0, e0 + o7);
  out(1, e1 + o6);
  out(2, e2 + o5);
  out(3, e3 - o4);
  out(4, e3 + o4);
  out(5, e2 - o5);
  out(6, e1 - o6);
  out(7, e0 - o7);
}

inline uint8_t Sample(int32_t value) {
  return RangeLimit((value >> 4) + 128);
}

}  // namespace

void InverseDct(const int32_t* block, bool dcOnly, uint8_t* out, size_t stride) {
  if (dcOnly) {
    uint8_t flat = Sample(block[0]);
    for (int r = 0; r < 8; ++r) {
      uint8_t* row = out + static_cast<size_t>(r) * stride;
      for (int i = 0; i < 8; ++i) row[i] = flat;
    }
    return;
  }
  int32_t ws[64];
  for (int c = 0; c < 8; ++c) {
    const int32_t* d = block + c;
    if ((d[8] | d[16] | d[24] | d[32] | d[40] | d[48] | d[56]) == 0) {
      for (int r = 0; r < 8; ++r) ws[r * 8 + c] = d[0];
      continue;
    }
    Butterflies(d[0], d[8], d[16], d[24], d[32], d[40], d[48], d[56],
                [&](int r, int32_t v) { ws[r * 8 + c] = v; });
  }
  for (int r = 0; r < 8; ++r) {
    const int32_t* w = ws + r * 8;
    uint8_t* row = out + static_cast<size_t>(r) * stride;
    // A row without horizontal detail gives eight equal samples: the same
    // result the butterflies give, computed once.
    if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
      uint8_t flat = Sample(w[0]);
      for (int i = 0; i < 8; ++i) row[i] = flat;
      continue;
    }
    Butterflies(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7],
                [&](int i, int32_t v) { row[i] = Sample(v); });
  }
}

}  // namespace rdjpeg
