// Pieces the vector kernels share: the inverse DCT's butterflies on any
// vector type, and the fixed-point factors of the colour conversion.
//
// Only templates and constants live here: each kernel file instantiates them
// with its own instruction set, so no out-of-line copy is shared between
// files built for different processors.
#pragma once

#include <cstdint>

namespace rdjpeg::vector {

// The butterflies of InverseDct on eight vectors (element i of each vector is
// one 8-point transform). Ops::mul(x, k) must give (x × k) >> 8 with an
// arithmetic shift.
template <typename Ops, typename V>
inline void Butterflies(const V* d, V* out) {
  const V t10 = Ops::add(d[0], d[4]);
  const V t11 = Ops::sub(d[0], d[4]);
  const V t13 = Ops::add(d[2], d[6]);
  const V t12 = Ops::sub(Ops::mul(Ops::sub(d[2], d[6]), 362), t13);
  const V e0 = Ops::add(t10, t13);
  const V e3 = Ops::sub(t10, t13);
  const V e1 = Ops::add(t11, t12);
  const V e2 = Ops::sub(t11, t12);

  const V z13 = Ops::add(d[5], d[3]);
  const V z10 = Ops::sub(d[5], d[3]);
  const V z11 = Ops::add(d[1], d[7]);
  const V z12 = Ops::sub(d[1], d[7]);
  const V o7 = Ops::add(z11, z13);
  const V u11 = Ops::mul(Ops::sub(z11, z13), 362);
  const V z5 = Ops::mul(Ops::add(z10, z12), 473);
  const V u10 = Ops::sub(Ops::mul(z12, 277), z5);
  const V u12 = Ops::add(Ops::mul(z10, -669), z5);
  const V o6 = Ops::sub(u12, o7);
  const V o5 = Ops::sub(u11, o6);
  const V o4 = Ops::add(u10, o5);

  out[0] = Ops::add(e0, o7);
  out[1] = Ops::add(e1, o6);
  out[2] = Ops::add(e2, o5);
  out[3] = Ops::sub(e3, o4);
  out[4] = Ops::add(e3, o4);
  out[5] = Ops::sub(e2, o5);
  out[6] = Ops::sub(e1, o6);
  out[7] = Ops::sub(e0, o7);
}

// trunc(x × c) for a chroma offset x = −128..127 is sign(x) × (w × |x| +
// ((|x| × K) >> 16)) with these whole parts w and 16-bit factors K; the test
// of the kernels checks every chroma value against the tables.
inline constexpr uint16_t kCrToRFraction = 26346;  // 1.402 = 1 + K / 65536
inline constexpr uint16_t kCbToBFraction = 50596;  // 1.772 = 1 + K / 65536
inline constexpr uint16_t kCrToGFraction = 46770;  // 0.71414
inline constexpr uint16_t kCbToGFraction = 22556;  // 0.34414

}  // namespace rdjpeg::vector
