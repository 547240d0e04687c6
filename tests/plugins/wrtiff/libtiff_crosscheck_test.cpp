// Files the writer makes, read by libtiff: tiffinfo finds no error, and the
// pixels libtiff decodes are the DIB's, for every compression, both byte
// orders, fill order 2, several strips, inverted 1-bit colour tables and
// appended pages.
#include <string>
#include <tuple>

#include "wrtiff_harness.h"

namespace wrtifftest {
namespace {

using testsupport::MemoryFiles;

// tiffinfo -D decodes every strip; any "Error" line is a failure. The one
// warning expected is about the NUL padding of the Software text.
void ExpectTiffinfoClean(const std::vector<uint8_t>& file, size_t pages) {
  testsupport::TempDir dir;
  const std::string path = dir.file("check.tif");
  WriteFile(path, file);
  std::string log;
  EXPECT_EQ(RunCommand("tiffinfo -D '" + path + "'", &log), 0) << log;
  EXPECT_EQ(log.find("Error"), std::string::npos) << log;
  size_t directories = 0;
  for (size_t at = log.find("TIFF Directory at offset"); at != std::string::npos;
       at = log.find("TIFF Directory at offset", at + 1)) {
    ++directories;
  }
  EXPECT_EQ(directories, pages) << log;
}

class LibtiffTest : public WrtiffTest {
 protected:
  void SetUp() override {
    WrtiffTest::SetUp();
    if (!HaveTool("tiffinfo") || !HaveTool("convert")) GTEST_SKIP() << "libtiff tools missing";
  }
  void expectRoundTrip(const Dib& dib, const RunPlan& plan = {}) {
    const RunResult run = writer.run(dib, plan);
    ASSERT_EQ(run.endResult, kWriterOk);
    ExpectTiffinfoClean(run.file, 1);
    EXPECT_EQ(DecodeWithLibtiff(run.file), dib.rgb());
  }
};

using Case = std::tuple<const char*, const char*, bool>;  // compression, byte order, fill order 2

class OneBitRoundTrip : public LibtiffTest, public ::testing::WithParamInterface<Case> {};

TEST_P(OneBitRoundTrip, LibtiffDecodesTheSourcePixels) {
  const auto [compression, order, fill2] = GetParam();
  if (std::string(compression) != "NONE") {
    Options()["COMPRESS"] = "ON";
    Options()["TIFF_COMPRESS"] = compression;
  }
  Options()["TIFF_BYTEFORMAT"] = order;
  if (fill2) Options()["TIFF_FILLORDER"] = "2";
  Options()["TIFF_ROWSPERSTRIP"] = "13";
  // An odd width, several strips, rows handed over 7 at a time.
  expectRoundTrip(MakePatterned(1001, 60, 1), {.rowsPerCall = 7});
  // A colour table listing white first: the file still shows the DIB's picture.
  MemoryFiles::instance().reset();
  expectRoundTrip(MakePatterned(203, 30, 1, /*inverted=*/true));
}

INSTANTIATE_TEST_SUITE_P(AllCompressions, OneBitRoundTrip,
                         ::testing::Combine(::testing::Values("NONE", "PACKBITS", "MODCCITT",
                                                              "GROUP3", "GROUP4"),
                                            ::testing::Values("INTEL", "MOTOROLA"),
                                            ::testing::Bool()));

TEST_F(LibtiffTest, DeeperImagesBothOrders) {
  for (const uint16_t bits : {4, 8, 24}) {
    for (const char* order : {"INTEL", "MOTOROLA"}) {
      for (const bool compress : {false, true}) {
        MemoryFiles::instance().reset();
        Options()["TIFF_BYTEFORMAT"] = order;
        if (compress) Options()["COMPRESS"] = "ON";
        else Options().erase("COMPRESS");
        SCOPED_TRACE(std::to_string(bits) + " " + order + (compress ? " packbits" : ""));
        expectRoundTrip(MakePatterned(131, 90, bits), {.rowsPerCall = 11});
      }
    }
  }
}

TEST_F(LibtiffTest, RowsWiderThanTheStripBuffer) {
  Options()["COMPRESS"] = "ON";
  expectRoundTrip(MakePatterned(11000, 4, 24));
  MemoryFiles::instance().reset();
  Options().clear();
  expectRoundTrip(MakePatterned(11000, 4, 24));
}

// Alternating pixels after a blank row: the dearest Group 4 row, 6 bytes per
// row byte; many such rows in one strip cross the buffer's flush point, a
// Group 4 byte still being filled moving to the buffer's front.
TEST_F(LibtiffTest, Group4WorstCaseRowsStayInsideTheBuffer) {
  for (const char* compression : {"GROUP4", "GROUP3", "MODCCITT"}) {
    MemoryFiles::instance().reset();
    Options()["COMPRESS"] = "ON";
    Options()["TIFF_COMPRESS"] = compression;
    Options()["TIFF_ROWSPERSTRIP"] = "1000";
    // 12001 pixels: far more colour changes in a row than 7000. (libtiff's
    // one-dimensional decoder has no room for a row of width + 1 runs when the
    // width is a multiple of 32, so the width is not one.)
    for (const uint32_t width : {8u, 2480u, 12001u}) {
      MemoryFiles::instance().reset();
      Dib dib = MakeDib(static_cast<int32_t>(width), 40, 1);
      for (uint32_t y = 0; y < dib.height(); ++y) {
        for (uint32_t x = 0; x < width; ++x) SetBit(dib, x, y, y % 2 == 0 ? 1 : (x + y / 2) % 2);
      }
      SCOPED_TRACE(std::string(compression) + " " + std::to_string(width));
      expectRoundTrip(dib);
    }
  }
}

TEST_F(LibtiffTest, AppendedPagesAreAllRead) {
  const Dib first = MakePatterned(64, 20, 8);
  const Dib second = MakePatterned(1728, 40, 1);
  const Dib third = MakePatterned(33, 9, 24);
  Options()["TIFF_BYTEFORMAT"] = "MOTOROLA";
  ASSERT_EQ(writer.run(first).endResult, kWriterOk);
  Options()["COMPRESS"] = "ON";
  Options()["TIFF_COMPRESS"] = "GROUP4";
  ASSERT_EQ(writer.run(second).endResult, kWriterOk);
  const RunResult run = writer.run(third);
  ASSERT_EQ(run.endResult, kWriterOk);
  ExpectTiffinfoClean(run.file, 3);
  EXPECT_EQ(DecodeWithLibtiff(run.file, 0), first.rgb());
  EXPECT_EQ(DecodeWithLibtiff(run.file, 1), second.rgb());
  EXPECT_EQ(DecodeWithLibtiff(run.file, 2), third.rgb());
}

}  // namespace
}  // namespace wrtifftest
