// BMP files of every depth (made by ImageMagick) converted to PCX through
// build/bin/imagehost: netpbm's pcxtoppm and ImageMagick see the BMP's
// pixels, and rdpcx reads them back unchanged.
#include <random>

#include "tool_runner.h"
#include "wrpcx_fixture.h"

namespace wrpcxtest {
namespace {

using hosttest::Pixels;

Pixels Decode(const std::vector<std::string>& argv, const std::string& out) {
  EXPECT_EQ(hosttest::RunProgram(argv, out).exitCode, 0) << argv[0];
  return hosttest::DecodePnm(hosttest::ReadBytes(out));
}

TEST(WrpcxCrossCheck, EveryDepthThroughImagehost) {
  if (!hosttest::HaveProgram("pcxtoppm") || !hosttest::HaveProgram("convert")) {
    GTEST_SKIP() << "netpbm or ImageMagick not installed";
  }
  testsupport::TempDir dir;
  struct Case {
    const char* type;  // ImageMagick -type
    uint32_t colours;
    uint32_t bits;     // of the BMP ImageMagick makes
  };
  const Case cases[] = {{"bilevel", 2, 1}, {"palette", 16, 4}, {"palette", 200, 8}, {"truecolor", 0, 24}};
  uint32_t seed = 3;
  for (const Case& c : cases) {
    for (auto [width, height] : {std::pair{37u, 19u}, std::pair{1u, 300u}, std::pair{130u, 3u}}) {
      SCOPED_TRACE(testing::Message() << c.bits << " bits " << width << "x" << height);
      // A noisy picture with `colours` colours.
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
      ASSERT_EQ(hosttest::RunProgram({"convert", dir.file("in.ppm"), "-type", c.type, "-compress", "none", "BMP3:" + bmp}).exitCode, 0);
      ASSERT_EQ(hosttest::ReadBytes(bmp)[28], c.bits) << "ImageMagick chose another depth";
      const std::string pcx = dir.file("out.pcx");
      hosttest::ToolRun run = hosttest::RunImagehost({"--quiet", "convert", bmp, pcx});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      const Pixels original = Decode({"convert", bmp, "-depth", "8", "ppm:-"}, dir.file("a.ppm"));
      EXPECT_TRUE(Decode({"pcxtoppm", pcx}, dir.file("b.ppm")) == original) << "pcxtoppm";
      if (c.bits != 1) {  // ImageMagick shows a 1-bit file by its (empty) header palette
        EXPECT_TRUE(Decode({"convert", pcx, "-depth", "8", "ppm:-"}, dir.file("c.ppm")) == original)
            << "ImageMagick";
      }
      ASSERT_EQ(hosttest::RunImagehost({"--quiet", "convert", pcx, dir.file("back.bmp")}).exitCode, 0);
      EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("back.bmp"))) == original) << "rdpcx";
    }
  }
}

}  // namespace
}  // namespace wrpcxtest
