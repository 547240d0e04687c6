// Cross-checks with independent tools: ImageMagick and netpbm write files of
// every colour type, depth and interlacing; netpbm's pngtopam decodes them;
// the reader must give the same pixels through its exports and through
// imagehost (PNG -> BMP with the BMP writer).
#include <cstring>
#include <string>

#include "plugin_loader.h"
#include "png_fixture.h"
#include "tool_runner.h"

namespace pngtest {
namespace {

using hosttest::Pixels;

bool HaveTools() {
  return hosttest::HaveProgram("convert") && hosttest::HaveProgram("pngtopam") &&
         hosttest::HaveProgram("pnmtopng");
}

// A binary PBM, or PGM or PPM of any maxval, as 8-bit RGB: 16-bit samples by
// their high byte, maxvals below 255 scaled (v × 255 / maxval).
Pixels ParsePnm(const Bytes& bytes) {
  if (bytes.size() > 2 && bytes[0] == 'P' && bytes[1] == '4') return hosttest::DecodePnm(bytes);
  Pixels p;
  size_t at = 0;
  auto field = [&]() {
    while (at < bytes.size() && std::isspace(bytes[at])) ++at;
    uint32_t v = 0;
    while (at < bytes.size() && std::isdigit(bytes[at])) v = v * 10 + (bytes[at++] - '0');
    return v;
  };
  if (bytes.size() < 3 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return p;
  const uint32_t channels = bytes[1] == '6' ? 3 : 1;
  at = 2;
  p.width = field();
  p.height = field();
  const uint32_t maxval = field();
  ++at;
  const uint32_t sampleBytes = maxval > 255 ? 2 : 1;
  for (uint64_t i = 0; i < uint64_t{p.width} * p.height; ++i) {
    uint8_t rgb[3];
    for (uint32_t c = 0; c < channels && at + sampleBytes <= bytes.size(); ++c, at += sampleBytes) {
      uint32_t v = bytes[at];
      rgb[c] = sampleBytes == 2 ? uint8_t(v) : uint8_t(v * 255 / maxval);
    }
    if (channels == 1) rgb[1] = rgb[2] = rgb[0];
    p.rgb.insert(p.rgb.end(), rgb, rgb + 3);
  }
  return p;
}

// The rows the reader delivers, as RGB through the DIB palette.
Pixels ToPixels(const BITMAPINFOHEADER& h, const std::vector<RGBQUAD>& palette, const Rows& rows) {
  return hosttest::DibRowsToPixels(static_cast<uint32_t>(h.biWidth),
                                   static_cast<uint32_t>(h.biHeight), h.biBitCount,
                                   reinterpret_cast<const uint8_t*>(palette.data()),
                                   palette.size(), rows);
}

struct Made {
  const char* name;
  std::vector<std::string> convertOptions;  // ImageMagick; empty: netpbm's pnmtopng
  uint32_t colours;                         // pnmtopng: colours of the source
  uint8_t colourType;
  uint8_t depth;
};

const Made kMade[] = {
    {"png-grey-1", {"-colorspace", "gray", "-depth", "1", "-define", "png:color-type=0", "-define", "png:bit-depth=1"}, 0, 0, 1},
    {"png-grey-2", {"-colorspace", "gray", "-depth", "2", "-define", "png:color-type=0", "-define", "png:bit-depth=2"}, 0, 0, 2},
    {"png-grey-4", {"-colorspace", "gray", "-depth", "4", "-define", "png:color-type=0", "-define", "png:bit-depth=4"}, 0, 0, 4},
    {"png-grey-8", {"-colorspace", "gray", "-depth", "8", "-define", "png:color-type=0", "-define", "png:bit-depth=8"}, 0, 0, 8},
    {"png-grey-16", {"-colorspace", "gray", "-depth", "16", "-define", "png:color-type=0", "-define", "png:bit-depth=16"}, 0, 0, 16},
    {"png-rgb-8", {"-depth", "8", "-define", "png:color-type=2"}, 0, 2, 8},
    {"png-rgb-16", {"-blur", "0x0.7", "-depth", "16", "-define", "png:color-type=2", "-define", "png:bit-depth=16"}, 0, 2, 16},
    {"png-palette-8", {"-colors", "200", "-define", "png:color-type=3"}, 0, 3, 8},
    {"png-greyalpha-8", {"-colorspace", "gray", "-alpha", "set", "-channel", "A", "-fx", "0.5", "-depth", "8", "-define", "png:color-type=4"}, 0, 4, 8},
    {"png-greyalpha-16", {"-colorspace", "gray", "-alpha", "set", "-channel", "A", "-fx", "0.5", "-depth", "16", "-define", "png:color-type=4"}, 0, 4, 16},
    {"png-rgba-8", {"-alpha", "set", "-channel", "A", "-fx", "0.7", "-depth", "8", "-define", "png:color-type=6"}, 0, 6, 8},
    {"png-rgba-16", {"-alpha", "set", "-channel", "A", "-fx", "0.7", "-blur", "0x0.7", "-depth", "16", "-define", "png:color-type=6", "-define", "png:bit-depth=16"}, 0, 6, 16},
    {"png-palette-1", {}, 2, 3, 1},
    {"png-palette-2", {}, 4, 3, 2},
    {"png-palette-4", {}, 16, 3, 4},
};

class ReferenceTest : public PngTest {
 protected:
  void SetUp() override {
    PngTest::SetUp();
    if (!HaveTools()) GTEST_SKIP() << "ImageMagick or netpbm missing";
    Run({"convert", "-seed", "3", "-size", "37x21", "plasma:fractal", "-depth", "8", dir.file("src.ppm")});
  }

  void Run(std::vector<std::string> argv, const std::string& out = "") {
    hosttest::ToolRun run = hosttest::RunProgram(argv, out);
    EXPECT_EQ(run.exitCode, 0) << argv[0] << ": " << run.err;
  }

  // Writes the file `made` describes; its IHDR must say what was asked for.
  std::string Make(const Made& made, bool interlaced) {
    std::string png = dir.file(std::string(made.name) + (interlaced ? "-adam7" : "") + ".png");
    if (made.convertOptions.empty()) {
      std::string few = dir.file("few.ppm");
      Run({"convert", dir.file("src.ppm"), "-colors", std::to_string(made.colours), "+dither", "-depth", "8", few});
      std::vector<std::string> argv = {"pnmtopng"};
      if (interlaced) argv.push_back("-interlace");
      argv.push_back(few);
      Run(argv, png);
    } else {
      std::vector<std::string> argv = {"convert", dir.file("src.ppm")};
      argv.insert(argv.end(), made.convertOptions.begin(), made.convertOptions.end());
      if (interlaced) argv.insert(argv.end(), {"-interlace", "PNG"});
      argv.push_back(png);
      Run(argv);
    }
    Bytes bytes = hosttest::ReadBytes(png);
    EXPECT_GE(bytes.size(), 29u);
    if (bytes.size() >= 29) {
      EXPECT_EQ(bytes[24], made.depth);
      EXPECT_EQ(bytes[25], made.colourType);
      EXPECT_EQ(bytes[28], interlaced ? 1 : 0);
    }
    return png;
  }

  Pixels Reference(const std::string& png) {
    Run({"pngtopam", png}, png + ".pnm");
    return ParsePnm(hosttest::ReadBytes(png + ".pnm"));
  }

  testsupport::TempDir dir;
};

TEST_F(ReferenceTest, FilesOfEveryKindDecodeAsPngtopamDecodesThem) {
  for (const Made& made : kMade) {
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE(testing::Message() << made.name << (interlaced ? " interlaced" : ""));
      std::string png = Make(made, interlaced);
      Pixels expected = Reference(png);
      ASSERT_EQ(expected.width, 37u);
      BITMAPINFOHEADER h{};
      std::vector<RGBQUAD> palette;
      Rows rows = ReadAll(hosttest::ReadBytes(png), &h, &palette);
      EXPECT_TRUE(ToPixels(h, palette, rows) == expected);
    }
  }
}

TEST_F(ReferenceTest, ImagehostConvertsPngToBmp) {
  for (const Made& made : {kMade[1], kMade[5], kMade[9], kMade[13]}) {
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE(testing::Message() << made.name << (interlaced ? " interlaced" : ""));
      std::string png = Make(made, interlaced);
      std::string bmp = png + ".bmp";
      hosttest::ToolRun run = hosttest::RunImagehost({"convert", png, bmp, "--quiet"});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(bmp)) == Reference(png));
    }
  }
  // A broken file fails with status 1 and a message.
  Bytes cut = hosttest::ReadBytes(Make(kMade[5], false));
  cut.resize(cut.size() - 30);
  hosttest::WriteBytes(dir.file("cut.png"), cut);
  hosttest::ToolRun run = hosttest::RunImagehost({"convert", dir.file("cut.png"), dir.file("cut.bmp"), "--quiet"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("rdpng"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace pngtest
