// rdpcd's rows: what the library delivers for the rectangle the reader
// builds, the current row that only OVDLset_row moves, progress through the
// library, and the whole chain through imagehost against ImageMagick.
#include <cstring>

#include "pcd_fixture.h"
#include "tool_runner.h"

namespace pcdreadertest {
namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<std::vector<uint8_t>>;

TEST_F(PcdReaderTest, RowsStayPutUntilSetRowMovesThem) {
  auto image = openPattern();
  ASSERT_EQ(image->initResult, 1);
  const Rows expected = libraryRows(paths_.back(), {0, 0, 512, 767}, kStride);
  Rows first = image->read(3, kStride);
  EXPECT_EQ(first, Rows(expected.begin(), expected.begin() + 3));
  EXPECT_EQ(image->read(3, kStride), first);  // no set_row: the same rows again
  EXPECT_EQ(api.setRow(image->handle, 100), 1);
  EXPECT_EQ(image->read(2, kStride), Rows(expected.begin() + 100, expected.begin() + 102));
  EXPECT_EQ(api.setRow(image->handle, 0), 1);
  EXPECT_EQ(image->read(512, kStride), expected);
  // The last rows, then past the end: refused, the buffer untouched.
  EXPECT_EQ(api.setRow(image->handle, 510), 1);
  EXPECT_EQ(image->read(2, kStride), Rows(expected.begin() + 510, expected.end()));
  int32_t result = -1;
  Rows past = image->read(3, kStride, 0, nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  EXPECT_EQ(past[0], Bytes(kStride, 0xA5));
}

TEST_F(PcdReaderTest, OffsetAndStrideMakeTheColumns) {
  auto image = openPattern();
  const Rows expected = libraryRows(paths_.back(), {0, 0, 512, 767}, kStride);
  ASSERT_EQ(api.setRow(image->handle, 7), 1);
  // Offset 30, stride 60: columns 10 to 19 at the start of each row.
  Rows part = image->read(2, 60, 30);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(Bytes(part[k].begin(), part[k].begin() + 30),
              Bytes(expected[7 + k].begin() + 30, expected[7 + k].begin() + 60));
    EXPECT_EQ(Bytes(part[k].begin() + 30, part[k].end()), Bytes(30, 0xA5));
  }
  // A stride wider than the row: the bytes beyond it keep their content.
  Rows wide = image->read(1, kStride + 8);
  EXPECT_EQ(Bytes(wide[0].begin(), wide[0].begin() + kStride), expected[7]);
  EXPECT_EQ(Bytes(wide[0].begin() + kStride, wide[0].end()), Bytes(8, 0xA5));

  int32_t result = -1;
  image->read(0, 0, 0, nullptr, &result);
  EXPECT_EQ(result, 1);  // no rows: nothing to do
  // No whole pixel fits the stride; a null buffer; rows beyond 16-bit numbers.
  image->read(1, 2, 0, nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.readRows(image->handle, nullptr, 1, kStride, 0, nullptr), 0);
  EXPECT_EQ(api.setRow(image->handle, 65534), 1);
  image->read(2, kStride, 0, nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
}

struct Reports {
  std::vector<std::vector<uint32_t>> calls;
  int stopAt = 0;  // answer 0 on this call (1-based)
};
Reports* gReports = nullptr;

int32_t Record(uint32_t first, uint32_t percent, uint32_t third) {
  gReports->calls.push_back({first, percent, third});
  return static_cast<int>(gReports->calls.size()) == gReports->stopAt ? 0 : 1;
}

TEST_F(PcdReaderTest, ProgressGoesThroughTheLibrary) {
  auto image = openPattern();
  Reports reports;
  gReports = &reports;
  ProgressRecord progress{};
  progress.callback = Record;
  progress.firstArgument = 11;
  progress.thirdArgument = 33;
  image->read(4, kStride, 0, &progress);
  EXPECT_EQ(reports.calls, (std::vector<std::vector<uint32_t>>{
                               {11, 25, 33}, {11, 50, 33}, {11, 75, 33}, {11, 100, 33}}));
  EXPECT_EQ(progress.reported, 0u);  // the reader keeps no accounts of its own
  EXPECT_EQ(progress.pending, 0u);

  // Callback 0: no routine installed, and the earlier record is not used again.
  reports.calls.clear();
  ProgressRecord silent{};
  int32_t result = -1;
  image->read(4, kStride, 0, &silent, &result);
  EXPECT_EQ(result, 1);
  image->read(4, kStride, 0, nullptr, &result);
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(reports.calls.empty());

  // A callback that asks to stop ends the read as a failed one.
  reports = Reports{{}, 2};
  Rows rows = image->read(4, kStride, 0, &progress, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  EXPECT_EQ(reports.calls.size(), 2u);
  EXPECT_EQ(rows[2], Bytes(kStride, 0xA5));
  gReports = nullptr;
}

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
