// Whole scans through scanapp, checked against the document the virtual
// scanner was given: to BMP and TIFF, areas in both units, and feeder batches.
#include <gtest/gtest.h>

#include "ferrox/scanner_command.h"
#include "scanapp_fixture.h"

namespace scanapptest {
namespace {

using standin_test::patternPicture;
using standin_test::Picture;

class ScanappScan : public ScanappTest {};

TEST_F(ScanappScan, ColourScanToBmpIsTheDocumentsArea) {
  const Picture picture = patternPicture(200, 150);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  hosttest::ToolRun run =
      scanapp({"scan", "-o", file("out.bmp"), "--resolution", "300", "--area", "10,20,40,30"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("40 x 30, 24-bit, 300 x 300 dpi"), std::string::npos) << run.out;
  EXPECT_EQ(bmpPixels("out.bmp"), Cut(picture, 10, 20, 40, 30));
  EXPECT_FALSE(hosttest::Exists(file("out.bmp.part")));
}

// A BMP holds 8 bits per sample: 16-bit colour into one is refused, not cut.
TEST_F(ScanappScan, SixteenBitColourIsNotCutToEightBits) {
  const Picture picture = patternPicture(50, 40);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  hosttest::ToolRun run = scanapp({"scan", "-o", file("out.bmp"), "--mode", "color16",
                                   "--resolution", "300", "--area", "1,2,45,33"});
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_FALSE(hosttest::Exists(file("out.bmp")));
}

TEST_F(ScanappScan, LineArtAndHalftoneAreOneBitImages) {
  const Picture picture = patternPicture(70, 30);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  // The halftone pattern the library hands out, which the scan must use.
  uint8_t pattern[64] = {};
  {
    testsupport::LoadedModule library("FERROX.DLL");
    ASSERT_TRUE(library);
    ScannerCommand command{};
    command.code = CMD_GET_HALFTONE;
    command.data = pattern;
    command.value = 2;
    library.get<ScannerCommanderFn>(kScannerCommanderName)(&command);
    ASSERT_EQ(command.status, SCAN_OK);
  }
  for (const char* mode : {"lineart", "halftone"}) {
    hosttest::ToolRun run = scanapp({"scan", "-o", file("out.bmp"), "--mode", mode, "--halftone",
                                     "2", "--resolution", "300", "--area", "0,0,70,30"});
    if (std::string(mode) == "lineart") {
      EXPECT_EQ(run.exitCode, 2) << "--halftone applies to halftone only";
      run = scanapp({"scan", "-o", file("out.bmp"), "--mode", mode, "--resolution", "300", "--area",
                     "0,0,70,30"});
    }
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const hosttest::Pixels image = bmpPixels("out.bmp");
    ASSERT_EQ(image.width, 70u);
    ASSERT_EQ(image.height, 30u);
    for (uint32_t y = 0; y < 30; ++y) {
      for (uint32_t x = 0; x < 70; ++x) {
        const uint8_t threshold =
            std::string(mode) == "lineart" ? 128 : pattern[(y % 8) * 8 + x % 8];
        const uint8_t expected = standin_test::greyOf(picture.at(x, y)) >= threshold ? 255 : 0;
        ASSERT_EQ(image.rgb[(y * 70 + x) * 3], expected) << mode << " " << x << "," << y;
      }
    }
  }
}

TEST_F(ScanappScan, GreyScanDeliveredBottomUpIsStillUpright) {
  const Picture picture = patternPicture(120, 90);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  for (const char* order : {"--quiet", "--bottom-up"}) {
    hosttest::ToolRun run = scanapp({"scan", "-o", file("grey.bmp"), "--mode", "gray",
                                     "--resolution", "300", "--area", "3,4,37,50", order});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(bmpPixels("grey.bmp"), CutGrey(picture, 3, 4, 37, 50)) << order;
  }
  // Enhanced, the library turns each block itself: both orders give one image.
  std::vector<hosttest::Pixels> enhanced;
  for (const char* order : {"--quiet", "--bottom-up"}) {
    hosttest::ToolRun run = scanapp({"scan", "-o", file("fine.bmp"), "--mode", "gray",
                                     "--resolution", "1200", "--area", "3,4,37,50", order});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    enhanced.push_back(bmpPixels("fine.bmp"));
  }
  EXPECT_EQ(enhanced[0].height, 200u);
  EXPECT_EQ(enhanced[0], enhanced[1]);
}

TEST_F(ScanappScan, ColourScanToTiffIsTheDocumentsArea) {
  if (!hosttest::HaveProgram("tifftopnm")) GTEST_SKIP() << "netpbm's tifftopnm is not installed";
  const Picture picture = patternPicture(160, 100);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  hosttest::ToolRun run =
      scanapp({"scan", "-o", file("out.tif"), "--resolution", "300", "--area", "5,7,61,40", "-q"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.out.empty()) << "--quiet prints no summary: " << run.out;
  EXPECT_EQ(tiffPixels("out.tif"), Cut(picture, 5, 7, 61, 40));
}

TEST_F(ScanappScan, MillimetreAreaAndResolutionPerAxis) {
  // 2.54 mm = 30, 5.08 mm = 60, 8.466 mm = 100 and 4.233 mm = 50 units of 1/300 inch.
  const Picture picture = patternPicture(200, 150);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  hosttest::ToolRun run = scanapp({"scan", "-o", file("out.bmp"), "-l", "2.54", "-t", "5.08", "-x",
                                   "8.466", "-y", "4.233", "--xres", "300", "--yres", "150"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const hosttest::Pixels image = bmpPixels("out.bmp");
  ASSERT_EQ(image.width, 100u);
  ASSERT_EQ(image.height, 25u);
  // Every second document row at half the vertical resolution.
  for (uint32_t y = 0; y < 25; ++y) {
    const hosttest::Pixels row = Cut(picture, 30, 60 + 2 * y, 100, 1);
    EXPECT_TRUE(std::equal(row.rgb.begin(), row.rgb.end(), image.rgb.begin() + y * 300)) << y;
  }
}

TEST_F(ScanappScan, WholeBedByDefaultAndEnhancedAboveTheNativeResolution) {
  install("\"Width Limit\"=dword:00000096\n\"Height Limit\"=dword:00000064\n");  // 150 x 100
  hosttest::ToolRun run = scanapp({"scan", "-o", file("bed.bmp"), "--mode", "gray"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const hosttest::Pixels bed = bmpPixels("bed.bmp");
  EXPECT_EQ(bed.width, 150u);
  EXPECT_EQ(bed.height, 100u);
  run = scanapp({"scan", "-o", file("fine.bmp"), "--mode", "gray", "--resolution", "1200"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const hosttest::Pixels fine = bmpPixels("fine.bmp");
  EXPECT_EQ(fine.width, 600u);
  EXPECT_EQ(fine.height, 400u);
}

TEST_F(ScanappScan, BatchScansEveryFeederPageIntoNumberedFiles) {
  std::vector<Picture> pages;
  for (uint32_t page = 1; page <= 3; ++page) {
    pages.push_back(PagePicture(80, 60, page));
    writeDocument("page" + std::to_string(page) + ".bmp", pages.back());
  }
  install("\"Document\"=\"" + file("page%d.bmp") +
          "\"\n\"Capabilities\"=dword:00000001\n\"ADF Pages\"=dword:00000003\n");
  hosttest::ToolRun run = scanapp({"scan", "--batch", "--source", "adf", "-o", file("out%02d.bmp"),
                                   "--resolution", "300", "--area", "0,0,80,60"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (uint32_t page = 1; page <= 3; ++page)
    EXPECT_EQ(bmpPixels("out0" + std::to_string(page) + ".bmp"), Cut(pages[page - 1], 0, 0, 80, 60))
        << page;
  EXPECT_FALSE(hosttest::Exists(file("out04.bmp")));
  EXPECT_FALSE(hosttest::Exists(file("out04.bmp.part")));
}

TEST_F(ScanappScan, BatchIntoOneTiffAppendsEveryPage) {
  if (!hosttest::HaveProgram("tiffinfo")) GTEST_SKIP() << "libtiff's tiffinfo is not installed";
  install("\"Capabilities\"=dword:00000001\n\"ADF Pages\"=dword:00000003\n");
  hosttest::ToolRun run = scanapp({"scan", "--batch", "--source", "adf", "-o", file("all.tif"),
                                   "--resolution", "100", "--mode", "lineart"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("3 pages"), std::string::npos) << run.out;
  hosttest::ToolRun info = hosttest::RunProgram({"tiffinfo", file("all.tif")});
  size_t directories = 0;
  for (size_t at = info.out.find("TIFF Directory at"); at != std::string::npos;
       at = info.out.find("TIFF Directory at", at + 1))
    ++directories;
  EXPECT_EQ(directories, 3u) << info.out;
}

TEST_F(ScanappScan, InfoListsProductDeviceLimitsAndMaps) {
  install("\"Capabilities\"=dword:00000001\n\"Highest Resolution\"=dword:000004b0\n");
  hosttest::ToolRun run = scanapp({"info"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* line :
       {"product=Virtual Flatbed Scanner\n", "device.adf=yes\n", "device.film=no\n",
        "limits.highest_resolution=1200\n", "limits.native_x_resolution=600\n",
        "limits.width=2550\n", "limits.height=3508\n", "maps.channels=3\n", "maps.entries=256\n"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  EXPECT_EQ(run.out.rfind("product=", 0), 0u) << "the product name comes first";
}

}  // namespace
}  // namespace scanapptest
