// rdtga against independent Targa writers and readers: files written by
// netpbm's pamtotga and by ImageMagick decode, through the exports and
// through imagehost, to the pixels netpbm's tgatoppm reads from them.
// imagehost is told the reader: a plausibility answer (2) may lose the
// automatic choice to a reader that answers 1.
#include "tga_fixture.h"
#include "tool_runner.h"

namespace tgatest {
namespace {

using hosttest::Pixels;

bool HaveTools() {
  return hosttest::HaveProgram("pamtotga") && hosttest::HaveProgram("tgatoppm") &&
         hosttest::HaveProgram("convert");
}

// A colourful P6 picture with flat areas (so run-length packets form).
Bytes MakePpm(uint32_t width, uint32_t height, uint32_t colours) {
  std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  Bytes out(head.begin(), head.end());
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t c = ((x / 5) * 7 + (y / 3) * 13 + (x * y) % 3) % colours;
      out.push_back(static_cast<uint8_t>(c * 37));
      out.push_back(static_cast<uint8_t>(255 - c * 23));
      out.push_back(static_cast<uint8_t>((c * 91) % 256));
    }
  }
  return out;
}

// The rows the reader delivers, as RGB through the palette.
Pixels ReadWithRdtga(const readertest::ReaderApi& api, const Bytes& file) {
  readertest::OpenImage image(api, "x.tga", file);
  EXPECT_EQ(image.initResult, 1) << api.lastError();
  if (image.initResult != 1) return {};
  ImageHeaderRecord record{};
  Bytes info;
  EXPECT_EQ(image.buildHead(record, &info), 1);
  BITMAPINFOHEADER h{};
  std::memcpy(&h, info.data(), sizeof h);
  const auto stride = static_cast<uint32_t>(DibRowBytes(h.biWidth, h.biBitCount));
  Rows rows = image.readInBlocks(static_cast<uint32_t>(h.biHeight), 9, stride);
  return hosttest::DibRowsToPixels(static_cast<uint32_t>(h.biWidth),
                                   static_cast<uint32_t>(h.biHeight), h.biBitCount,
                                   info.data() + 40,
                                   info.size() > 40 ? (info.size() - 40) / 4 : 0, rows);
}

class NetpbmTest : public TgaTest {
 protected:
  void SetUp() override {
    TgaTest::SetUp();
    if (!HaveTools()) GTEST_SKIP() << "netpbm or ImageMagick not installed";
  }

  void Run(const std::vector<std::string>& argv, const std::string& out) {
    hosttest::ToolRun run = hosttest::RunProgram(argv, out);
    ASSERT_EQ(run.exitCode, 0) << argv[0] << ": " << run.err;
  }

  // Checks one file three ways: tgatoppm, our exports, imagehost to BMP.
  void Check(const std::string& tga) {
    SCOPED_TRACE(tga);
    Run({"tgatoppm", tga}, dir.file("ref.ppm"));
    CheckAgainst(tga, hosttest::DecodePnm(hosttest::ReadBytes(dir.file("ref.ppm"))));
  }

  // Our exports and imagehost to BMP against a reference picture.
  void CheckAgainst(const std::string& tga, const Pixels& reference) {
    ASSERT_GT(reference.width, 0u);
    EXPECT_TRUE(ReadWithRdtga(api, hosttest::ReadBytes(tga)) == reference);
    hosttest::ToolRun run = hosttest::RunImagehost({"convert", tga, dir.file("out.bmp"), "--quiet", "--rows", "5"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("out.bmp"))) == reference);
  }

  testsupport::TempDir dir;
};

TEST_F(NetpbmTest, FilesWrittenByPamtotga) {
  hosttest::WriteBytes(dir.file("in.ppm"), MakePpm(131, 43, 40));
  int n = 0;
  for (std::vector<std::string> options : {std::vector<std::string>{"-rgb", "-norle"},
                                           {"-rgb"},
                                           {"-cmap", "-norle"},
                                           {"-cmap"}}) {
    std::string out = dir.file("p" + std::to_string(n++) + ".tga");
    options.insert(options.begin(), "pamtotga");
    options.push_back(dir.file("in.ppm"));
    Run(options, out);
    Check(out);
  }
  Run({"ppmtopgm", dir.file("in.ppm")}, dir.file("in.pgm"));
  for (const char* rle : {"-norle", "-verbose"}) {
    Run({"pamtotga", "-mono", rle, dir.file("in.pgm")}, dir.file("grey.tga"));
    Check(dir.file("grey.tga"));
  }
}

TEST_F(NetpbmTest, FilesWrittenByImageMagick) {
  hosttest::WriteBytes(dir.file("in.ppm"), MakePpm(77, 120, 200));
  const std::vector<std::vector<std::string>> variants = {
      {"-compress", "None"},
      {"-compress", "RLE"},
      {"-compress", "RLE", "-type", "Palette"},
      {"-compress", "None", "-type", "Palette"},
      {"-compress", "RLE", "-alpha", "on", "-type", "TrueColorAlpha"},
  };
  int n = 0;
  for (const auto& variant : variants) {
    std::vector<std::string> argv = {"convert", dir.file("in.ppm")};
    argv.insert(argv.end(), variant.begin(), variant.end());
    std::string out = dir.file("m" + std::to_string(n++) + ".tga");
    argv.push_back(out);
    Run(argv, "");
    Check(out);
  }
}

// Rows stored right to left (descriptor bit 4): ImageMagick writes the flag
// with -orient, keeping its pixels in stored order, and shows the picture the
// flag means with -auto-orient (tgatoppm ignores the bit).
TEST_F(NetpbmTest, RightToLeftFilesWrittenByImageMagick) {
  hosttest::WriteBytes(dir.file("in.ppm"), MakePpm(53, 31, 60));
  int n = 0;
  for (const char* orient : {"TopRight", "BottomRight"}) {
    for (const char* compress : {"None", "RLE"}) {
      for (const char* type : {"TrueColor", "Grayscale"}) {
        SCOPED_TRACE(testing::Message() << orient << " " << compress << " " << type);
        std::string out = dir.file("r" + std::to_string(n++) + ".tga");
        Run({"convert", dir.file("in.ppm"), "-type", type, "-orient", orient, "-compress", compress, out}, "");
        ASSERT_EQ(hosttest::ReadBytes(out).at(17) & 0x10, 0x10);
        Run({"convert", out, "-auto-orient", "ppm:" + dir.file("ref.ppm")}, "");
        CheckAgainst(out, hosttest::DecodePnm(hosttest::ReadBytes(dir.file("ref.ppm"))));
      }
    }
  }
}

TEST_F(NetpbmTest, ImagehostReportsTheHeaderAndFailures) {
  hosttest::WriteBytes(dir.file("in.ppm"), MakePpm(20, 10, 5));
  Run({"pamtotga", "-rgb", dir.file("in.ppm")}, dir.file("a.tga"));
  hosttest::ToolRun info = hosttest::RunImagehost({"info", dir.file("a.tga")});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("rdtga.DIL width=20 height=10 bits=24"), std::string::npos) << info.out;
  Bytes broken = hosttest::ReadBytes(dir.file("a.tga"));
  broken[16] = 12;  // a pixel depth the reader does not convert
  hosttest::WriteBytes(dir.file("b.tga"), broken);
  hosttest::ToolRun run = hosttest::RunImagehost({"convert", dir.file("b.tga"), dir.file("b.bmp"), "--quiet"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Unsupported Targa version in file."), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tgatest
