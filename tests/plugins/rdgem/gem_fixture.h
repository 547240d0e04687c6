// Shared set-up of the rdgem tests: the loaded reader and helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gem_encoder.h"
#include "reader_harness.h"
#include "winport/windows.h"

namespace gemtest {

inline const readertest::ReaderApi& Gem() {
  static readertest::ReaderApi api("rdgem.DIL");
  return api;
}

inline uint32_t DibRow(uint32_t width) {
  return static_cast<uint32_t>(DibRowBytes(width, 1));
}

class GemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(Gem().module) << "rdgem.DIL not loaded from " << testsupport::binDir();
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
  }

  const readertest::ReaderApi& api = Gem();
  uint32_t blocksBefore_ = 0;
};

// The decoded rows of a picture, each cut or padded to `stride` bytes with `fill`.
inline std::vector<std::vector<uint8_t>> ExpectedRows(const Picture& picture, uint32_t stride,
                                                      uint8_t fill = 0xA5) {
  std::vector<std::vector<uint8_t>> rows;
  for (const auto& row : picture.rows) {
    std::vector<uint8_t> expected = Complemented(row);
    expected.resize(stride, fill);
    rows.push_back(expected);
  }
  return rows;
}

}  // namespace gemtest
