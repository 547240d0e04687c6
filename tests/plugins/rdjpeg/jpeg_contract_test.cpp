// rdjpeg's contract: fixed answers, strings, recognition, invalid handles,
// the DIB header, allocation failures and the export table.
#include <cstring>

#include "export_table_check.h"
#include "reader_failures.h"
#include "jpeg_fixture.h"
#include "text_files.h"

namespace jpegtest {
namespace {

TEST_F(JpegTest, FixedAnswersAndStrings) {
  EXPECT_STREQ(api.version(), "JPEG File Reader V1.0");
  EXPECT_EQ(api.setExt(3, "jpg"), 1);
  EXPECT_EQ(api.escape(1, 2, 3, 4), 9);
  EXPECT_EQ(api.render(1, 2, 3, 4), 0);
  api.imgName(0, 0);  // stores id 4
  EXPECT_EQ(api.print(1, 2, 3, 4), 0);
  EXPECT_EQ(api.lastError(), "Invalid image handle.");  // print stores nothing
  EXPECT_EQ(api.setPage, nullptr);
  EXPECT_EQ(api.getPage, nullptr);
  const std::pair<UINT, const char*> strings[] = {
      {1, "Cannot open file."},
      {2, "Error reading from file."},
      {3, "Unable to allocate memory for image."},
      {4, "Invalid image handle."},
      {5, "Unexpected End of JPG File reached."},
      {6, "Orvello Internal Error: Tried to print JPG file from DLL."},
      {7, "Invalid JPG header information."},
      {8, "Unsupported JPG option."},
      {1000, "JPEG Image~*.jpg~"},
  };
  for (const auto& [id, text] : strings) {
    char buffer[96] = {};
    EXPECT_GT(LoadStringA(api.module.handle(), id, buffer, sizeof buffer), 0) << id;
    EXPECT_STREQ(buffer, text);
  }
}

TEST_F(JpegTest, VerifyWantsSoiInTheFirstTwoBytes) {
  EXPECT_EQ(api.verifyBytes({0xFF, 0xD8}), 1);
  EXPECT_EQ(api.verifyBytes({0xFF, 0xD8, 0xFF, 0xE1}), 1);
  EXPECT_EQ(api.verifyBytes({0xFF, 0xD9}), 0);
  EXPECT_EQ(api.verifyBytes({0xD8, 0xFF}), 0);
  EXPECT_EQ(api.verifyBytes({0xFF}), 0);
  EXPECT_EQ(api.verify(nullptr, 0, 0), 0);
}

TEST_F(JpegTest, EveryHandleTakingCallRefusesAnInvalidHandle) {
  HGLOBAL freed = 0;
  {
    readertest::OpenImage image(api, "gone.jpg", Cjpeg(MakePicture(8, 8, 1), {}));
    ASSERT_EQ(image.initResult, 1);
    freed = image.handle;
  }
  HGLOBAL foreign = GlobalAlloc(GHND, 1 << 14);
  for (HGLOBAL bad : {HGLOBAL{0}, freed, foreign}) {
    uint8_t buffer[32];
    ImageHeaderRecord record{};
    for (int32_t result : {api.close(bad), api.open(bad, 0), api.closeKeep(bad),
                           api.readRows(bad, buffer, 1, 32, 0, nullptr), api.setRow(bad, 0),
                           api.buildHead(bad, &record), api.imgName(bad, 0)}) {
      EXPECT_EQ(result, 8);
    }
    EXPECT_EQ(api.lastError(), "Invalid image handle.");
  }
  GlobalFree(foreign);
}

TEST_F(JpegTest, DibHeaderOfAColourImage) {
  readertest::OpenImage image(api, "head.jpg", Cjpeg(MakePicture(33, 7, 2), {}));
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  record.pageCount = 77;
  Bytes info;
  ASSERT_EQ(image.buildHead(record, &info), 1);
  EXPECT_EQ(record.width, 33u);
  EXPECT_EQ(record.height, 7u);
  EXPECT_EQ(record.zeroWord, 0u);
  EXPECT_EQ(record.pageCount, 77u);  // not written
  ASSERT_EQ(info.size(), 40u);
  BITMAPINFOHEADER h;
  std::memcpy(&h, info.data(), sizeof h);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biCompression, 0u);
  EXPECT_EQ(h.biSizeImage, 7u * 100u);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(h.biClrImportant, 0u);
}

TEST_F(JpegTest, EveryAllocationFailureIsReportedAndLeavesNothingBehind) {
  const Bytes jpeg = Cjpeg(MakePicture(40, 24, 3), {"-sample", "2x2"});
  readertest::ExpectEveryAllocationFailureReported(api, "alloc.jpg", jpeg, 20, [&](HGLOBAL h) {
    return readertest::BuildHeadAndRead(api, h, 24, 120);
  });
}

TEST_F(JpegTest, ExportTableMatchesTheModule) {
  testsupport::ExpectExportsAsTabled(api.module.handle(), testsupport::binPath("rdjpeg.DIL"), 16);
}

}  // namespace
}  // namespace jpegtest
