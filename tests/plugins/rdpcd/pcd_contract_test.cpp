// rdpcd's contract: fixed answers, strings, export table, invalid handles,
// init and DIB header with their failures, closing and reopening.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "export_table_check.h"
#include "pcd_fixture.h"

namespace pcdreadertest {
namespace {

using Bytes = std::vector<uint8_t>;

TEST_F(PcdReaderTest, FixedAnswersAndStrings) {
  EXPECT_STREQ(api.version(), "PCD File Reader V1.0");
  EXPECT_EQ(api.setExt(3, "pcd"), 1);
  EXPECT_EQ(api.escape(1, 2, 3, 4), 9);
  EXPECT_EQ(api.render(1, 2, 3, 4), 0);
  api.imgName(0, 0);  // stores id 4
  EXPECT_EQ(api.print(1, 2, 3, 4), 5);
  EXPECT_EQ(api.lastError(), "Invalid image handle.");  // print stores nothing
  api.wep(0);
  EXPECT_EQ(api.setPage, nullptr);
  EXPECT_EQ(api.getPage, nullptr);
  char text[64];
  HMODULE module = api.module.handle();
  const std::pair<UINT, const char*> strings[] = {
      {1, "Cannot open file."},   {2, "Error reading from file."},
      {3, "Unable to allocate memory for image."}, {4, "Invalid image handle."},
      {1000, "Photo CD~*.pcd~"}};
  for (const auto& [id, expected] : strings) {
    EXPECT_GT(LoadStringA(module, id, text, sizeof text), 0) << id;
    EXPECT_STREQ(text, expected);
  }
  // Whatever the bytes: recognition is the library's, at open.
  EXPECT_EQ(api.verifyBytes(pcdtest::BuildImagePac(pcdtest::Flat(1, 2, 3))), 2);
  EXPECT_EQ(api.verifyBytes(Bytes{'I', 'I', 42, 0}), 2);
  EXPECT_EQ(api.verifyBytes({}), 2);
  EXPECT_EQ(api.verify(nullptr, 0, 0), 2);
}

TEST_F(PcdReaderTest, ExportTableMatchesTheModule) {
  testsupport::ExpectExportsAsTabled(api.module.handle(), testsupport::binPath("rdpcd.DIL"), 16);
}

TEST_F(PcdReaderTest, EveryHandleTakingCallRefusesAnInvalidHandle) {
  HGLOBAL freed = openPattern()->handle;
  HGLOBAL foreign = GlobalAlloc(GHND, 4096);  // a live block that is not an image
  for (HGLOBAL bad : {HGLOBAL{0}, freed, foreign, testsupport::HandleFromNumber(0xDEADBEEF)}) {
    uint8_t buffer[16];
    ImageHeaderRecord record{};
    const std::string missing = dir.file("missing.pcd");
    auto prime = [&] {  // stores id 1, so each check sees the id its own call stored
      HGLOBAL unused = 0;
      api.init(missing.c_str(), &unused, 0, 0, 0, nullptr);
    };
    auto check = [&](int32_t result, const char* call) {
      EXPECT_EQ(result, 8) << call << " with handle " << bad;
      EXPECT_EQ(api.lastError(), "Invalid image handle.") << call;
    };
    check((prime(), api.close(bad)), "close_image");
    check((prime(), api.open(bad, 0)), "open");
    check((prime(), api.closeKeep(bad)), "close_keep");
    check((prime(), api.readRows(bad, buffer, 1, 16, 0, nullptr)), "read_rows");
    check((prime(), api.setRow(bad, 0)), "set_row");
    check((prime(), api.buildHead(bad, &record)), "buildDIBhead");
    check((prime(), api.imgName(bad, 0)), "img_name");
    EXPECT_EQ(record.bitmapInfo, nullptr);
  }
  GlobalFree(foreign);
}

TEST_F(PcdReaderTest, InitFailuresLeaveNothingBehind) {
  auto notPcd = open("text.pcd", Bytes(9000, 'x'));
  EXPECT_EQ(notPcd->initResult, 0);
  EXPECT_EQ(notPcd->handle, HGLOBAL{});
  EXPECT_EQ(api.lastError(), "Cannot open file.");

  HGLOBAL handle = testsupport::HandleFromNumber(0xFFFF);
  EXPECT_EQ(api.init(dir.file("missing.pcd").c_str(), &handle, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(handle, HGLOBAL{});
  EXPECT_EQ(api.init(dir.file("missing.pcd").c_str(), nullptr, 0, 0, 0, nullptr), 8);

  // The block cannot be had: the library's image is closed again.
  winport_test_fail_allocation(1);
  auto noMemory = openPattern();
  EXPECT_EQ(noMemory->initResult, 6);
  EXPECT_EQ(noMemory->handle, HGLOBAL{});
  EXPECT_EQ(api.lastError(), "Unable to allocate memory for image.");
  EXPECT_EQ(library.openImages(), 0u);
}

TEST_F(PcdReaderTest, DibHeaderAndItsFailures) {
  for (uint32_t turns : {0u, 1u}) {
    auto image = openPattern(turns);
    ASSERT_EQ(image->initResult, 1);
    ImageHeaderRecord record{};
    record.word0 = 0x1234;
    record.zeroWord = 99;
    record.pageCount = 77;
    std::vector<uint8_t> info;
    ASSERT_EQ(image->buildHead(record, &info), 1);
    const int32_t width = turns == 0 ? 768 : 512, height = turns == 0 ? 512 : 768;
    EXPECT_EQ(record.word0, 0x1234u);
    EXPECT_EQ(record.zeroWord, 0u);
    EXPECT_EQ(record.width, uint32_t(width));
    EXPECT_EQ(record.height, uint32_t(height));
    EXPECT_EQ(record.pageCount, 77u);
    ASSERT_EQ(info.size(), 40u);
    BITMAPINFOHEADER h;
    std::memcpy(&h, info.data(), sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, width);
    EXPECT_EQ(h.biHeight, height);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 0u);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biYPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 0u);
  }
  auto image = openPattern();
  ImageHeaderRecord record{};
  winport_test_fail_allocation(1);
  EXPECT_EQ(api.buildHead(image->handle, &record), 6);
  EXPECT_EQ(api.lastError(), "Unable to allocate memory for image.");
  // Without a library image the size cannot be had: refused, no block handed over.
  EXPECT_EQ(api.closeKeep(image->handle), 1);
  EXPECT_EQ(api.buildHead(image->handle, &record), 0);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  EXPECT_EQ(record.bitmapInfo, nullptr);
  EXPECT_EQ(api.buildHead(image->handle, nullptr), 9);
}

TEST_F(PcdReaderTest, CloseKeepAndOpenGoThroughTheLibrary) {
  auto image = openPattern();
  ASSERT_EQ(image->initResult, 1);
  EXPECT_EQ(library.openImages(), 1u);
  auto first = image->read(2, kStride);
  EXPECT_EQ(api.closeKeep(image->handle), 1);
  EXPECT_EQ(api.closeKeep(image->handle), 1);
  EXPECT_EQ(library.openImages(), 0u);
  int32_t result = -1;
  image->read(1, kStride, 0, nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.lastError(), "Error reading from file.");

  EXPECT_EQ(api.open(image->handle, 0), 1);
  EXPECT_EQ(api.open(image->handle, 0), 1);  // already open: kept, no second image
  EXPECT_EQ(library.openImages(), 1u);
  EXPECT_EQ(image->read(2, kStride), first);

  EXPECT_EQ(api.closeKeep(image->handle), 1);
  std::filesystem::remove(paths_.back());
  EXPECT_EQ(api.open(image->handle, 0), 0);
  EXPECT_EQ(api.lastError(), "Cannot open file.");
  pcdtest::WriteFile(paths_.back(), pcdtest::BuildImagePac(pcdtest::LumaPattern()));
  EXPECT_EQ(api.open(image->handle, 0), 1);
  // Closing the image releases the library's image too.
  EXPECT_EQ(api.close(image->handle), 1);
  image->handle = 0;
  EXPECT_EQ(library.openImages(), 0u);
}

}  // namespace
}  // namespace pcdreadertest
