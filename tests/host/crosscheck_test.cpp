// Cross-checks with independent tools: GEM files made by netpbm's pbmtogem
// (and our samples) decode through imagehost to the pixels gemtopnm gives, and BMP files made by
// ImageMagick survive a BMP → BMP conversion, as ImageMagick itself reads them.
#include <gtest/gtest.h>

#include <random>

#include "plugin_loader.h"
#include "samples/sample_images.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

// Runs `argv` with its stdout in `outFile`; fails the test unless it exits 0.
void MustRun(const std::vector<std::string>& argv, const std::string& outFile = "") {
  ToolRun run = RunProgram(argv, outFile);
  ASSERT_EQ(run.exitCode, 0) << argv[0] << ": " << run.err;
}

Pixels ImageMagickPixels(const std::string& path) {
  TempDir dir;
  MustRun({"convert", path, "-depth", "8", "ppm:" + dir.file("x.ppm")});
  return DecodePnm(ReadBytes(dir.file("x.ppm")));
}

// PBM test images within netpbm's GEM limits (width < 1024, runs ≤ 127 bytes).
std::vector<samples::MonoImage> PbmCases() {
  std::vector<samples::MonoImage> cases;
  std::mt19937 random(12345);
  samples::MonoImage noise = samples::BlankMono(131, 57);
  for (uint8_t& byte : noise.bits) byte = static_cast<uint8_t>(random());
  cases.push_back(noise);
  samples::MonoImage stripes = samples::BlankMono(1000, 40);
  for (uint32_t y = 0; y < stripes.height; ++y)
    for (uint32_t x = 0; x < stripes.width; ++x)
      if ((x / 13 + y / 5) % 2 == 0) stripes.setBlack(x, y);
  cases.push_back(stripes);
  samples::MonoImage blocks = samples::BlankMono(333, 90);  // long solid runs, repeated lines
  for (uint32_t y = 20; y < 70; ++y)
    for (uint32_t x = 40; x < 300; ++x) blocks.setBlack(x, y);
  cases.push_back(blocks);
  return cases;
}

TEST(CrossCheck, NetpbmGemFilesDecodeToTheSamePixelsAsGemtopnm) {
  if (!HaveProgram("pbmtogem") || !HaveProgram("gemtopnm")) GTEST_SKIP() << "netpbm not installed";
  TempDir dir;
  std::vector<samples::MonoImage> cases = PbmCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    WriteBytes(dir.file("in.pbm"), EncodePbm(cases[i].width, cases[i].height, cases[i].bits));
    MustRun({"pbmtogem", dir.file("in.pbm")}, dir.file("in.img"));
    MustRun({"gemtopnm", dir.file("in.img")}, dir.file("ref.pbm"));
    ToolRun run = RunImagehost({"convert", dir.file("in.img"), dir.file("out.bmp"), "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Pixels reference = DecodePnm(ReadBytes(dir.file("ref.pbm")));
    EXPECT_EQ(reference, DecodePnm(ReadBytes(dir.file("in.pbm")))) << i;
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))), reference) << i;
  }
  for (const char* name : {"gem-mono-1.img", "gem-mono-1-patterns.img", "gem-mono-1-plain.img"}) {
    MustRun({"gemtopnm", Sample(name)}, dir.file("ref.pbm"));
    ASSERT_EQ(RunImagehost({"convert", Sample(name), dir.file("out.bmp"), "--quiet"}).exitCode, 0);
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))), DecodePnm(ReadBytes(dir.file("ref.pbm"))))
        << name;
  }
  if (HaveProgram("pbmtext")) {  // text from netpbm's own font
    MustRun({"pbmtext", "GEM 1.0 text -- check"}, dir.file("text.pbm"));
    MustRun({"pbmtogem", dir.file("text.pbm")}, dir.file("text.img"));
    ASSERT_EQ(
        RunImagehost({"convert", dir.file("text.img"), dir.file("text.bmp"), "--quiet"}).exitCode,
        0);
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("text.bmp"))),
              DecodePnm(ReadBytes(dir.file("text.pbm"))));
  }
}

TEST(CrossCheck, ImageMagickBmpsOfEveryDepthSurviveBmpToBmp) {
  if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick not installed";
  TempDir dir;
  const std::vector<std::vector<std::string>> kinds = {
      {"-type", "bilevel"},
      {"-colors", "16", "-type", "palette"},
      {"-type", "palette", "-depth", "8"},
      {"-type", "truecolor"},
  };
  for (const auto& kind : kinds) {
    std::vector<std::string> make{"convert", "-seed", "7", "-size", "45x31", "plasma:fractal"};
    make.insert(make.end(), kind.begin(), kind.end());
    make.insert(make.end(), {"-compress", "none", "BMP3:" + dir.file("in.bmp")});
    MustRun(make);
    ToolRun run = RunImagehost({"convert", dir.file("in.bmp"), dir.file("out.bmp"), "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Pixels expected = ImageMagickPixels(dir.file("in.bmp"));
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("in.bmp"))), expected) << kind[1];
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))), expected) << kind[1];
    EXPECT_EQ(ImageMagickPixels(dir.file("out.bmp")), expected) << kind[1];
  }
}

TEST(CrossCheck, ImageMagickReadsTheConvertedSamplesAsOurDecoderDoes) {
  if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick not installed";
  TempDir dir;
  for (const char* name : {"gem-mono-1.img", "bmp-palette-4-topdown.bmp", "bmp-rgb-24-topdown.bmp",
                           "bmp-grey-8.bmp"}) {
    for (const char* forward : {"FORWARD=ON", "FORWARD=OFF"}) {
      ASSERT_EQ(
          RunImagehost({"convert", Sample(name), dir.file("out.bmp"), "--quiet", "-O", forward})
              .exitCode,
          0);
      EXPECT_EQ(ImageMagickPixels(dir.file("out.bmp")), DecodeBmp(ReadBytes(dir.file("out.bmp"))))
          << name << " " << forward;
    }
  }
}

}  // namespace
}  // namespace hosttest
