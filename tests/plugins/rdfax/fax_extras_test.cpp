// GetRawStripData and GetTiffHeader, the fax reader's own exports.
#include "fax_fixture.h"
#include "plugin/tiff_info.h"

namespace faxreadertest {
namespace {

using GetRawStripDataFn = HGLOBAL(WINAPI*)(HGLOBAL image, DWORD* byteCount);
using GetTiffHeaderFn = int32_t(WINAPI*)(HGLOBAL image, void* destination);

class FaxExtras : public FaxTest {
 protected:
  GetRawStripDataFn rawStrips = api.module.get<GetRawStripDataFn>("GetRawStripData");
  GetTiffHeaderFn tiffHeader = api.module.get<GetTiffHeaderFn>("GetTiffHeader");

  std::vector<uint8_t> TakeBlock(HGLOBAL block) {
    std::vector<uint8_t> bytes(GlobalSize(block));
    if (!bytes.empty()) std::memcpy(bytes.data(), GlobalLock(block), bytes.size());
    GlobalUnlock(block);
    GlobalFree(block);
    return bytes;
  }
};

TEST_F(FaxExtras, ExportedUnderTheirOrdinals) {
  ASSERT_NE(rawStrips, nullptr);
  ASSERT_NE(tiffHeader, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(api.module.handle(), MAKEINTRESOURCEA(97))),
            reinterpret_cast<void*>(rawStrips));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(api.module.handle(), MAKEINTRESOURCEA(98))),
            reinterpret_cast<void*>(tiffHeader));
}

TEST_F(FaxExtras, RawStripDataHoldsTheStripsBackToBack) {
  std::vector<std::vector<uint8_t>> strips = {std::vector<uint8_t>(5000), std::vector<uint8_t>(100),
                                              std::vector<uint8_t>(4096)};
  std::vector<uint8_t> all;
  for (size_t s = 0; s < strips.size(); ++s) {
    for (size_t i = 0; i < strips[s].size(); ++i) strips[s][i] = static_cast<uint8_t>(i * 7 + s);
    all.insert(all.end(), strips[s].begin(), strips[s].end());
  }
  tifftest::Page page = tifftest::SimplePage(64, 3, 1, 1, 0, 3, 1, strips);
  readertest::OpenImage image(api, "t.vlf", MarkedFax(tifftest::Build({page})));
  ASSERT_EQ(image.initResult, 1) << api.lastError();
  DWORD count = 0;
  HGLOBAL block = rawStrips(image.handle, &count);
  ASSERT_NE(block, HGLOBAL{}) << api.lastError();
  EXPECT_EQ(count, 5000u + 100u + 4096u);
  EXPECT_EQ(TakeBlock(block), all);
}

TEST_F(FaxExtras, RowsReadAfterRawStripDataNeedNoSetRow) {
  const faxtest::Picture picture = faxtest::MakeTestPicture(150, 12, 3);
  FaxPage page{picture};
  page.rowsPerStrip = 5;
  readertest::OpenImage image(api, "t.vlf", FaxFile({page}));
  ASSERT_EQ(image.initResult, 1);
  const Rows expected = ExpectedRows(picture, Stride(150));
  EXPECT_EQ(image.read(4, Stride(150)), Rows(expected.begin(), expected.begin() + 4));
  DWORD count = 0;
  TakeBlock(rawStrips(image.handle, &count));
  EXPECT_EQ(image.read(8, Stride(150)), Rows(expected.begin() + 4, expected.end()));
}

TEST_F(FaxExtras, RawStripDataRefusals) {
  // No StripByteCounts: nothing to hand out.
  tifftest::Page page = tifftest::SimplePage(64, 3, 1, 1, 0, 3, 3, {{1, 2, 3}});
  page.addByteCounts = false;
  {
    readertest::OpenImage image(api, "t.vlf", MarkedFax(tifftest::Build({page})));
    ASSERT_EQ(image.initResult, 1) << api.lastError();
    DWORD count = 99;
    EXPECT_EQ(rawStrips(image.handle, &count), HGLOBAL{});
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(api.lastError(), "Invalid FAX header information.");
  }
  // A byte count reaching past the end of the file.
  tifftest::Page longCount = tifftest::SimplePage(64, 3, 1, 1, 0, 3, 3, {{1, 2, 3}});
  longCount.addByteCounts = false;
  longCount.entries.push_back({279, tifftest::kLong, {1000000}});
  {
    readertest::OpenImage image(api, "t.vlf", MarkedFax(tifftest::Build({longCount})));
    ASSERT_EQ(image.initResult, 1) << api.lastError();
    DWORD count = 0;
    EXPECT_EQ(rawStrips(image.handle, &count), HGLOBAL{});
    EXPECT_EQ(api.lastError(), "Error reading from file.");
  }
  DWORD count = 0;
  EXPECT_EQ(rawStrips(0, &count), HGLOBAL{});
  EXPECT_EQ(api.lastError(), "Invalid image handle.");
}

TEST_F(FaxExtras, TiffHeaderDescribesTheCurrentPage) {
  FaxPage first{faxtest::MakeTestPicture(120, 10, 1)};
  FaxPage second{faxtest::MakeTestPicture(333, 7, 2)};
  readertest::OpenImage image(api, "t.vlf", FaxFile({first, second}));
  ASSERT_EQ(image.initResult, 1);
  tiff::TiffInfo info{};
  ASSERT_EQ(tiffHeader(image.handle, &info), 1);
  EXPECT_EQ(info.byteOrder, tiff::kMarkFax);
  EXPECT_EQ(info.imageWidth, 120u);
  EXPECT_EQ(info.imageLength, 10u);
  EXPECT_EQ(info.pageCount, 2u);
  ASSERT_EQ(api.setPage(image.handle, 1), 1);
  ASSERT_EQ(tiffHeader(image.handle, &info), 1);
  EXPECT_EQ(info.imageWidth, 333u);
  EXPECT_EQ(info.imageLength, 7u);
  EXPECT_EQ(info.pageCount, 2u);
  EXPECT_EQ(tiffHeader(0, &info), 8);
  EXPECT_EQ(api.lastError(), "Invalid image handle.");
}

}  // namespace
}  // namespace faxreadertest
