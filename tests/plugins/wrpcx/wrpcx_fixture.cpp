#include "wrpcx_fixture.h"

#include <random>

namespace wrpcxtest {

using testsupport::MemoryFiles;

Dib MakeDib(int32_t width, int32_t height, uint16_t bits, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint32_t colours = bits <= 8 ? 1u << bits : 0;
  Dib dib = testsupport::DibHeader(width, height, bits, 11811, 2835);
  for (uint32_t i = 0; i < colours; ++i) {
    dib.table()[i] = RGBQUAD{static_cast<uint8_t>(3 * i), static_cast<uint8_t>(2 * i), static_cast<uint8_t>(i), 0};
  }
  if (bits == 1) {  // black first
    dib.table()[0] = RGBQUAD{0, 0, 0, 0};
    dib.table()[1] = RGBQUAD{255, 255, 255, 0};
  }
  if (width <= 0 || height <= 0) return dib;
  for (int32_t y = 0; y < height; ++y) {
    Bytes row(dib.stride());
    uint8_t value = static_cast<uint8_t>(rng());
    for (uint8_t& b : row) {
      if (rng() % 3 == 0) value = static_cast<uint8_t>(rng());
      b = value;
    }
    dib.rows.push_back(row);
  }
  return dib;
}

ExportRun Writer::run(const Dib& dib, uint32_t rowsPerCall, uint32_t stride, const std::string& name) const {
  return testsupport::ExportTopFirst(*this, dib,
                                     {name, rowsPerCall, stride, -1, testsupport::RecordingFiles::table(), 100, true});
}

void WrpcxTest::SetUp() {
  testsupport::ResetWriterHarness();
  ASSERT_TRUE(writer.module) << "wrpcx.DEL not loaded from " << testsupport::binDir();
  uint32_t flags = 0;
  EXPECT_STREQ(writer.connect(0, &flags), "PCX;PC Paintbrush (*.pcx)");
  EXPECT_EQ(flags, 248u);
  blocksBefore_ = winport_test_live_global_blocks();
}

void WrpcxTest::TearDown() {
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_);
}

}  // namespace wrpcxtest
