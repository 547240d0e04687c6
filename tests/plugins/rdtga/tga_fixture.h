// Shared set-up of the rdtga tests: the loaded reader, leak checks, helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "reader_harness.h"
#include "tga_builder.h"
#include "winport/windows.h"

namespace tgatest {

inline const readertest::ReaderApi& Tga() {
  static readertest::ReaderApi api("rdtga.DIL");
  return api;
}

using Rows = std::vector<Bytes>;

class TgaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(Tga().module) << "rdtga.DIL not loaded from " << testsupport::binDir();
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
  }

  // The header block (BITMAPINFOHEADER and palette) of an open image.
  static Bytes HeaderOf(const readertest::OpenImage& image, ImageHeaderRecord* record = nullptr) {
    ImageHeaderRecord r = record != nullptr ? *record : ImageHeaderRecord{};
    Bytes info;
    EXPECT_EQ(image.buildHead(r, &info), 1);
    if (record != nullptr) *record = r;
    return info;
  }

  // Opens `bytes` and reads every row at the DIB row length in one call.
  Rows ReadAll(const Bytes& bytes, uint32_t bits = 24) {
    readertest::OpenImage image(api, "t.tga", bytes);
    EXPECT_EQ(image.initResult, 1) << api.lastError();
    if (image.initResult != 1) return {};
    Bytes info = HeaderOf(image);
    BITMAPINFOHEADER h{};
    std::memcpy(&h, info.data(), sizeof h);
    EXPECT_EQ(h.biBitCount, bits);
    int32_t result = 0;
    Rows rows = image.read(static_cast<uint32_t>(h.biHeight),
                           static_cast<uint32_t>(DibRowBytes(h.biWidth, h.biBitCount)), 0, nullptr, &result);
    EXPECT_EQ(result, 1) << api.lastError();
    return rows;
  }

  const readertest::ReaderApi& api = Tga();
  uint32_t blocksBefore_ = 0;
};

// The rows the reader should deliver for `picture`, padded to `stride` with the buffer's fill.
inline Rows Expected(const TgaPicture& picture, uint32_t stride, uint8_t fill = 0xA5) {
  Rows rows;
  for (const Bytes& row : picture.rows) {
    Bytes dib = DibRow(row, picture.depth, picture.grey);
    dib.resize(stride, fill);
    rows.push_back(dib);
  }
  return rows;
}

inline uint32_t Stride(const TgaPicture& picture) {
  uint32_t bits = picture.depth == 1 ? 1 : (picture.depth <= 8 || picture.grey ? 8 : 24);
  return static_cast<uint32_t>(DibRowBytes(picture.width, bits));
}

}  // namespace tgatest
