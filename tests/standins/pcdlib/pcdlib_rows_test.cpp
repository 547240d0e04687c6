// Rows, rectangles, progress and colour of the Photo CD library stand-in,
// cross-checked with ImageMagick where it is installed.
#include <cstring>

#include "pcdlib_fixture.h"
#include "tool_runner.h"

namespace pcdtest {
namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<std::vector<uint8_t>>;

Bytes Bgr(uint8_t blue, uint8_t green, uint8_t red) {
  return {blue, green, red};
}
Bytes PixelAt(const Rows& rows, uint32_t x, uint32_t y) {
  return Bytes(rows[y].begin() + x * 3, rows[y].begin() + x * 3 + 3);
}

// Photo YCC values worked out by hand: luma × 1.3584; C1 − 156 (× 2.2179)
// adds to blue, C2 − 137 (× 1.8215) to red, both take some green.
TEST_F(PcdLibraryTest, FlatColoursConvertFromPhotoYcc) {
  struct Case {
    uint8_t y, c1, c2;
    Bytes bgr;
  } cases[] = {
      {100, 156, 137, Bgr(136, 136, 136)}, {188, 156, 137, Bgr(255, 255, 255)},
      {0, 156, 137, Bgr(0, 0, 0)},         {100, 200, 137, Bgr(233, 117, 136)},
      {100, 156, 180, Bgr(136, 96, 214)},  {20, 0, 0, Bgr(0, 221, 0)},
  };
  for (const Case& c : cases) {
    pcdlib::ImageHandle image = openImage(put("flat.pcd", BuildImagePac(Flat(c.y, c.c1, c.c2))));
    Rows rows = ReadRect(image, {100, 0, 102, 767}, 2304);
    EXPECT_EQ(PixelAt(rows, 0, 0), c.bgr) << int(c.y) << "," << int(c.c1) << "," << int(c.c2);
    EXPECT_EQ(PixelAt(rows, 767, 1), c.bgr);
    api.close(image);
  }
}

// Chroma is interpolated: each pixel weighs its own sample 3:1 against the
// nearer neighbour across a step.
TEST_F(PcdLibraryTest, ChromaIsInterpolatedAcrossAStep) {
  YccPlanes planes = Flat(100, 156, 137);
  for (uint32_t y = 0; y < 256; ++y)
    for (uint32_t x = 192; x < 384; ++x) planes.c1[y * 384 + x] = 200;
  pcdlib::ImageHandle image = openImage(put("step.pcd", BuildImagePac(planes)));
  Rows rows = ReadRect(image, {10, 0, 11, 767}, 2304);
  EXPECT_EQ(rows[0][380 * 3], 136);  // blue far left of the step: C1 156
  EXPECT_EQ(rows[0][383 * 3], 160);  // C1 (3 × 156 + 200) / 4 = 167
  EXPECT_EQ(rows[0][384 * 3], 209);  // C1 (3 × 200 + 156) / 4 = 189
  EXPECT_EQ(rows[0][390 * 3], 233);  // C1 200
  api.close(image);
}

TEST_F(PcdLibraryTest, RectanglesAreHonouredBottomUp) {
  pcdlib::ImageHandle image = openImage(put("p.pcd", BuildImagePac(LumaPattern())));
  Rows whole = ReadRect(image, {0, 0, 512, 767}, 2304);
  ASSERT_EQ(whole.size(), 512u);

  // Rows 5-7, columns 10-19, at a stride wider than the columns.
  int16_t result = -1;
  Rows part = ReadRect(image, {5, 10, 8, 19}, 40, &result);
  EXPECT_EQ(result, pcdlib::kOk);
  for (uint32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(Bytes(part[k].begin(), part[k].begin() + 30),
              Bytes(whole[5 + k].begin() + 30, whole[5 + k].begin() + 60));
    EXPECT_EQ(Bytes(part[k].begin() + 30, part[k].end()), Bytes(10, 0xA5)) << "beyond the columns";
  }
  // A last column beyond the picture is clamped to it.
  part = ReadRect(image, {0, 760, 1, 0xFFFF}, 24, &result);
  EXPECT_EQ(result, pcdlib::kOk);
  EXPECT_EQ(part[0], Bytes(whole[0].begin() + 760 * 3, whole[0].end()));
  // Columns entirely beyond the picture: the rows are delivered with nothing in them.
  part = ReadRect(image, {0, 800, 2, 900}, 12, &result);
  EXPECT_EQ(result, pcdlib::kOk);
  EXPECT_EQ(part[1], Bytes(12, 0xA5));
  // No rows: nothing to do.
  const pcdlib::RowRect none{9, 0, 9, 767};
  EXPECT_EQ(api.readRows(image, &none, nullptr, 0), pcdlib::kOk);

  struct Refused {
    const char* what;
    pcdlib::RowRect rect;
    uint32_t stride;
  } refused[] = {
      {"rows past the end", {510, 0, 513, 767}, 2304},
      {"end before start", {5, 0, 4, 767}, 2304},
      {"columns wider than the stride", {0, 0, 1, 767}, 2303},
      {"a stride of 0", {0, 0, 1, 0}, 0},
  };
  for (const Refused& r : refused) {
    Rows untouched = ReadRect(image, r.rect, r.stride, &result);
    EXPECT_EQ(result, pcdlib::kBadRectangle) << r.what;
    for (const auto& row : untouched) EXPECT_EQ(row, Bytes(r.stride, 0xA5)) << r.what;
  }
  const pcdlib::RowRect one{0, 0, 1, 767};
  EXPECT_EQ(api.readRows(image, &one, nullptr, 2304), pcdlib::kBadArgument);
  EXPECT_EQ(api.readRows(image, nullptr, whole[0].data(), 2304), pcdlib::kBadArgument);
  api.close(image);
}

struct ProgressLog {
  std::vector<std::pair<int, int>> calls;
  int stopAt = 0;  // answer 0 on this call (1-based); 0: never
};

int32_t LogProgress(int16_t done, int16_t total, void* user) {
  auto* log = static_cast<ProgressLog*>(user);
  log->calls.emplace_back(done, total);
  return static_cast<int>(log->calls.size()) == log->stopAt ? 0 : 1;
}

TEST_F(PcdLibraryTest, ProgressIsReportedPerRowAndCanStop) {
  pcdlib::ImageHandle image = openImage(put("p.pcd", BuildImagePac(LumaPattern())));
  ProgressLog log;
  ASSERT_EQ(api.setProgress(image, LogProgress, &log), pcdlib::kOk);
  int16_t result = -1;
  ReadRect(image, {0, 0, 4, 767}, 2304, &result);
  EXPECT_EQ(result, pcdlib::kOk);
  EXPECT_EQ(log.calls, (std::vector<std::pair<int, int>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));

  log = ProgressLog{{}, 2};
  Rows rows = ReadRect(image, {0, 0, 4, 767}, 2304, &result);
  EXPECT_EQ(result, pcdlib::kCancelled);
  EXPECT_EQ(log.calls.size(), 2u);
  EXPECT_NE(rows[1], Bytes(2304, 0xA5));  // the rows before the stop were delivered
  EXPECT_EQ(rows[2], Bytes(2304, 0xA5));

  ASSERT_EQ(api.setProgress(image, nullptr, &log), pcdlib::kOk);  // removed
  log = ProgressLog{};
  ReadRect(image, {0, 0, 4, 767}, 2304, &result);
  EXPECT_EQ(result, pcdlib::kOk);
  EXPECT_TRUE(log.calls.empty());
  api.close(image);
}

// Display turns: a quarter turn left puts the stored top-right corner at the
// top left, three quarters the bottom-left one, a half turn the bottom-right.
TEST_F(PcdLibraryTest, TurnedPicturesComeUpright) {
  pcdlib::ImageHandle plain = openImage(put("t0.pcd", BuildImagePac(LumaPattern(), 0)));
  Rows stored = ReadRect(plain, {0, 0, 512, 767}, 2304);
  api.close(plain);
  struct Case {
    uint32_t turns, width, height, storedX, storedY;
  } cases[] = {{1, 512, 768, 767, 0}, {2, 768, 512, 767, 511}, {3, 512, 768, 0, 511}};
  for (const Case& c : cases) {
    pcdlib::ImageHandle image =
        openImage(put("t" + std::to_string(c.turns) + ".pcd", BuildImagePac(LumaPattern(), c.turns)));
    const uint16_t height = static_cast<uint16_t>(c.height);
    Rows shown = ReadRect(image, {0, 0, height, static_cast<uint16_t>(c.width - 1)}, c.width * 3);
    EXPECT_EQ(PixelAt(shown, 0, 0), PixelAt(stored, c.storedX, c.storedY)) << c.turns;
    EXPECT_EQ(PixelAt(shown, c.width - 1, c.height - 1),
              PixelAt(stored, 767 - c.storedX, 511 - c.storedY))
        << c.turns;
    api.close(image);
  }
}

// Files ImageMagick wrote, and our own turned ones, against ImageMagick's
// reading of them (its colour conversion leaves out the luma scale).
TEST_F(PcdLibraryTest, PixelsAgreeWithImageMagick) {
  if (!hosttest::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
  std::vector<std::string> files;
  for (const char* source : {"gradient:red-blue", "gradient:#203040-#e0c0a0"}) {
    const std::string ppm = dir.file("source.ppm");
    const std::string pcd = dir.file("im" + std::to_string(files.size()) + ".pcd");
    ASSERT_EQ(hosttest::RunProgram({"convert", "-size", "768x512", source, "-depth", "8", ppm})
                  .exitCode, 0);
    ASSERT_EQ(hosttest::RunProgram({"convert", ppm, pcd}).exitCode, 0);
    files.push_back(pcd);
  }
  for (uint32_t turns : {1u, 3u})
    files.push_back(put("turned" + std::to_string(turns) + ".pcd", BuildImagePac(LumaPattern(), turns)));
  for (const std::string& file : files) {
    uint32_t width = 0, height = 0;
    Rows theirs = ImageMagickRows(file, &width, &height);
    ASSERT_FALSE(theirs.empty()) << file;
    pcdlib::ImageHandle image = openImage(file);
    int16_t size[4] = {};
    api.imageSize(image, size);
    EXPECT_EQ(uint32_t(size[pcdlib::kSizeWidth]), width) << file;
    EXPECT_EQ(uint32_t(size[pcdlib::kSizeHeight]), height) << file;
    Rows ours = ReadRect(image, {0, 0, static_cast<uint16_t>(height), 0xFFFF}, width * 3);
    EXPECT_LE(MaxDifferenceFromImageMagick(ours, theirs), 3) << file;
    api.close(image);
  }
}

}  // namespace
}  // namespace pcdtest
