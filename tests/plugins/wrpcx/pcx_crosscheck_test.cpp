// BMP files of every depth (made by ImageMagick) converted to PCX through
// build/bin/imagehost: netpbm's pcxtoppm and ImageMagick see the BMP's
// pixels, and rdpcx reads them back unchanged.
#include "writer_crosscheck.h"
#include "wrpcx_fixture.h"

namespace wrpcxtest {
namespace {

using testsupport::DecodeWith;

TEST(WrpcxCrossCheck, EveryDepthThroughImagehost) {
  if (!hosttest::HaveProgram("pcxtoppm") || !hosttest::HaveProgram("convert")) {
    GTEST_SKIP() << "netpbm or ImageMagick not installed";
  }
  testsupport::ConvertEveryDepth("pcx", 3, "rdpcx", [](const testsupport::Conversion& c) {
    EXPECT_TRUE(DecodeWith({"pcxtoppm", c.made}, c.dir.file("b.ppm")) == c.original) << "pcxtoppm";
    if (c.bits != 1) {  // ImageMagick shows a 1-bit file by its (empty) header palette
      EXPECT_TRUE(DecodeWith({"convert", c.made, "-depth", "8", "ppm:-"}, c.dir.file("c.ppm")) == c.original)
          << "ImageMagick";
    }
  });
}

}  // namespace
}  // namespace wrpcxtest
