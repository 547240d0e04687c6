// Fax files around T.4 strips that libtiff's coder wrote, and fax files
// through imagehost (--page, --all-pages).
#include "fax_fixture.h"
#include "plugin_loader.h"
#include "tool_runner.h"

namespace faxreadertest {
namespace {

// Packed rows of a picture with 1 = white, as `Pixels` from a BMP compares.
hosttest::Pixels PixelsOf(const faxtest::Picture& picture) {
  hosttest::Pixels pixels{picture.width, picture.height, {}};
  for (uint8_t black : picture.black) {
    const uint8_t v = black ? 0 : 255;
    pixels.rgb.insert(pixels.rgb.end(), {v, v, v});
  }
  return pixels;
}

TEST_F(FaxTest, StripsFromLibtiffDecodeToTheSourcePixels) {
  if (!faxtest::ToolAvailable("tiffcp")) GTEST_SKIP() << "tiffcp missing";
  testsupport::TempDir dir;
  const faxtest::Picture picture = faxtest::MakeTestPicture(1728, 45, 11);
  for (const char* options : {"-c g3:1d -r 8", "-c g3:1d:fill -r 45", "-c g3:1d:fill -f lsb2msb -r 20"}) {
    SCOPED_TRACE(options);
    faxtest::WriteFile(dir.file("in.tif"), faxtest::UncompressedTiff(picture));
    ASSERT_TRUE(faxtest::Run(std::string("tiffcp ") + options + " " + dir.file("in.tif") + " " +
                             dir.file("g3.tif")));
    faxtest::TiffStrips g3;
    ASSERT_TRUE(faxtest::ReadTiffStrips(faxtest::ReadFile(dir.file("g3.tif")), g3));
    FaxPage page{picture};
    page.rowsPerStrip = g3.rowsPerStrip;
    page.fillOrder = static_cast<uint16_t>(g3.fillOrder);
    const auto file = MarkedFax(tifftest::Build({TagsAround(page, g3.strips)}));
    readertest::OpenImage image(api, "t.vlf", file);
    ASSERT_EQ(image.initResult, 1) << api.lastError();
    int32_t result = 0;
    EXPECT_EQ(image.read(45, Stride(1728), 0, nullptr, &result), ExpectedRows(picture, Stride(1728)));
    EXPECT_EQ(result, 1);
  }
}

class FaxImagehost : public ::testing::Test {
 protected:
  void SetUp() override {
    first.picture = faxtest::MakeTestPicture(96, 11, 21);
    second.picture = faxtest::MakeTestPicture(203, 17, 22);
    second.rowsPerStrip = 5;
    hosttest::WriteBytes(dir.file("pages.vlf"), FaxFile({first, second}));
  }
  testsupport::TempDir dir;
  FaxPage first;
  FaxPage second;
};

TEST_F(FaxImagehost, ConvertsTheChosenPage) {
  const std::string in = dir.file("pages.vlf");
  hosttest::ToolRun info = hosttest::RunImagehost({"info", "--page", "1", in});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("rdfax"), std::string::npos) << info.out;
  hosttest::ToolRun page0 = hosttest::RunImagehost({"-q", "convert", in, dir.file("p0.bmp")});
  ASSERT_EQ(page0.exitCode, 0) << page0.err;
  EXPECT_EQ(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("p0.bmp"))), PixelsOf(first.picture));
  hosttest::ToolRun page1 =
      hosttest::RunImagehost({"-q", "--page", "1", "--rows", "3", "convert", in, dir.file("p1.bmp")});
  ASSERT_EQ(page1.exitCode, 0) << page1.err;
  EXPECT_EQ(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("p1.bmp"))), PixelsOf(second.picture));
  EXPECT_NE(hosttest::RunImagehost({"-q", "--page", "2", "convert", in, dir.file("p2.bmp")}).exitCode, 0);
}

TEST_F(FaxImagehost, AllPagesIntoOneTiff) {
  if (!hosttest::Exists(testsupport::binPath("wrtiff.DEL"))) GTEST_SKIP() << "wrtiff.DEL not built";
  if (!faxtest::ToolAvailable("tiffcp")) GTEST_SKIP() << "tiffcp missing";
  hosttest::ToolRun all = hosttest::RunImagehost(
      {"-q", "--all-pages", "convert", dir.file("pages.vlf"), dir.file("all.tif")});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  // Each page back through libtiff.
  for (int page = 0; page < 2; ++page) {
    const std::string plain = dir.file("plain" + std::to_string(page) + ".tif");
    ASSERT_TRUE(faxtest::Run("tiffcp -c none " + dir.file("all.tif") + "," + std::to_string(page) +
                             " " + plain));
    faxtest::Picture decoded;
    ASSERT_TRUE(faxtest::PictureFromUncompressedTiff(faxtest::ReadFile(plain), decoded));
    const faxtest::Picture& expected = page == 0 ? first.picture : second.picture;
    EXPECT_EQ(decoded.black, expected.black) << page;
  }
}

}  // namespace
}  // namespace faxreadertest
