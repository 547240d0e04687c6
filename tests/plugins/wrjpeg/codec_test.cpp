// The coding steps on their own, against independent reference computations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <set>

#include "jpeg_codec.h"

namespace wrjpeg {
namespace {

TEST(WrjpegCodec, ZigzagWalksTheAntiDiagonalsAlternately) {
  // Position k of the walk from the diagonals: even sums go up-right, odd down-left.
  std::vector<uint16_t> walk;
  for (int sum = 0; sum < 15; ++sum) {
    for (int i = 0; i < 8; ++i) {
      const int row = sum % 2 == 0 ? sum - i : i, col = sum - row;
      if (row >= 0 && row < 8 && col >= 0 && col < 8) walk.push_back(static_cast<uint16_t>(row * 8 + col));
    }
  }
  EXPECT_EQ(walk, std::vector<uint16_t>(kZigzagToNatural.begin(), kZigzagToNatural.end()));
}

TEST(WrjpegCodec, QualityScalesTheBaseTables) {
  uint8_t table[64];
  ScaleQuantTable(kBaseLuminanceQuant, 50, table);
  EXPECT_TRUE(std::equal(table, table + 64, kBaseLuminanceQuant.begin()));
  ScaleQuantTable(kBaseChrominanceQuant, 100, table);
  EXPECT_TRUE(std::all_of(table, table + 64, [](uint8_t v) { return v == 1; }));
  ScaleQuantTable(kBaseLuminanceQuant, 0, table);  // as 1: scale 5000
  EXPECT_TRUE(std::all_of(table, table + 64, [](uint8_t v) { return v == 255; }));
  ScaleQuantTable(kBaseLuminanceQuant, 75, table);
  for (size_t k = 0; k < 64; ++k) EXPECT_EQ(table[k], (kBaseLuminanceQuant[k] * 50 + 50) / 100);
  EXPECT_EQ(EffectiveQuality(1000), 100u);
}

TEST(WrjpegCodec, QuantiserMatchesDivisionRoundingHalfAwayFromZero) {
  for (uint32_t t = 1; t <= 255; ++t) {
    uint8_t table[64];
    std::fill(table, table + 64, static_cast<uint8_t>(t));
    Quantiser quantiser;
    BuildQuantiser(table, quantiser);
    int32_t block[64] = {}, out[64];
    for (int32_t v = -1023; v <= 1023; ++v) {
      block[0] = v;  // the DC position, not limited
      Quantise(block, quantiser, out);
      const int32_t half = static_cast<int32_t>(t / 2), d = static_cast<int32_t>(t);
      ASSERT_EQ(out[0], v >= 0 ? (v + half) / d : -((half - v) / d)) << v << " / " << t;
    }
  }
}

TEST(WrjpegCodec, ForwardDctIsTheScaledTwoDimensionalDct) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    int32_t block[64];
    double input[64];
    for (int i = 0; i < 64; ++i) input[i] = block[i] = static_cast<int32_t>(random() % 256) - 128;
    if (trial == 0) std::fill(block, block + 64, 127), std::fill(input, input + 64, 127.0);
    ForwardDct(block);
    for (int u = 0; u < 8; ++u) {
      for (int v = 0; v < 8; ++v) {
        double sum = 0;
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 8; ++x) {
            sum += input[y * 8 + x] * std::cos((2 * x + 1) * v * std::numbers::pi / 16) * std::cos((2 * y + 1) * u * std::numbers::pi / 16);
          }
        }
        const double cu = u == 0 ? (1 / std::numbers::sqrt2) : 1, cv = v == 0 ? (1 / std::numbers::sqrt2) : 1;
        ASSERT_NEAR(block[u * 8 + v], sum * cu * cv / 4, 1.5) << u << "," << v;
      }
    }
  }
}

