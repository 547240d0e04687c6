// Shared set-up of the rdpcx tests: the loaded reader, leak checks, helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "pcx_builder.h"
#include "reader_harness.h"
#include "winport/windows.h"

namespace pcxtest {

inline const readertest::ReaderApi& Pcx() {
  static readertest::ReaderApi api("rdpcx.DIL");
  return api;
}

using Rows = std::vector<Bytes>;

struct Decoded {
  BITMAPINFOHEADER header{};
  std::vector<RGBQUAD> palette;
  ImageHeaderRecord record{};
  Rows rows;  // top row first, each at the DIB row length
};

class PcxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(Pcx().module) << "rdpcx.DIL not loaded from " << testsupport::binDir();
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
  }

  // Builds the header of the current page and reads every row in one call
  // (buffer filled with 0 first).
  static Decoded ReadImage(const readertest::OpenImage& image) {
    Decoded d;
    std::vector<uint8_t> info;
    EXPECT_EQ(image.buildHead(d.record, &info), 1);
    if (info.size() < sizeof d.header) return d;
    std::memcpy(&d.header, info.data(), sizeof d.header);
    d.palette.resize((info.size() - sizeof d.header) / sizeof(RGBQUAD));
    if (!d.palette.empty()) std::memcpy(d.palette.data(), info.data() + 40, d.palette.size() * 4);
    const auto stride = static_cast<uint32_t>(DibRowBytes(d.header.biWidth, d.header.biBitCount));
    int32_t result = 0;
    d.rows = image.read(static_cast<uint32_t>(d.header.biHeight), stride, 0, nullptr, &result, 0);
    EXPECT_EQ(result, 1) << Pcx().lastError();
    return d;
  }

  Decoded ReadAll(const Bytes& file) {
    readertest::OpenImage image(api, "t.pcx", file);
    EXPECT_EQ(image.initResult, 1) << api.lastError();
    if (image.initResult != 1) return {};
    return ReadImage(image);
  }

  std::pair<int32_t, std::string> OpenResult(const Bytes& bytes) {
    readertest::OpenImage image(api, "t.pcx", bytes);
    return {image.initResult, image.initResult == 1 ? std::string() : api.lastError()};
  }

  const readertest::ReaderApi& api = Pcx();
  uint32_t blocksBefore_ = 0;
};

inline Rows ExpectedRows(const Header& header, const Picture& picture) {
  Rows rows;
  for (uint32_t y = 0; y < picture.height; ++y) rows.push_back(DibRow(header, picture, y));
  return rows;
}

inline RGBQUAD Quad(uint8_t r, uint8_t g, uint8_t b) {
  return RGBQUAD{b, g, r, 0};
}
}  // namespace pcxtest

// Found by argument lookup from gtest's comparisons (RGBQUAD is global).
inline bool operator==(const RGBQUAD& a, const RGBQUAD& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
inline std::ostream& operator<<(std::ostream& out, const RGBQUAD& q) {
  return out << "rgb(" << int(q.rgbRed) << "," << int(q.rgbGreen) << "," << int(q.rgbBlue) << ")";
}
