// rdpcd through imagehost, against ImageMagick's reading of the same file.
#include "pcd_fixture.h"
#include "tool_runner.h"

namespace pcdreadertest {
namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<std::vector<uint8_t>>;

// The whole chain: imagehost reads the file through rdpcd in blocks (the host
// places each with OVDLset_row, since the reader's rows move only with it)
// into a BMP, reading 7 rows at a time as well as the default block.
TEST_F(PcdReaderTest, ImagehostConvertsAgreeingWithImageMagick) {
  if (!hosttest::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
  const std::string ppm = dir.file("in.ppm"), pcd = dir.file("in.pcd"), bmp = dir.file("out.bmp");
  ASSERT_EQ(hosttest::RunProgram({"convert", "-size", "768x512", "gradient:#c02040-#20a0e0",
                                  "-depth", "8", ppm}).exitCode, 0);
  ASSERT_EQ(hosttest::RunProgram({"convert", ppm, pcd}).exitCode, 0);

  auto info = hosttest::RunImagehost({"info", pcd});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("rdpcd.DIL width=768 height=512 bits=24"), std::string::npos) << info.out;
  auto run = hosttest::RunImagehost({"--quiet", "convert", pcd, bmp});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  hosttest::Pixels ours = hosttest::DecodeBmp(hosttest::ReadBytes(bmp));
  const std::string small = dir.file("small-blocks.bmp");
  ASSERT_EQ(hosttest::RunImagehost({"--quiet", "--rows", "7", "convert", pcd, small}).exitCode, 0);
  EXPECT_EQ(hosttest::DecodeBmp(hosttest::ReadBytes(small)).rgb, ours.rgb);
  uint32_t width = 0, height = 0;
  Rows theirs = pcdtest::ImageMagickRows(pcd, &width, &height);
  ASSERT_EQ(ours.width, width);
  ASSERT_EQ(ours.height, height);
  Rows oursBgr(height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* rgb = &ours.rgb[(size_t{y} * width + x) * 3];
      oursBgr[y].insert(oursBgr[y].end(), {rgb[2], rgb[1], rgb[0]});
    }
  EXPECT_LE(pcdtest::MaxDifferenceFromImageMagick(oursBgr, theirs), 3);

  // Not an Image Pac: the library refuses it at open, and the message says so.
  pcdtest::WriteFile(dir.file("text.pcd"), Bytes(100, 'x'));
  auto refused = hosttest::RunImagehost({"--reader", "rdpcd.DIL", "info", dir.file("text.pcd")});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("Cannot open file."), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace pcdreadertest
