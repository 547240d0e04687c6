// BMP files of every depth (made by ImageMagick) converted to PNG through
// build/bin/imagehost: pngcheck finds the files valid, ImageMagick sees the
// BMP's pixels, and rdpng reads them back unchanged.
#include <random>

#include "tool_runner.h"
#include "wrpng_harness.h"

namespace wrpngtest {
namespace {

using hosttest::Pixels;

Pixels Decode(const std::vector<std::string>& argv, const std::string& out) {
  EXPECT_EQ(hosttest::RunProgram(argv, out).exitCode, 0) << argv[0];
  return hosttest::DecodePnm(hosttest::ReadBytes(out));
}

TEST(WrpngCrossCheck, EveryDepthThroughImagehost) {
  if (!hosttest::HaveProgram("pngcheck") || !hosttest::HaveProgram("convert"))
    GTEST_SKIP() << "pngcheck or ImageMagick not installed";
  testsupport::TempDir dir;
  struct Case {
    const char* type;  // ImageMagick -type
    uint32_t colours;
    uint32_t bits;     // of the BMP ImageMagick makes
  };
  const Case cases[] = {{"bilevel", 2, 1}, {"palette", 16, 4}, {"palette", 200, 8}, {"truecolor", 0, 24}};
  uint32_t seed = 11;
  for (const Case& c : cases) {
    for (auto [width, height] : {std::pair{37u, 19u}, std::pair{1u, 300u}, std::pair{130u, 3u}}) {
      SCOPED_TRACE(testing::Message() << c.type << " " << c.bits << " bits " << width << "x" << height);
      std::mt19937 rng(seed++);
      std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
      Bytes ppm(head.begin(), head.end());
      for (uint32_t i = 0; i < width * height; ++i) {
        const uint32_t k = c.colours == 0 ? rng() : rng() % c.colours;
        for (int ch = 0; ch < 3; ++ch) {
          ppm.push_back(c.colours == 2 ? static_cast<uint8_t>(k * 255)
                                       : static_cast<uint8_t>(c.colours == 0 ? k >> (8 * ch) : k * (37 + 50 * ch)));
        }
      }
      hosttest::WriteBytes(dir.file("in.ppm"), ppm);
      const std::string bmp = dir.file("in.bmp");
      ASSERT_EQ(hosttest::RunProgram({"convert", dir.file("in.ppm"), "-type", c.type, "-compress", "none",
                                      "BMP3:" + bmp}).exitCode, 0);
      ASSERT_EQ(hosttest::ReadBytes(bmp)[28], c.bits) << "ImageMagick chose another depth";
      const std::string png = dir.file("out.png");
      hosttest::ToolRun run = hosttest::RunImagehost({"--quiet", "convert", bmp, png});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      hosttest::ToolRun check = hosttest::RunProgram({"pngcheck", "-q", png});
      EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
      const Pixels original = Decode({"convert", bmp, "-depth", "8", "ppm:-"}, dir.file("a.ppm"));
      EXPECT_TRUE(Decode({"convert", png, "-depth", "8", "ppm:-"}, dir.file("b.ppm")) == original)
          << "ImageMagick";
      ASSERT_EQ(hosttest::RunImagehost({"--quiet", "convert", png, dir.file("back.bmp")}).exitCode, 0);
      EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("back.bmp"))) == original) << "rdpng";
    }
  }
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
