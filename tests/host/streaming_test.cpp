// Large images stream through in blocks: the tool's peak memory stays far
// below the image size whatever the row order the writer asks for.
#include <gtest/gtest.h>

#include <fstream>

#include "plugin_loader.h"
#include "samples/sample_images.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

// Generous against the tool's few MiB (about 15 with the sanitizer runtimes),
// and well below the 50 MB that holding either image whole would take.
constexpr uint64_t kPeakLimitKiB = 32 * 1024;
constexpr uint32_t kSide = 20000;

TEST(Streaming, A20000SquareBmpConvertsInBoundedMemoryEitherWay) {
  TempDir dir;
  samples::BmpFormat format;
  format.width = format.height = kSide;
  format.bits = 1;
  format.palette = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  ASSERT_TRUE(samples::WriteBmp(dir.file("big.bmp"), format, [](uint32_t y, std::span<uint8_t> row) {
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(y * 7 + i);
  }));
  for (const char* forward : {"FORWARD=OFF", "FORWARD=ON"}) {
    ToolRun run = RunImagehostMeasured(
        {"convert", dir.file("big.bmp"), dir.file("out.bmp"), "--quiet", "-O", forward});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GT(run.peakRssKiB, 0u);
    EXPECT_LT(run.peakRssKiB, kPeakLimitKiB) << forward;
    EXPECT_TRUE(SameFiles(dir.file("big.bmp"), dir.file("out.bmp"))) << forward;
  }
}

// A sparse 20000 x 20000 GEM file, written line by line.
void WriteBigGem(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  std::vector<uint8_t> bytes = samples::GemHeader(kSide, kSide, 2);
  std::vector<uint8_t> line((kSide + 7) / 8);
  for (uint32_t y = 0; y < kSide; ++y) {
    std::fill(line.begin(), line.end(), uint8_t{0});
    for (uint32_t x = (y * 13) % 977; x < kSide; x += 977 + y % 7)
      line[x / 8] |= uint8_t(0x80 >> x % 8);
    samples::EncodeGemLine(line, samples::GemOptions{}, bytes);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    bytes.clear();
  }
}

TEST(Streaming, A20000SquareGemConvertsInBoundedMemoryWithAndWithoutSpooling) {
  TempDir dir;
  WriteBigGem(dir.file("big.img"));
  // Default: the BMP writer is asked for top-first rows. FORWARD=OFF: the host
  // spools the reader's top-down rows to a temporary file and replays them.
  ToolRun top =
      RunImagehostMeasured({"convert", dir.file("big.img"), dir.file("top.bmp"), "--quiet"});
  ASSERT_EQ(top.exitCode, 0) << top.err;
  EXPECT_LT(top.peakRssKiB, kPeakLimitKiB);
  ToolRun spooled = RunImagehostMeasured(
      {"convert", dir.file("big.img"), dir.file("spooled.bmp"), "--quiet", "-O", "FORWARD=OFF"});
  ASSERT_EQ(spooled.exitCode, 0) << spooled.err;
  EXPECT_LT(spooled.peakRssKiB, kPeakLimitKiB);
  EXPECT_TRUE(SameFiles(dir.file("top.bmp"), dir.file("spooled.bmp")));
}

// The PNG writer deflates row by row and the host's netpbm writer writes each
// row as it comes: neither holds the image.
TEST(Streaming, A20000SquareGemIntoPngAndNetpbmInBoundedMemory) {
  TempDir dir;
  WriteBigGem(dir.file("big.img"));
  for (const char* out : {"big.png", "big.pbm"}) {
    ToolRun run = RunImagehostMeasured({"convert", dir.file("big.img"), dir.file(out), "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(run.peakRssKiB, kPeakLimitKiB) << out;
    if (std::string(out) == "big.png") {
      if (HaveProgram("pngcheck")) {
        EXPECT_EQ(RunProgram({"pngcheck", "-q", dir.file(out)}).exitCode, 0);
      }
    } else {
      EXPECT_EQ(ReadBytes(dir.file(out)).size(), std::string("P4\n20000 20000\n").size() + 2500u * kSide);
    }
  }
}

}  // namespace
}  // namespace hosttest
