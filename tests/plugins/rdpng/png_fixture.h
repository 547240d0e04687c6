// Shared set-up of the rdpng tests: the loaded reader, leak checks, the DIB
// rows a picture should give, and reading a whole file through the exports.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "png_builder.h"
#include "reader_harness.h"
#include "winport/windows.h"

namespace pngtest {

inline const readertest::ReaderApi& Png() {
  static readertest::ReaderApi api("rdpng.DIL");
  return api;
}

using Rows = std::vector<std::vector<uint8_t>>;

// The DIB depth a picture is delivered at.
inline uint32_t DibBits(const Picture& p) {
  if (p.colourType == 2 || p.colourType == 6) return 24;
  if (p.colourType == 4 || p.depth >= 8) return 8;
  return p.depth == 1 ? 1 : 4;
}

inline uint32_t Stride(const Picture& p) {
  return static_cast<uint32_t>(DibRowBytes(p.width, DibBits(p)));
}

// The rows the reader should deliver, top row first: each pixel in DIB form
// (16-bit samples by their high byte, alpha dropped, 24-bit as blue, green,
// red), the row padded to `stride` with `fill` past its last pixel byte.
inline Rows ExpectedRows(const Picture& p, uint32_t stride, uint8_t fill = 0xA5) {
  const uint32_t bits = DibBits(p);
  const uint32_t shift = p.depth == 16 ? 8 : 0;
  Rows rows;
  for (uint32_t y = 0; y < p.height; ++y) {
    std::vector<uint8_t> row((static_cast<uint64_t>(p.width) * bits + 7) / 8, 0);
    for (uint32_t x = 0; x < p.width; ++x) {
      if (bits == 24) {
        for (uint32_t c = 0; c < 3; ++c) row[3 * x + 2 - c] = uint8_t(Sample(p, x, y, c) >> shift);
      } else if (bits == 8) {
        row[x] = uint8_t(Sample(p, x, y, 0) >> shift);
      } else {
        uint32_t bit = x * bits;
        row[bit / 8] = uint8_t(row[bit / 8] | Sample(p, x, y, 0) << (8 - bits - bit % 8));
      }
    }
    row.resize(stride, fill);
    rows.push_back(row);
  }
  return rows;
}

class PngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(Png().module) << "rdpng.DIL not loaded from " << testsupport::binDir();
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    testsupport::MemoryFiles::instance().readFailsAfterBytes = -1;
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
  }

  // Opens `bytes`, builds the header and reads every row at the DIB row
  // length in one call; `result` receives the read's result.
  Rows ReadAll(const Bytes& bytes, BITMAPINFOHEADER* header = nullptr,
               std::vector<RGBQUAD>* palette = nullptr, int32_t* result = nullptr) {
    readertest::OpenImage image(api, "t.png", bytes);
    EXPECT_EQ(image.initResult, 1) << api.lastError();
    if (image.initResult != 1) return {};
    ImageHeaderRecord record{};
    std::vector<uint8_t> info;
    EXPECT_EQ(image.buildHead(record, &info), 1);
    BITMAPINFOHEADER h{};
    std::memcpy(&h, info.data(), sizeof h);
    if (header != nullptr) *header = h;
    if (palette != nullptr) {
      palette->resize(h.biClrUsed);
      if (h.biClrUsed > 0) std::memcpy(palette->data(), info.data() + sizeof h, h.biClrUsed * sizeof(RGBQUAD));
    }
    uint32_t stride = static_cast<uint32_t>(DibRowBytes(h.biWidth, h.biBitCount));
    int32_t r = 0;
    Rows rows = image.read(static_cast<uint32_t>(h.biHeight), stride, 0, nullptr, &r);
    if (result != nullptr) {
      *result = r;
    } else {
      EXPECT_EQ(r, 1) << api.lastError();
    }
    return rows;
  }

  // OVDLinit_image's result and the error text it left.
  std::pair<int32_t, std::string> OpenResult(const Bytes& bytes) {
    readertest::OpenImage image(api, "t.png", bytes);
    return {image.initResult, image.initResult == 1 ? std::string() : api.lastError()};
  }

  const readertest::ReaderApi& api = Png();
  uint32_t blocksBefore_ = 0;
};

}  // namespace pngtest
