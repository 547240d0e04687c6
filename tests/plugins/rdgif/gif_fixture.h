// Shared set-up of the rdgif tests: the loaded reader, leak checks, helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gif_builder.h"
#include "reader_harness.h"
#include "winport/windows.h"

namespace giftest {

inline const readertest::ReaderApi& Gif() {
  static readertest::ReaderApi api("rdgif.DIL");
  return api;
}

using Rows = std::vector<Bytes>;

class GifTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(Gif().module) << "rdgif.DIL not loaded from " << testsupport::binDir();
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
  }

  static Bytes HeaderOf(const readertest::OpenImage& image) {
    ImageHeaderRecord r{};
    Bytes info;
    EXPECT_EQ(image.buildHead(r, &info), 1);
    return info;
  }

  const readertest::ReaderApi& api = Gif();
  uint32_t blocksBefore_ = 0;
};

// The DIB rows of `picture` at `bits` per pixel, padded to `stride` with `fill`.
inline Rows Expected(const GifPicture& picture, uint32_t bits, uint32_t stride, uint8_t fill = 0xA5) {
  Rows rows;
  for (uint32_t y = 0; y < picture.height; ++y) {
    Bytes row(stride, fill);
    for (uint32_t x = 0; x < picture.width; ++x) {
      const uint8_t v = picture.pixels[y * picture.width + x];
      const uint32_t bit = x * bits;
      if (bits == 8) {
        row[x] = v;
        continue;
      }
      if (bit % 8 == 0) row[bit / 8] = 0;  // a byte the row starts fills whole
      row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (v << (8 - bits - bit % 8)));
    }
    if (bits < 8 && picture.width * bits % 8 != 0) {  // the last byte's unused bits keep the fill
      const uint32_t used = picture.width * bits % 8;
      uint8_t& last = row[picture.width * bits / 8];
      last = static_cast<uint8_t>((last & ~(0xFF >> used)) | (fill & (0xFF >> used)));
    }
    rows.push_back(row);
  }
  return rows;
}

inline uint32_t Stride(const GifPicture& picture, uint32_t bits) {
  return static_cast<uint32_t>(DibRowBytes(picture.width, bits));
}

}  // namespace giftest
