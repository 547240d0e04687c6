// Fax pages decoded through the exports: T.4 variants, strips, pages, row
// positioning and narrow host rows.
#include "fax_fixture.h"

namespace faxreadertest {
namespace {

using faxtest::MakeTestPicture;

class FaxRows : public FaxTest {
 protected:
  Rows ReadAll(const std::vector<uint8_t>& file, uint32_t width, uint32_t height) {
    readertest::OpenImage image(api, "t.vlf", file);
    EXPECT_EQ(image.initResult, 1) << api.lastError();
    if (image.initResult != 1) return {};
    ImageHeaderRecord record{};
    EXPECT_EQ(image.buildHead(record), 1);
    int32_t result = 0;
    Rows rows = image.read(height, Stride(width), 0, nullptr, &result);
    EXPECT_EQ(result, 1) << api.lastError();
    return rows;
  }
};

TEST_F(FaxRows, RecognisesOnlyTheFaxMark) {
  EXPECT_EQ(api.verifyBytes({'F', 'F', 0, 0}), 1);
  EXPECT_EQ(api.verifyBytes({'I', 'I', 42, 0}), 0);
  EXPECT_EQ(api.verifyBytes({'M', 'M', 0, 42}), 0);
  EXPECT_EQ(api.verifyBytes({'F', 'G'}), 0);
  // Nor does the TIFF reader take a fax file.
  testsupport::LoadedModule tiffReader("rdtiff.DIL");
  if (!tiffReader) GTEST_SKIP() << "rdtiff.DIL not built";
  auto verify = tiffReader.get<OVDLverify_img_fn>("OVDLverify_img");
  ASSERT_NE(verify, nullptr);
  uint8_t first[kVerifyBytes] = {'F', 'F', 42, 0};
  EXPECT_EQ(verify(first, 0, 0), 0);
}

TEST_F(FaxRows, EolAndFillVariantsDecodeAlike) {
  const faxtest::Picture picture = MakeTestPicture(1728, 40, 1);
  for (faxtest::T4Options coding : {faxtest::T4Options{false, false, false},
                                    faxtest::T4Options{true, false, false},
                                    faxtest::T4Options{true, true, false}}) {
    FaxPage page{picture};
    page.coding = coding;
    page.rowsPerStrip = 16;
    EXPECT_EQ(ReadAll(FaxFile({page}), 1728, 40), ExpectedRows(picture, Stride(1728)))
        << "eol " << coding.eol << " fill " << coding.alignEol;
  }
}

TEST_F(FaxRows, EveryCompressionTagIsReadAsT4) {
  const faxtest::Picture picture = MakeTestPicture(203, 20, 2);
  for (uint16_t compression : {1, 2, 3, 4, 5, 32773}) {
    FaxPage page{picture};
    page.compression = compression;
    page.rowsPerStrip = 6;
    EXPECT_EQ(ReadAll(FaxFile({page}), 203, 20), ExpectedRows(picture, Stride(203))) << compression;
  }
  FaxPage page{picture};
  page.compression = 7;
  EXPECT_EQ(OpenResult(FaxFile({page})),
            std::make_pair(9, std::string("Unsupported FAX Option (Compression).")));
}

TEST_F(FaxRows, FillOrder2AndPhotometricOneDecodeAlike) {
  const faxtest::Picture picture = MakeTestPicture(99, 12, 3);
  FaxPage reversed{picture};
  reversed.fillOrder = 2;
  EXPECT_EQ(ReadAll(FaxFile({reversed}), 99, 12), ExpectedRows(picture, Stride(99)));
  FaxPage blackIsZero{picture};
  blackIsZero.photometric = 1;
  EXPECT_EQ(ReadAll(FaxFile({blackIsZero}), 99, 12), ExpectedRows(picture, Stride(99)));
}

TEST_F(FaxRows, SetRowRestartsAtTheStripAndMatchesSequentialRows) {
  const faxtest::Picture picture = MakeTestPicture(321, 30, 4);
  FaxPage page{picture};
  page.rowsPerStrip = 7;
  page.compression = 1;  // still T.4: the skip decodes, it does not seek by row size
  const std::vector<uint8_t> file = FaxFile({page});
  const Rows expected = ExpectedRows(picture, Stride(321));
  readertest::OpenImage image(api, "t.vlf", file);
  ASSERT_EQ(image.initResult, 1);
  for (uint32_t row : {10u, 10u, 3u, 14u, 29u, 0u, 20u}) {
    ASSERT_EQ(api.setRow(image.handle, static_cast<int32_t>(row)), 1) << row;
    Rows got = image.read(1, Stride(321));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], expected[row]) << row;
  }
}

