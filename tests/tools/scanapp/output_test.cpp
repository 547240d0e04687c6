// Scans through every kind of output: each writer plug-in and the netpbm
// files scanapp writes itself, standard output, and 16-bit colour kept where
// the file can hold it and refused where it cannot.
#include <gtest/gtest.h>

#include <sstream>

#include "scanapp_fixture.h"

namespace scanapptest {
namespace {

using standin_test::patternPicture;
using standin_test::Picture;

class ScanappOutput : public ScanappTest {
 protected:
  // The image in any file ImageMagick reads, as 8-bit RGB.
  hosttest::Pixels anyPixels(const std::string& path) {
    const std::string ppm = path + ".check.ppm";
    hosttest::ToolRun run = hosttest::RunProgram({"convert", path, "-depth", "8", "ppm:-"}, ppm);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return hosttest::DecodePnm(hosttest::ReadBytes(ppm));
  }
};

// A binary PPM of 16-bit samples: its samples, or nothing when it is not one.
std::vector<uint16_t> WideSamples(const std::vector<uint8_t>& file, uint32_t& width, uint32_t& height) {
  std::istringstream head(std::string(file.begin(), file.begin() + std::min<size_t>(file.size(), 64)));
  std::string magic;
  uint32_t maxval = 0;
  head >> magic >> width >> height >> maxval;
  const size_t start = static_cast<size_t>(head.tellg()) + 1;
  if (magic != "P6" || maxval != 65535 || start + size_t{width} * height * 6 != file.size()) return {};
  std::vector<uint16_t> samples;
  for (size_t at = start; at < file.size(); at += 2) samples.push_back(static_cast<uint16_t>(file[at] << 8 | file[at + 1]));
  return samples;
}

TEST_F(ScanappOutput, EveryWriterAndStandardOutput) {
  if (!hosttest::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  const Picture picture = patternPicture(120, 80);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  const hosttest::Pixels want = Cut(picture, 4, 6, 51, 33);
  const std::vector<std::string> area = {"--resolution", "300", "--area", "4,6,51,33", "-q"};
  // Lossless outputs, by file name and through standard output with --format.
  for (const char* name : {"out.png", "out.ppm", "out.pnm", "out.tiff", "out.pcx", "out.bmp"}) {
    SCOPED_TRACE(name);
    std::vector<std::string> args = {"scan", "-o", file(name)};
    args.insert(args.end(), area.begin(), area.end());
    hosttest::ToolRun run = scanapp(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(anyPixels(file(name)), want);
  }
  for (const char* format : {"png", "ppm", "tif"}) {
    SCOPED_TRACE(format);
    std::vector<std::string> argv = {testsupport::binPath("scanapp"), "scan", "-o", "-", "--format", format};
    argv.insert(argv.end(), area.begin(), area.end());
    const std::string out = file(std::string("stdout.") + format);
    hosttest::ToolRun run = hosttest::RunProgram(argv, out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(anyPixels(out), want);
  }
  // JPEG is lossy: it only has to be a JPEG of the right size.
  hosttest::ToolRun jpeg = scanapp({"scan", "-o", file("out.jpeg"), "--area", "4,6,51,33", "-q"});
  ASSERT_EQ(jpeg.exitCode, 0) << jpeg.err;
  EXPECT_EQ(anyPixels(file("out.jpeg")).width, 51u);
  // Standard output needs a format; nothing is scanned without one.
  hosttest::ToolRun bare = scanapp({"scan", "-o", "-", "-q"});
  EXPECT_EQ(bare.exitCode, 2);
  EXPECT_NE(bare.err.find("--format"), std::string::npos) << bare.err;
}

// 16-bit samples reach a PNG or netpbm file whole; a writer that holds 8 bits
// is refused before the scanner is touched.
TEST_F(ScanappOutput, SixteenBitColourIsKeptOrRefused) {
  const Picture picture = patternPicture(60, 40);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  hosttest::ToolRun run = scanapp({"scan", "-o", file("wide.ppm"), "--mode", "color16", "--identity-maps",
                                   "--resolution", "300", "--area", "2,3,45,30"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("45 x 30, 48-bit"), std::string::npos) << run.out;
  uint32_t width = 0, height = 0;
  const std::vector<uint16_t> samples = WideSamples(hosttest::ReadBytes(file("wide.ppm")), width, height);
  ASSERT_EQ(samples.size(), 45u * 30 * 3);
  const hosttest::Pixels eight = Cut(picture, 2, 3, 45, 30);
  for (size_t i = 0; i < samples.size(); ++i)
    ASSERT_EQ(samples[i], eight.rgb[i] * 257) << i;  // the device's identity curve

  if (hosttest::HaveProgram("convert")) {
    run = scanapp({"scan", "-o", file("wide.png"), "--mode", "color16", "--identity-maps",
                   "--resolution", "300", "--area", "2,3,45,30", "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string ppm = file("png.ppm");
    ASSERT_EQ(hosttest::RunProgram({"convert", file("wide.png"), "-depth", "16", "ppm:-"}, ppm).exitCode, 0);
    EXPECT_EQ(WideSamples(hosttest::ReadBytes(ppm), width, height), samples);
  }

  const size_t driverCalls = trace().size();
  for (const char* name : {"wide.tif", "wide.bmp", "wide.jpg", "wide.pcx"}) {
    SCOPED_TRACE(name);
    run = scanapp({"scan", "-o", file(name), "--mode", "color16", "--area", "2,3,45,30"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("--mode color16"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("8 bits per sample"), std::string::npos) << run.err;
    EXPECT_FALSE(hosttest::Exists(file(name)));
  }
  EXPECT_EQ(trace().size(), driverCalls) << "a refused scan reached the driver";
}

}  // namespace
}  // namespace scanapptest
