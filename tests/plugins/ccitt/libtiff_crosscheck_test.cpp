// The decoders against libtiff: streams libtiff's coder writes decode to the
// source pixels, and streams the test encoder writes decode in libtiff to the
// same pixels, which also checks the code tables both sides use.
#include <gtest/gtest.h>

#include "ccitt_test_decode.h"
#include "fax_test_codec.h"
#include "plugin_loader.h"

namespace {

using faxtest::Picture;

bool HaveTiffcp() { return faxtest::ToolAvailable("tiffcp"); }

// Decodes every strip of a CCITT TIFF, resetting the decoder at each strip.
Picture DecodeStrips(const faxtest::TiffStrips& tiff) {
  Picture out{tiff.width, tiff.height, {}};
  const auto coding = tiff.compression == 4 ? ccitttest::Coding::kT6
                      : tiff.compression == 2 ? ccitttest::Coding::kModifiedHuffman
                                              : ccitttest::Coding::kT4;
  uint32_t row = 0;
  for (const auto& strip : tiff.strips) {
    ccitttest::Stream stream{strip, 4096};
    stream.reverseBits = tiff.fillOrder == 2;
    const uint32_t rows = std::min(tiff.rowsPerStrip, tiff.height - row);
    Picture part = stream.decode(coding, tiff.width, rows);
    EXPECT_TRUE(stream.allRowsDone);
    out.black.insert(out.black.end(), part.black.begin(), part.black.end());
    row += rows;
  }
  return out;
}

void ExpectSame(const Picture& expected, const Picture& actual) {
  ASSERT_EQ(expected.width, actual.width);
  ASSERT_EQ(expected.height, actual.height);
  for (uint32_t y = 0; y < expected.height; ++y)
    ASSERT_EQ(expected.row(y), actual.row(y)) << "row " << y;
}

struct LibtiffCase {
  const char* options;
  uint32_t width;
};

class LibtiffStreams : public ::testing::TestWithParam<LibtiffCase> {};

TEST_P(LibtiffStreams, DecodeToTheSourcePixels) {
  if (!HaveTiffcp()) GTEST_SKIP() << "tiffcp missing";
  testsupport::TempDir dir;
  Picture picture = faxtest::MakeTestPicture(GetParam().width, 40, GetParam().width);
  // A long black run across most of one row.
  for (uint32_t x = 1; x < picture.width; ++x) picture.black[3 * picture.width + x] = 1;
  faxtest::WriteFile(dir.file("in.tif"), faxtest::UncompressedTiff(picture));
  ASSERT_TRUE(faxtest::Run("tiffcp " + std::string(GetParam().options) + " " + dir.file("in.tif") +
                           " " + dir.file("out.tif")));
  faxtest::TiffStrips tiff;
  ASSERT_TRUE(faxtest::ReadTiffStrips(faxtest::ReadFile(dir.file("out.tif")), tiff));
  ExpectSame(picture, DecodeStrips(tiff));
}

INSTANTIATE_TEST_SUITE_P(
    Tiffcp, LibtiffStreams,
    ::testing::Values(LibtiffCase{"-c g3:1d", 1728}, LibtiffCase{"-c g3:1d:fill", 1728},
                      LibtiffCase{"-c g3:1d -r 7", 300}, LibtiffCase{"-c g3:1d:fill -f lsb2msb", 93},
                      LibtiffCase{"-c g4", 2480}, LibtiffCase{"-c g4 -r 9", 77},
                      LibtiffCase{"-c g4 -f lsb2msb", 640}, LibtiffCase{"-c g4", 6000},
                      LibtiffCase{"-c g3:1d", 5300}));

struct OwnCase {
  uint16_t compression;
  faxtest::T4Options options;
  uint32_t width;
};

class OwnStreamsInLibtiff : public ::testing::TestWithParam<OwnCase> {};

TEST_P(OwnStreamsInLibtiff, DecodeToTheSourcePixels) {
  if (!HaveTiffcp()) GTEST_SKIP() << "tiffcp missing";
  testsupport::TempDir dir;
  const OwnCase& c = GetParam();
  const Picture picture = faxtest::MakeTestPicture(c.width, 33, c.width + 5);
  const auto stream = c.compression == 4 ? faxtest::EncodeT6(picture)
                                         : faxtest::EncodeT4(picture, c.options);
  faxtest::WriteFile(dir.file("own.tif"),
                     faxtest::MakeTiff(c.width, picture.height, c.compression, stream));
  ASSERT_TRUE(faxtest::Run("tiffcp -c none " + dir.file("own.tif") + " " + dir.file("plain.tif")));
  Picture decoded;
  ASSERT_TRUE(faxtest::PictureFromUncompressedTiff(faxtest::ReadFile(dir.file("plain.tif")), decoded));
  ExpectSame(picture, decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, OwnStreamsInLibtiff,
    ::testing::Values(OwnCase{2, {false, false, true}, 1728}, OwnCase{2, {false, false, true}, 3001},
                      OwnCase{3, {true, false, false}, 1728}, OwnCase{3, {true, true, false}, 2600},
                      OwnCase{4, {}, 1728}, OwnCase{4, {}, 5555}, OwnCase{4, {}, 13}));

}  // namespace
