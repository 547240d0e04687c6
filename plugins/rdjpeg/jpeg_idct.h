// Inverse DCT of one dequantised block (separable AAN algorithm, integer).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rdjpeg {

// Largest magnitude a dequantised coefficient is given to the transform. Real
// coefficients of 8-bit samples stay far below it; corrupt data are cut to it
// so that no intermediate value can overflow.
inline constexpr int32_t kDequantisedLimit = 1 << 16;

// Dequantised coefficient d = (coefficient × multiplier) >> 1, cut to ±kDequantisedLimit.
inline int32_t Dequantise(int32_t coefficient, int32_t multiplier) {
  int32_t d = (coefficient * multiplier) >> 1;
  d = d < -kDequantisedLimit ? -kDequantisedLimit : d;
  return d > kDequantisedLimit ? kDequantisedLimit : d;
}

// Transforms `block` (64 dequantised coefficients, natural order) into 8 rows
// of 8 samples at `out`, rows `stride` bytes apart. `dcOnly` says that every
// coefficient but the first is 0 (the result is then one flat value).
void InverseDct(const int32_t* block, bool dcOnly, uint8_t* out, size_t stride);

}  // namespace rdjpeg