TEST_F(FaxRows, NarrowHostRowsGetTheirShareOnly) {
  const faxtest::Picture picture = MakeTestPicture(200, 9, 5);
  readertest::OpenImage image(api, "t.vlf", FaxFile({FaxPage{picture}}));
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  ASSERT_EQ(image.buildHead(record), 1);
  int32_t result = 0;
  const Rows rows = image.read(9, 4, 0, nullptr, &result);  // 4 of 28 bytes per row
  EXPECT_EQ(result, 1);
  const Rows expected = ExpectedRows(picture, 4);
  EXPECT_EQ(rows, expected);
}

TEST_F(FaxRows, RowsInBlocksEqualOneCall) {
  const faxtest::Picture picture = MakeTestPicture(64, 25, 6);
  FaxPage page{picture};
  page.rowsPerStrip = 4;
  readertest::OpenImage image(api, "t.vlf", FaxFile({page}));
  ASSERT_EQ(image.initResult, 1);
  int32_t result = 0;
  EXPECT_EQ(image.readInBlocks(25, 7, Stride(64), &result), ExpectedRows(picture, Stride(64)));
  EXPECT_EQ(result, 1);
}

TEST_F(FaxRows, PagesOfDifferentSizes) {
  FaxPage first{MakeTestPicture(120, 10, 7)};
  FaxPage second{MakeTestPicture(2600, 6, 8)};  // runs above 2560
  for (uint32_t x = 0; x < 2600; ++x) second.picture.black[2 * 2600 + x] = x >= 5;
  second.rowsPerStrip = 4;
  readertest::OpenImage image(api, "t.vlf", FaxFile({first, second}));
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  ASSERT_EQ(image.buildHead(record), 1);
  EXPECT_EQ(record.pageCount, 2);
  EXPECT_EQ(image.read(10, Stride(120)), ExpectedRows(first.picture, Stride(120)));
  ASSERT_EQ(api.setPage(image.handle, 1), 1);
  ASSERT_EQ(image.buildHead(record), 1);
  EXPECT_EQ(image.read(6, Stride(2600)), ExpectedRows(second.picture, Stride(2600)));
  EXPECT_EQ(api.setPage(image.handle, 2), 16);
  EXPECT_EQ(api.lastError(), "Seek to non-existent page.");
  ASSERT_EQ(api.setPage(image.handle, 0), 1);
  ASSERT_EQ(image.buildHead(record), 1);
  EXPECT_EQ(image.read(10, Stride(120)), ExpectedRows(first.picture, Stride(120)));
}

TEST_F(FaxRows, ReadErrorsAreReported) {
  const faxtest::Picture picture = MakeTestPicture(80, 20, 9);
  readertest::OpenImage image(api, "t.vlf", FaxFile({FaxPage{picture}}));
  ASSERT_EQ(image.initResult, 1);
  testsupport::MemoryFiles::instance().readFailsAfterBytes = 0;
  int32_t result = 0;
  image.read(20, Stride(80), 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
}

TEST_F(FaxRows, HeaderRefusals) {
  EXPECT_EQ(OpenResult({'F', 'F', 0}),
            std::make_pair(3, std::string("Error reading from file.")));
  std::vector<uint8_t> tiff = tifftest::Build({TagsAround(FaxPage{MakeTestPicture(8, 2, 1)},
                                                          CodedStrips(FaxPage{MakeTestPicture(8, 2, 1)}))});
  EXPECT_EQ(OpenResult(tiff), std::make_pair(2, std::string("Invalid FAX Header Info (Byte Order).")));
  tifftest::Page grey = tifftest::SimplePage(8, 2, 8, 1, 1, 3, 2, {{0, 0}});
  EXPECT_EQ(OpenResult(MarkedFax(tifftest::Build({grey}))),
            std::make_pair(9, std::string("Unsupported FAX Option (Bits/Sample).")));
  // A page without StripOffsets has nothing to read rows from: at open, and
  // when a later page is chosen (the page before stays current).
  const FaxPage page{MakeTestPicture(64, 3, 2)};
  tifftest::Page noStrips = TagsAround(page, CodedStrips(page));
  noStrips.addStripOffsets = false;
  const std::string invalid = "Invalid FAX header information.";
  EXPECT_EQ(OpenResult(MarkedFax(tifftest::Build({noStrips}))), std::make_pair(2, invalid));
  readertest::OpenImage image(
      api, "t.vlf", MarkedFax(tifftest::Build({TagsAround(page, CodedStrips(page)), noStrips})));
  ASSERT_EQ(image.initResult, 1);
  EXPECT_EQ(api.setPage(image.handle, 1), 2);
  EXPECT_EQ(api.lastError(), invalid);
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  EXPECT_EQ(image.read(3, Stride(64)), ExpectedRows(page.picture, Stride(64)));
}

}  // namespace
}  // namespace faxreadertest
