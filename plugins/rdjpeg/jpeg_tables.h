// Constant tables of the decoder: coefficient order, IDCT scale factors,
// range limiting and the YCbCr-to-RGB products. All are compile-time data,
// so images on different threads share them without any set-up.
#pragma once

#include <array>
#include <cstdint>

namespace rdjpeg {

// Zigzag position -> natural (row-major) position, followed by 16 entries of 0:
// a run that passes position 63 lands on coefficient 0 instead of leaving the block.
inline constexpr std::array<uint8_t, 80> kNaturalOrder = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
};

// Natural order: entry [u * 8 + v] = round(16384 × s(u) × s(v)), s(0) = 1,
// s(k) = √2 × cos(kπ/16). They fold the scaled IDCT's per-coefficient factors
// into the dequantisation multipliers.
inline constexpr std::array<int16_t, 64> AanScaleTable = {
    16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,
    22725, 31521, 29692, 26722, 22725, 17855, 12299, 6270,
    21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906,
    19266, 26722, 25172, 22654, 19266, 15137, 10426, 5315,
    16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,
    12873, 17855, 16819, 15137, 12873, 10114, 6967,  3552,
    8867,  12299, 11585, 10426, 8867,  6967,  4799,  2446,
    4520,  6270,  5906,  5315,  4520,  3552,  2446,  1247,
};

// Range limiting of a sample: 0 below 0, the value for 0..255, 255 above.
// A branch-free clamp serves any int32, so no index can leave a table.
inline uint8_t RangeLimit(int32_t value) {
  value = value < 0 ? 0 : value;
  return static_cast<uint8_t>(value > 255 ? 255 : value);
}

// YCbCr -> RGB products for a chroma byte i (x = i − 128), each truncated toward zero.
struct ColourTables {
  std::array<int16_t, 256> crToR;  // x × 1.402
  std::array<int16_t, 256> cbToB;  // x × 1.772
  std::array<int16_t, 256> crToG;  // x × −0.71414
  std::array<int16_t, 256> cbToG;  // x × −0.34414
  // Clamp for the sums, index + kClampBias: they reach −227..480.
  std::array<uint8_t, 768> clamp;
};
inline constexpr int kClampBias = 256;

constexpr ColourTables MakeColourTables() {
  ColourTables t{};
  for (int i = 0; i < 256; ++i) {
    double x = i - 128;
    t.crToR[i] = static_cast<int16_t>(x * 1.402);
    t.cbToB[i] = static_cast<int16_t>(x * 1.772);
    t.crToG[i] = static_cast<int16_t>(x * -0.71414);
    t.cbToG[i] = static_cast<int16_t>(x * -0.34414);
  }
  for (int i = 0; i < 768; ++i) {
    int v = i - kClampBias;
    t.clamp[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  return t;
}
inline constexpr ColourTables kColourTables = MakeColourTables();
static_assert(kColourTables.cbToB[255] == 225 && kColourTables.cbToB[0] == -226);
static_assert(kColourTables.crToR[0] == -179 && kColourTables.crToR[255] == 178);

}  // namespace rdjpeg
