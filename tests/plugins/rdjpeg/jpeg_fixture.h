// Shared set-up of the rdjpeg tests: the loaded reader, pictures encoded by
// libjpeg-turbo's cjpeg, reference pixels from its djpeg, a segment editor for
// building malformed streams, and whole-image reads through the exports.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_loader.h"
#include "reader_harness.h"
#include "tool_runner.h"
#include "winport/windows.h"

namespace jpegtest {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<std::vector<uint8_t>>;
using hosttest::Pixels;

inline const readertest::ReaderApi& Jpeg() {
  static readertest::ReaderApi api("rdjpeg.DIL");
  return api;
}

// A synthetic RGB picture: gradients, a checkerboard with noise, hard edges.
Pixels MakePicture(uint32_t width, uint32_t height, uint32_t seed);
Bytes EncodePpm(const Pixels& picture);

bool HaveTools();
// cjpeg with `options` on the picture (as a PPM); the JPEG stream.
Bytes Cjpeg(const Pixels& picture, const std::vector<std::string>& options);
// ImageMagick's CMYK JPEG of a small picture: four components, Adobe transform 2 (YCCK).
Bytes FourComponentJpeg();
// jpegtran with `options` on a stream.
Bytes Jpegtran(const Bytes& jpeg, const std::vector<std::string>& options);
// djpeg's decode with replicated chroma and the accurate integer IDCT, as RGB.
Pixels Djpeg(const Bytes& jpeg);

// A stream split into its segments up to and including SOS, and the rest
// (entropy-coded data and what follows).
struct Segment {
  uint8_t code;
  Bytes body;
};
struct JpegStream {
  std::vector<Segment> segments;
  Bytes scan;

  static JpegStream Parse(const Bytes& jpeg);
  Bytes bytes() const;
  // Index of the first segment with `code`, or −1.
  int find(uint8_t code) const;
  void remove(uint8_t code);
  void insertBefore(uint8_t code, Segment segment);
};

// Big-endian 16-bit value as two bytes.
inline Bytes Be16(uint32_t value) {
  return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

// The whole image read through the exports, in calls of `block` rows (0 = one call).
struct Decoded {
  int32_t initResult = 0;
  int32_t result = 0;
  std::string error;
  BITMAPINFOHEADER header{};
  std::vector<RGBQUAD> palette;
  Rows rows;  // DIB rows, top row first
};
Decoded ReadAll(const Bytes& jpeg, uint32_t block = 0);
// Rows as RGB (grey through the palette).
Pixels ToPixels(const Decoded& decoded);

struct Difference {
  int max = 0;
  double mean = 0;
};
// Per-sample difference; fails the test when the sizes differ.
Difference Compare(const Pixels& a, const Pixels& b);

class JpegTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(Jpeg().module) << "rdjpeg.DIL not loaded from " << testsupport::binDir();
    if (!HaveTools()) GTEST_SKIP() << "libjpeg-turbo-progs (cjpeg, djpeg, jpegtran) missing";
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    testsupport::MemoryFiles::instance().readFailsAfterBytes = -1;
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
  }

  // init on `bytes`: the result and the error text (the image is closed again).
  std::pair<int32_t, std::string> OpenResult(const Bytes& bytes);

  const readertest::ReaderApi& api = Jpeg();
  uint32_t blocksBefore_ = 0;
};

}  // namespace jpegtest
