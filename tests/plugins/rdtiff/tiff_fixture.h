// Shared set-up of the rdtiff tests: the loaded reader, leak checks, helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader_harness.h"
#include "tiff_builder.h"
#include "winport/windows.h"

namespace tifftest {

inline const readertest::ReaderApi& Tiff() {
  static readertest::ReaderApi api("rdtiff.DIL");
  return api;
}

using Rows = std::vector<std::vector<uint8_t>>;

class TiffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(Tiff().module) << "rdtiff.DIL not loaded from " << testsupport::binDir();
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
  }

  // Opens `bytes`, builds the header and reads every row at the DIB row length.
  Rows ReadAll(const std::vector<uint8_t>& bytes, BITMAPINFOHEADER* header = nullptr,
               std::vector<RGBQUAD>* palette = nullptr) {
    readertest::OpenImage image(api, "t.tif", bytes);
    EXPECT_EQ(image.initResult, 1) << api.lastError();
    if (image.initResult != 1) return {};
    ImageHeaderRecord record{};
    std::vector<uint8_t> info;
    EXPECT_EQ(image.buildHead(record, &info), 1);
    BITMAPINFOHEADER h{};
    std::memcpy(&h, info.data(), sizeof h);
    if (header != nullptr) *header = h;
    if (palette != nullptr && h.biClrUsed > 0) {
      palette->resize(h.biClrUsed);
      std::memcpy(palette->data(), info.data() + sizeof h, h.biClrUsed * sizeof(RGBQUAD));
    }
    uint32_t stride = static_cast<uint32_t>(DibRowBytes(h.biWidth, h.biBitCount));
    int32_t result = 0;
    Rows rows = image.read(static_cast<uint32_t>(h.biHeight), stride, 0, nullptr, &result);
    EXPECT_EQ(result, 1) << api.lastError();
    return rows;
  }

  // OVDLinit_image's result and the error text it left.
  std::pair<int32_t, std::string> OpenResult(const std::vector<uint8_t>& bytes) {
    readertest::OpenImage image(api, "t.tif", bytes);
    return {image.initResult, image.initResult == 1 ? std::string() : api.lastError()};
  }

  const readertest::ReaderApi& api = Tiff();
  uint32_t blocksBefore_ = 0;
};

// `row` padded to `stride` bytes with the buffer's fill (bytes beyond a
// decoded row keep what the buffer held).
inline std::vector<uint8_t> Padded(std::vector<uint8_t> row, uint32_t stride) {
  row.resize(stride, 0xA5);
  return row;
}

}  // namespace tifftest
