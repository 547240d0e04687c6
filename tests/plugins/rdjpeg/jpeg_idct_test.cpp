// The inverse DCT and the colour tables on their own, against the transform's
// definition computed in floating point.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "jpeg_idct.h"
#include "jpeg_tables.h"

namespace jpegtest {
namespace {

using rdjpeg::AanScaleTable;
using rdjpeg::InverseDct;

// Samples of the 8 × 8 inverse DCT of `coefficients` (natural order), level-shifted.
std::array<double, 64> ReferenceIdct(const std::array<int32_t, 64>& coefficients) {
  std::array<double, 64> out{};
  const double pi = std::acos(-1.0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      double sum = 0;
      for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
          double cu = u == 0 ? std::sqrt(0.5) : 1.0;
          double cv = v == 0 ? std::sqrt(0.5) : 1.0;
          sum += cu * cv * coefficients[v * 8 + u] * std::cos((2 * x + 1) * u * pi / 16) *
                 std::cos((2 * y + 1) * v * pi / 16);
        }
      }
      out[y * 8 + x] = sum / 4 + 128;
    }
  }
  return out;
}

// Coefficient × quantiser, dequantised as the decoder does it.
std::array<int32_t, 64> Dequantised(const std::array<int32_t, 64>& coefficients, int quantiser) {
  std::array<int32_t, 64> d{};
  for (size_t k = 0; k < 64; ++k) {
    d[k] = rdjpeg::Dequantise(coefficients[k], (quantiser * AanScaleTable[k]) >> 12);
  }
  return d;
}

// The coefficients a dequantised block stands for (d = F × 2 s(u) s(v)): the multipliers keep only
// two fractional bits, so the transform is checked against what it was given.
std::array<int32_t, 64> Effective(const std::array<int32_t, 64>& dequantised) {
  std::array<int32_t, 64> f{};
  const double pi = std::acos(-1.0);
  for (int u = 0; u < 8; ++u) {
    for (int v = 0; v < 8; ++v) {
      double su = u == 0 ? 1.0 : std::sqrt(2.0) * std::cos(u * pi / 16);
      double sv = v == 0 ? 1.0 : std::sqrt(2.0) * std::cos(v * pi / 16);
      f[u * 8 + v] = static_cast<int32_t>(std::lround(dequantised[u * 8 + v] / (2.0 * su * sv)));
    }
  }
  return f;
}

TEST(JpegIdct, FollowsTheDefinitionWithinTheArithmeticsError) {
  std::mt19937 random(7);
  for (int quantiser : {2, 8, 16}) {
    double worst = 0;
    double sum = 0;
    for (int trial = 0; trial < 300; ++trial) {
      std::array<int32_t, 64> coefficients{};
      for (size_t k = 0; k < 64; ++k) {
        int range = k == 0 ? 60 : static_cast<int>(40 / (1 + k / 8));
        if (random() % 3 == 0) coefficients[k] = static_cast<int32_t>(random() % (2 * range + 1)) - range;
      }
      std::array<int32_t, 64> dequantised = Dequantised(coefficients, quantiser);
      std::array<double, 64> expected = ReferenceIdct(Effective(dequantised));
      uint8_t out[64];
      InverseDct(dequantised.data(), false, out, 8);
      for (size_t i = 0; i < 64; ++i) {
        double clamped = std::fmin(255, std::fmax(0, expected[i]));
        worst = std::fmax(worst, std::fabs(out[i] - clamped));
        sum += out[i] - clamped;
      }
    }
    SCOPED_TRACE(quantiser);
    EXPECT_LE(worst, 3.0);
    // Truncating shifts pull the samples down by about half a level.
    EXPECT_LT(sum / (300 * 64), 0.0);
    EXPECT_GT(sum / (300 * 64), -1.5);
  }
}

TEST(JpegIdct, FlatBlocksAndTheirShortcutAgree) {
  for (int32_t dc : {-2048, -1, 0, 7, 100, 1023, 4000}) {
    std::array<int32_t, 64> block{};
    block[0] = rdjpeg::Dequantise(dc, (4 * AanScaleTable[0]) >> 12);
    uint8_t full[64], shortcut[64];
    InverseDct(block.data(), false, full, 8);
    InverseDct(block.data(), true, shortcut, 8);
    EXPECT_EQ(std::vector<uint8_t>(full, full + 64), std::vector<uint8_t>(shortcut, shortcut + 64));
    EXPECT_EQ(full[0], rdjpeg::RangeLimit((block[0] >> 4) + 128)) << dc;
  }
}

TEST(JpegIdct, ExtremeCoefficientsStayInRange) {
  // Corrupt data may claim any coefficient: the transform neither overflows
  // (the sanitizer build checks) nor writes outside its 8 × 8 samples.
  std::array<int32_t, 64> block{};
  uint8_t out[10 * 16];
  for (int32_t sign : {1, -1}) {
    for (size_t k = 0; k < 64; ++k) {
      block[k] = rdjpeg::Dequantise(sign * (k % 2 == 0 ? 32767 : -32767), 1962);
      EXPECT_LE(std::abs(block[k]), rdjpeg::kDequantisedLimit);
    }
    std::fill(std::begin(out), std::end(out), 0xA5);
    InverseDct(block.data(), false, out + 16, 16);
    for (int r = 0; r < 10; ++r) {
      for (int i = 0; i < 16; ++i) {
        if (r >= 1 && r <= 8 && i < 8) continue;
        EXPECT_EQ(out[r * 16 + i], 0xA5) << r << "," << i;
      }
    }
  }
}

TEST(JpegColourTables, ProductsTruncateAndTheClampCoversTheSums) {
  const rdjpeg::ColourTables& t = rdjpeg::kColourTables;
  EXPECT_EQ(t.crToR[128], 0);
  EXPECT_EQ(t.cbToG[0], 44);    // −128 × −0.34414 = 44.05
  EXPECT_EQ(t.crToG[255], -90);  // 127 × −0.71414 = −90.7
  // Y 255 with Cb 255 gives blue 255; Y 0 with Cr 0 gives red 0.
  EXPECT_EQ(t.clamp[255 + rdjpeg::kClampBias + t.cbToB[255]], 255);
  EXPECT_EQ(t.clamp[0 + rdjpeg::kClampBias + t.crToR[0]], 0);
  EXPECT_EQ(t.clamp[rdjpeg::kClampBias + 77], 77);
  EXPECT_GE(rdjpeg::kClampBias + t.cbToB[0], 0);
  EXPECT_LT(255 + rdjpeg::kClampBias + t.cbToB[255], static_cast<int>(t.clamp.size()));
}

}  // namespace
}  // namespace jpegtest
