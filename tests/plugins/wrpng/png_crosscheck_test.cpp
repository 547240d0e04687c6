// BMP files of every depth (made by ImageMagick) converted to PNG through
// build/bin/imagehost: pngcheck finds the files valid, ImageMagick sees the
// BMP's pixels, and rdpng reads them back unchanged.
#include "writer_crosscheck.h"
#include "wrpng_harness.h"

namespace wrpngtest {
namespace {

TEST(WrpngCrossCheck, EveryDepthThroughImagehost) {
  if (!hosttest::HaveProgram("pngcheck") || !hosttest::HaveProgram("convert"))
    GTEST_SKIP() << "pngcheck or ImageMagick not installed";
  testsupport::ConvertEveryDepth("png", 11, "rdpng", [](const testsupport::Conversion& c) {
    hosttest::ToolRun check = hosttest::RunProgram({"pngcheck", "-q", c.made});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_TRUE(testsupport::DecodeWith({"convert", c.made, "-depth", "8", "ppm:-"}, c.dir.file("b.ppm")) ==
                c.original)
        << "ImageMagick";
  });
}

// The option reaches the writer through imagehost: level 0 stores the rows.
TEST(WrpngCrossCheck, CompressionOptionThroughImagehost) {
  testsupport::TempDir dir;
  const std::string bmp = hosttest::Sample("bmp-rgb-24.bmp");
  if (!hosttest::Exists(bmp)) GTEST_SKIP() << "no sample " << bmp;
  ASSERT_EQ(hosttest::RunImagehost({"--quiet", "convert", bmp, dir.file("six.png")}).exitCode, 0);
  ASSERT_EQ(hosttest::RunImagehost({"--quiet", "-O", "PNG_COMPRESSION=0", "convert", bmp, dir.file("zero.png")}).exitCode, 0);
  EXPECT_GT(hosttest::ReadBytes(dir.file("zero.png")).size(), hosttest::ReadBytes(dir.file("six.png")).size());
}

}  // namespace
}  // namespace wrpngtest
