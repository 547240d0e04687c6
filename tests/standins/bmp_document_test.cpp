// The virtual scanner's BMP reader: every depth it takes, both row orders,
// the core header, and files whose fields do not fit together.
#include "bmp_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

using virtscan::decodeBmp;
using virtscan::RgbImage;

struct BmpSpec {
  int32_t width = 3;
  int32_t height = 2;  // negative: top-down
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t headerSize = 40;
  std::vector<uint8_t> extra;   // masks or palette, after the header
  std::vector<uint8_t> pixels;  // stored rows, padded by the caller
};

void put(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> build(const BmpSpec& s) {
  const uint32_t offset = 14 + s.headerSize + static_cast<uint32_t>(s.extra.size());
  std::vector<uint8_t> b(offset, 0);
  b[0] = 'B';
  b[1] = 'M';
  put(b, 2, offset + static_cast<uint32_t>(s.pixels.size()), 4);
  put(b, 10, offset, 4);
  put(b, 14, s.headerSize, 4);
  if (s.headerSize == 12) {
    put(b, 18, static_cast<uint32_t>(s.width), 2);
    put(b, 20, static_cast<uint32_t>(s.height), 2);
    put(b, 22, 1, 2);
    put(b, 24, s.bitCount, 2);
  } else {
    put(b, 18, static_cast<uint32_t>(s.width), 4);
    put(b, 22, static_cast<uint32_t>(s.height), 4);
    put(b, 26, 1, 2);
    put(b, 28, s.bitCount, 2);
    put(b, 30, s.compression, 4);
    put(b, 38, 11811, 4);  // 300 dpi
  }
  std::copy(s.extra.begin(), s.extra.end(), b.begin() + 14 + s.headerSize);
  b.insert(b.end(), s.pixels.begin(), s.pixels.end());
  return b;
}

// Palette entries B, G, R, 0 for colours (10 i, 20 i, 30 i).
std::vector<uint8_t> palette(int count, int entryBytes = 4) {
  std::vector<uint8_t> p;
  for (int i = 0; i < count; ++i) {
    p.push_back(static_cast<uint8_t>(30 * i));
    p.push_back(static_cast<uint8_t>(20 * i));
    p.push_back(static_cast<uint8_t>(10 * i));
    if (entryBytes == 4) p.push_back(0);
  }
  return p;
}

void expectPixel(const RgbImage& image, uint32_t x, uint32_t y, int r, int g, int b) {
  const uint8_t* p = &image.rgb[(y * image.width + x) * 3];
  EXPECT_EQ(p[0], r) << x << "," << y;
  EXPECT_EQ(p[1], g) << x << "," << y;
  EXPECT_EQ(p[2], b) << x << "," << y;
}

RgbImage decoded(const BmpSpec& layout) {
  const std::vector<uint8_t> bytes = build(layout);
  RgbImage image;
  EXPECT_TRUE(decodeBmp(bytes.data(), bytes.size(), image));
  return image;
}

TEST(VirtscanBmpReader, PaletteDepths) {
  // Indices: bottom row 1 2 3, top row 3 2 1 (rows stored bottom-up).
  struct Case {
    uint16_t bits;
    std::vector<uint8_t> rows;
  };
  const Case cases[] = {
      {1, {0xA0, 0, 0, 0, 0x20, 0, 0, 0}},  // 1 0 1 / 0 0 1: only indices 0 and 1
      {2, {0x6C, 0, 0, 0, 0xE4, 0, 0, 0}},
      {4, {0x12, 0x30, 0, 0, 0x32, 0x10, 0, 0}},
      {8, {1, 2, 3, 0, 3, 2, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    BmpSpec layout;
    layout.bitCount = c.bits;
    layout.extra = palette(1 << c.bits > 4 ? 4 : 1 << c.bits);
    layout.pixels = c.rows;
    const RgbImage image = decoded(layout);
    ASSERT_EQ(image.width, 3u);
    ASSERT_EQ(image.height, 2u);
    EXPECT_EQ(image.dotsPerInchX, 300u);
    EXPECT_EQ(image.dotsPerInchY, 0u);
    if (c.bits == 1) {
      expectPixel(image, 0, 1, 10, 20, 30);
      expectPixel(image, 1, 1, 0, 0, 0);
      expectPixel(image, 2, 0, 10, 20, 30);
      continue;
    }
    expectPixel(image, 0, 1, 10, 20, 30);  // bottom row, index 1
    expectPixel(image, 2, 1, 30, 60, 90);  // index 3
    expectPixel(image, 0, 0, 30, 60, 90);  // top row, index 3
    expectPixel(image, 1, 0, 20, 40, 60);
  }
}

TEST(VirtscanBmpReader, IndexBeyondThePaletteIsBlack) {
  BmpSpec layout;
  layout.width = 1;
  layout.height = 1;
  layout.bitCount = 8;
  layout.extra = palette(2);
  layout.pixels = {200, 0, 0, 0};
  expectPixel(decoded(layout), 0, 0, 0, 0, 0);
}

TEST(VirtscanBmpReader, DirectColourDepthsAndTopDownRows) {
  BmpSpec layout;
  layout.width = 2;
  layout.height = -2;  // top-down
  layout.bitCount = 24;
  layout.pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  RgbImage image = decoded(layout);
  expectPixel(image, 0, 0, 3, 2, 1);
  expectPixel(image, 1, 1, 12, 11, 10);

  layout.bitCount = 32;
  layout.height = 1;
  layout.pixels = {1, 2, 3, 99, 4, 5, 6, 99};
  image = decoded(layout);
  expectPixel(image, 1, 0, 6, 5, 4);

  // 16 bits 5-5-5: full red, and half green.
  layout.bitCount = 16;
  layout.pixels = {0x00, 0x7C, 0x00, 0x02};
  image = decoded(layout);
  expectPixel(image, 0, 0, 255, 0, 0);
  expectPixel(image, 1, 0, 0, 132, 0);

  // 16 bits with 5-6-5 masks.
  layout.compression = 3;
  layout.extra = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  layout.pixels = {0xE0, 0x07, 0x1F, 0x00};
  image = decoded(layout);
  expectPixel(image, 0, 0, 0, 255, 0);
  expectPixel(image, 1, 0, 0, 0, 255);
}

TEST(VirtscanBmpReader, CoreHeaderWithThreeBytePalette) {
  BmpSpec layout;
  layout.headerSize = 12;
  layout.width = 2;
  layout.height = 1;
  layout.bitCount = 8;
  layout.extra = palette(3, 3);
  layout.pixels = {2, 1, 0, 0};
  const RgbImage image = decoded(layout);
  EXPECT_EQ(image.dotsPerInchX, 0u);
  expectPixel(image, 0, 0, 20, 40, 60);
  expectPixel(image, 1, 0, 10, 20, 30);
}

TEST(VirtscanBmpReader, RefusesFilesWhoseFieldsDoNotFit) {
  BmpSpec good;
  good.width = 2;
  good.height = 2;
  good.pixels.assign(16, 0);
  std::vector<uint8_t> bytes = build(good);
  RgbImage image;
  ASSERT_TRUE(decodeBmp(bytes.data(), bytes.size(), image));
  for (size_t cut : {size_t{0}, size_t{20}, bytes.size() - 1}) {
    EXPECT_FALSE(decodeBmp(bytes.data(), cut, image)) << cut;
  }
  auto refused = [&](BmpSpec layout) {
    const std::vector<uint8_t> b = build(layout);
    RgbImage out;
    return !decodeBmp(b.data(), b.size(), out);
  };
  BmpSpec s = good;
  s.compression = 1;  // run-length
  EXPECT_TRUE(refused(s));
  s = good;
  s.width = 0;
  EXPECT_TRUE(refused(s));
  s = good;
  s.bitCount = 7;
  EXPECT_TRUE(refused(s));
  s = good;
  s.width = 1 << 20;
  s.height = 1 << 20;  // a huge claim in a tiny file
  EXPECT_TRUE(refused(s));
  s = good;
  s.bitCount = 8;  // a palette image without room for a palette
  EXPECT_TRUE(refused(s));
  s = good;
  s.compression = 3;  // bit fields only with 16 or 32 bits
  EXPECT_TRUE(refused(s));
  bytes[0] = 'X';
  EXPECT_FALSE(decodeBmp(bytes.data(), bytes.size(), image));
}

// Headers with random bytes changed, and files cut short anywhere, decode
// cleanly or are refused; a decoded image always holds its whole size.
TEST(VirtscanBmpReader, DamagedHeadersNeverReadOutOfBounds) {
  BmpSpec palettised;
  palettised.width = 5;
  palettised.height = 3;
  palettised.bitCount = 4;
  palettised.extra = palette(16);
  palettised.pixels.assign(12, 0x5A);
  BmpSpec fields;
  fields.width = 3;
  fields.height = -2;
  fields.bitCount = 32;
  fields.compression = 3;
  fields.extra = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
  fields.pixels.assign(24, 0x33);
  std::mt19937 random(20261207);
  for (const BmpSpec& layout : {palettised, fields}) {
    const std::vector<uint8_t> original = build(layout);
    for (int round = 0; round < 3000; ++round) {
      std::vector<uint8_t> bytes = original;
      const int changes = 1 + static_cast<int>(random() % 4);
      for (int c = 0; c < changes; ++c) {
        bytes[random() % 70] = static_cast<uint8_t>(random());
      }
      const size_t size = round % 5 == 0 ? random() % bytes.size() : bytes.size();
      RgbImage image;
      if (decodeBmp(bytes.data(), size, image)) {
        ASSERT_EQ(image.rgb.size(), uint64_t{image.width} * image.height * 3);
      }
    }
  }
}

}  // namespace
