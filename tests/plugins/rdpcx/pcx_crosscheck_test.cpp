// Files made by independent PCX/DCX writers (netpbm's ppmtopcx, ImageMagick)
// read through build/bin/imagehost into BMP files, which must show the pixels
// the independent decoders (pcxtoppm, ImageMagick) see.
#include <random>

#include "pcx_fixture.h"
#include "tool_runner.h"

namespace pcxtest {
namespace {

using hosttest::Pixels;

// A PPM with `colours` distinct colours in blocks and stripes.
Bytes MakePpm(uint32_t width, uint32_t height, uint32_t colours, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> palette(colours);
  for (uint32_t& c : palette) c = rng() & 0xFFFFFF;
  std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  Bytes out(head.begin(), head.end());
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t c = palette[((x / 3) * 7 + (y / 2) * 3 + (x * y) % 5) % colours];
      out.push_back(static_cast<uint8_t>(c >> 16));
      out.push_back(static_cast<uint8_t>(c >> 8));
      out.push_back(static_cast<uint8_t>(c));
    }
  }
  return out;
}

class PcxCrossCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!hosttest::HaveProgram("ppmtopcx") || !hosttest::HaveProgram("pcxtoppm") ||
        !hosttest::HaveProgram("convert")) {
      GTEST_SKIP() << "netpbm or ImageMagick not installed";
    }
  }

  // Our reading of page `page` of `file`, through imagehost into a BMP.
  Pixels ThroughImagehost(const std::string& file, int page = 0) {
    const std::string bmp = dir.file("out.bmp");
    hosttest::ToolRun run = hosttest::RunImagehost(
        {"--quiet", "--page", std::to_string(page), "convert", file, bmp});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    if (run.exitCode != 0) return {};
    return hosttest::DecodeBmp(hosttest::ReadBytes(bmp));
  }
  Pixels WithPcxtoppm(const std::string& file) {
    const std::string ppm = dir.file("ref.ppm");
    EXPECT_EQ(hosttest::RunProgram({"pcxtoppm", file}, ppm).exitCode, 0);
    return hosttest::DecodePnm(hosttest::ReadBytes(ppm));
  }
  Pixels WithImageMagick(const std::string& file, int page) {
    const std::string ppm = dir.file("im.ppm");
    EXPECT_EQ(hosttest::RunProgram({"convert", file + "[" + std::to_string(page) + "]", "-depth", "8",
                                    "ppm:" + ppm}).exitCode, 0);
    return hosttest::DecodePnm(hosttest::ReadBytes(ppm));
  }
  std::string Ppm(uint32_t width, uint32_t height, uint32_t colours, uint32_t seed) {
    const std::string path = dir.file("in" + std::to_string(seed) + ".ppm");
    hosttest::WriteBytes(path, MakePpm(width, height, colours, seed));
    return path;
  }

  std::string Pbm(uint32_t width, uint32_t height, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bits(static_cast<size_t>((width + 7) / 8) * height);
    for (uint8_t& b : bits) b = static_cast<uint8_t>(rng());
    const std::string path = dir.file("in" + std::to_string(seed) + ".pbm");
    hosttest::WriteBytes(path, hosttest::EncodePbm(width, height, bits));
    return path;
  }

  testsupport::TempDir dir;
};

// ppmtopcx's layouts: planar 1-bit planes for up to 16 colours, packed
// pixels of 1, 2 or 4 bits, 8-bit with the palette at the end, 24-bit planes.
TEST_F(PcxCrossCheck, NetpbmFilesReadAsPcxtoppmReadsThem) {
  struct Case {
    std::vector<std::string> options;
    uint32_t colours;
  };
  // 0 colours: a PBM (ppmtopcx gives a colour 2-colour image a header
  // palette, which a 1-bit file's black and white overrule).
  const Case cases[] = {
      {{}, 0},          {{}, 4},         {{}, 8},  {{}, 16},         {{"-packed"}, 4},
      {{"-packed"}, 16}, {{"-8bit"}, 200}, {{"-24bit"}, 16}, {{"-planes", "3"}, 6},
  };
  uint32_t seed = 1;
  for (const Case& c : cases) {
    for (auto [width, height] : {std::pair{37u, 23u}, std::pair{64u, 5u}, std::pair{1u, 9u}}) {
      std::vector<std::string> argv{"ppmtopcx"};
      argv.insert(argv.end(), c.options.begin(), c.options.end());
      argv.push_back(c.colours == 0 ? Pbm(width, height, seed++) : Ppm(width, height, c.colours, seed++));
      const std::string pcx = dir.file("n.pcx");
      ASSERT_EQ(hosttest::RunProgram(argv, pcx).exitCode, 0);
      Pixels ours = ThroughImagehost(pcx);
      Pixels reference = WithPcxtoppm(pcx);
      ASSERT_GT(reference.width, 0u);
      // A 1-bit file shows black and white, as pcxtoppm shows it.
      EXPECT_TRUE(ours == reference) << argv[1] << " " << c.colours << " colours, " << width << "x" << height;
    }
  }
}

// ImageMagick's PCX (24-bit and 8-bit) and a DCX of three differing pages.
TEST_F(PcxCrossCheck, ImageMagickFilesAndDcxPages) {
  const std::string a = Ppm(45, 17, 300, 50);
  const std::string b = Ppm(8, 30, 40, 51);
  const std::string c = Ppm(101, 3, 12, 52);
  const std::string truecolour = dir.file("t.pcx");
  const std::string palette = dir.file("p.pcx");
  const std::string dcx = dir.file("m.dcx");
  ASSERT_EQ(hosttest::RunProgram({"convert", a, truecolour}).exitCode, 0);
  ASSERT_EQ(hosttest::RunProgram({"convert", b, "-type", "palette", palette}).exitCode, 0);
  ASSERT_EQ(hosttest::RunProgram({"convert", a, palette, c, dcx}).exitCode, 0);
  EXPECT_TRUE(ThroughImagehost(truecolour) == WithImageMagick(truecolour, 0));
  EXPECT_TRUE(ThroughImagehost(palette) == WithImageMagick(palette, 0));
  hosttest::ToolRun info = hosttest::RunImagehost({"info", dcx});
  EXPECT_NE(info.out.find("pages=3"), std::string::npos) << info.out;
  for (int page = 0; page < 3; ++page) {
    Pixels ours = ThroughImagehost(dcx, page);
    EXPECT_GT(ours.width, 0u);
    EXPECT_TRUE(ours == WithImageMagick(dcx, page)) << "page " << page;
  }
  // A page beyond the last: the tool fails with a message.
  hosttest::ToolRun beyond = hosttest::RunImagehost({"--quiet", "--page", "3", "convert", dcx, dir.file("x.bmp")});
  EXPECT_EQ(beyond.exitCode, 1);
  EXPECT_FALSE(beyond.err.empty());
}

}  // namespace
}  // namespace pcxtest