TEST(WrjpegCodec, HuffmanCodesArePrefixFreeAndCanonical) {
  for (const HuffmanTableDef& def : kHuffmanTables) {
    HuffmanCodeTable table;
    BuildHuffmanCodes(def, table);
    std::set<std::pair<int, int>> codes;
    for (uint32_t i = 0; i < def.symbolCount; ++i) {
      const uint8_t s = def.symbols[i];
      ASSERT_GT(table.length[s], 0);
      codes.insert({table.length[s], table.code[s]});
    }
    for (auto a : codes) {
      for (auto b : codes) {
        if (a != b && a.first <= b.first) {
          EXPECT_NE(b.second >> (b.first - a.first), a.second);
        }
      }
    }
  }
  HuffmanCodeTable dc, ac;
  BuildHuffmanCodes(kHuffmanTables[kDcLuminance], dc);
  BuildHuffmanCodes(kHuffmanTables[kAcLuminance], ac);
  EXPECT_EQ(dc.code[0], 0b00);  // size 0: 00; EOB 1010; ZRL 11111111001
  EXPECT_EQ(dc.length[0], 2);
  EXPECT_EQ(ac.code[0x00], 0b1010);
  EXPECT_EQ(ac.length[0xF0], 11);
  EXPECT_EQ(ac.code[0xF0], 0b11111111001);
}

TEST(WrjpegCodec, SinkStuffsEveryFfByte) {
  uint8_t bytes[16] = {};
  BitSink sink{bytes, 0, 0, 0};
  sink.put(0xFF, 8);
  sink.put(0x7F, 7);
  sink.put(0x1, 1);  // 0xFF again, split over two calls
  sink.put(0x3, 2);
  sink.drain();
  EXPECT_EQ(sink.length, 4u);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0xFF, 0, 0xFF, 0}));
  EXPECT_EQ(sink.bits, 2u);
}

TEST(WrjpegCodec, ColourConversionOfWhiteGreyAndPalette) {
  uint8_t y[3], cb[3], cr[3];
  const uint8_t bgr[9] = {255, 255, 255, 0, 0, 0, 0, 0, 255};
  ConvertRow(bgr, 3, 1 << 24, nullptr, y, cb, cr);
  EXPECT_EQ(y[0], 254);
  EXPECT_EQ(cb[0], 128);
  EXPECT_EQ(cr[0], 128);
  EXPECT_EQ(y[1], 0);
  EXPECT_EQ(cr[2], 255);  // pure red: Cr 127.5 + 128, truncated
  RGBQUAD grey[256];
  for (int i = 0; i < 256; ++i) grey[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
  uint8_t indices[256], gy[256], gcb[256], gcr[256];
  for (int i = 0; i < 256; ++i) indices[i] = static_cast<uint8_t>(i);
  ConvertRow(indices, 256, 256, grey, gy, gcb, gcr);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(gcb[i], 128);
    EXPECT_EQ(gcr[i], 128);
    EXPECT_LE(std::abs(gy[i] - i), 1);
  }
  const uint8_t bits[1] = {0b10100000};
  const RGBQUAD mono[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  ConvertRow(bits, 3, 2, mono, y, cb, cr);
  EXPECT_EQ(std::vector<uint8_t>(y, y + 3), (std::vector<uint8_t>{254, 0, 254}));
}

TEST(WrjpegCodec, OddWidthAveragesTheLastChromaColumnVertically) {
  std::vector<uint8_t> rows(16 * 3);
  for (size_t r = 0; r < 16; ++r) {
    rows[r * 3] = 10, rows[r * 3 + 1] = 21, rows[r * 3 + 2] = static_cast<uint8_t>(r % 2 ? 100 : 51);
  }
  uint8_t plane[8 * 8];
  DownsampleChroma(rows.data(), 3, plane, 8);
  EXPECT_EQ(plane[0], 15);  // (10 + 21 + 10 + 21) / 4
  EXPECT_EQ(plane[1], 75);  // (51 + 100) / 2
  EXPECT_EQ(plane[7], 75);  // repeated to the plane's edge
}

}  // namespace
}  // namespace wrjpeg
