// rdgem's contract: fixed answers, strings, invalid handles, the image life
// cycle, init failures, allocation failures and the export table.
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include "export_table_check.h"
#include "gem_fixture.h"

namespace gemtest {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes SmallFile() {
  return Encode(MakePicture(40, 6, 9));
}

TEST_F(GemTest, FixedAnswersAndStrings) {
  EXPECT_STREQ(api.version(), "IMG File Reader V1.0");
  EXPECT_EQ(api.setExt(3, "img"), 1);
  EXPECT_EQ(api.escape(1, 2, 3, 4), 9);
  EXPECT_EQ(api.render(1, 2, 3, 4), 0);
  api.imgName(0, 0);  // stores id 4
  EXPECT_EQ(api.print(1, 2, 3, 4), 0);
  EXPECT_EQ(api.lastError(), "Invalid image handle.");  // print stores nothing
  api.wep(0);
  EXPECT_EQ(api.setPage, nullptr);  // a single-image reader has no pages
  EXPECT_EQ(api.getPage, nullptr);

  char text[64];
  HMODULE module = api.module.handle();
  EXPECT_GT(LoadStringA(module, 1000, text, sizeof text), 0);
  EXPECT_STREQ(text, "GEM/Ventura IMG~*.img~");
  LoadStringA(module, 5, text, sizeof text);
  EXPECT_STREQ(text, "Unexpected End of IMG File reached.");
  LoadStringA(module, 6, text, sizeof text);
  EXPECT_STREQ(text, "Vantile Internal Error: Tried to print IMG file from DLL.");
  LoadStringA(module, 8, text, sizeof text);
  EXPECT_STREQ(text, "Unsupported IMG version.");
}

TEST_F(GemTest, VerifyLooksAtTheFirstThreeWords) {
  EXPECT_EQ(api.verifyBytes(SmallFile()), 1);
  EXPECT_EQ(api.verifyBytes(GemFile(8, 1).version(2).bytes()), 0);
  EXPECT_EQ(api.verifyBytes(GemFile(8, 1).headerWords(9).bytes()), 0);
  EXPECT_EQ(api.verifyBytes(GemFile(8, 1).planes(4).bytes()), 0);
  EXPECT_EQ(api.verifyBytes({}), 0);
  EXPECT_EQ(api.verify(nullptr, 0, 0), 0);
}

TEST_F(GemTest, DibHeader) {
  readertest::OpenImage image(api, "head.img", GemFile(70, 3).bytes());
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  record.word0 = 0x1234;
  record.zeroWord = 99;
  record.pageCount = 77;
  std::vector<uint8_t> info;
  ASSERT_EQ(image.buildHead(record, &info), 1);
  EXPECT_EQ(record.word0, 0x1234u);
  EXPECT_EQ(record.zeroWord, 0u);
  EXPECT_EQ(record.width, 70u);
  EXPECT_EQ(record.height, 3u);
  EXPECT_EQ(record.pageCount, 77u);  // not written by a single-image reader
  ASSERT_EQ(info.size(), 48u);
  BITMAPINFOHEADER h;
  std::memcpy(&h, info.data(), sizeof h);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 70);
  EXPECT_EQ(h.biHeight, 3);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 1);
  EXPECT_EQ(h.biCompression, 0u);
  EXPECT_EQ(h.biSizeImage, 12u * 3u);
  EXPECT_EQ(h.biXPelsPerMeter, 0);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(Bytes(info.begin() + 40, info.end()), (Bytes{0, 0, 0, 0, 255, 255, 255, 0}));
}

TEST_F(GemTest, EveryHandleTakingCallRefusesAnInvalidHandle) {
  HGLOBAL freed = 0;
  {
    readertest::OpenImage image(api, "gone.img", SmallFile());
    freed = image.handle;
  }
  HGLOBAL foreign = GlobalAlloc(GHND, 4096);  // a live block that is not an image
  for (HGLOBAL bad : {HGLOBAL{0}, freed, foreign, testsupport::HandleFromNumber(0xDEADBEEF)}) {
    uint8_t buffer[16];
    ImageHeaderRecord record{};
    auto check = [&](int32_t result, const char* call) {
      EXPECT_EQ(result, 8) << call << " with handle " << bad;
      EXPECT_EQ(api.lastError(), "Invalid image handle.") << call;
    };
    check(api.close(bad), "close_image");
    check(api.open(bad, 0), "open");
    check(api.closeKeep(bad), "close_keep");
    check(api.readRows(bad, buffer, 1, 16, 0, nullptr), "read_rows");
    check(api.setRow(bad, 0), "set_row");
    check(api.buildHead(bad, &record), "buildDIBhead");
    check(api.imgName(bad, 0), "img_name");
    EXPECT_EQ(record.bitmapInfo, nullptr);
  }
  GlobalFree(foreign);
}

TEST_F(GemTest, ErrorStringTruncatesAndIsPerThread) {
  api.imgName(0, 0);
  char text[16];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(api.errorString(text, 8), 1);
  EXPECT_STREQ(text, "Invalid");
  EXPECT_EQ(api.errorString(text, 1), 1);
  EXPECT_STREQ(text, "");
  text[0] = 'x';
  EXPECT_EQ(api.errorString(text, 0), 1);
  EXPECT_EQ(text[0], 'x');
  EXPECT_EQ(api.errorString(nullptr, 16), 1);

  std::string otherThread = "unset";
  std::thread([&] { otherThread = api.lastError(); }).join();
  EXPECT_EQ(otherThread, "");  // no error on that thread
  EXPECT_EQ(api.lastError(), "Invalid image handle.");
}

TEST_F(GemTest, CloseKeepAndOpen) {
  Picture picture = MakePicture(40, 6, 9);
  readertest::OpenImage image(api, "keep.img", Encode(picture));
  ASSERT_EQ(image.initResult, 1);
  auto expected = ExpectedRows(picture, 8);
  auto& files = testsupport::MemoryFiles::instance();
  EXPECT_EQ(image.read(2, 8), std::vector(expected.begin(), expected.begin() + 2));

  EXPECT_EQ(api.closeKeep(image.handle), 1);
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  EXPECT_EQ(files.openHandles(), 0);
  int32_t result = 0;
  image.read(1, 8, 0, nullptr, &result);
  EXPECT_EQ(result, 3);  // the file is closed
  EXPECT_EQ(api.lastError(), "Error reading from file.");

  files.failOpen = true;
  EXPECT_EQ(api.open(image.handle, 0), 4);
  EXPECT_EQ(api.lastError(), "Cannot open file.");
  files.failOpen = false;
  int opens = files.opens;
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(api.open(image.handle, 0), 1);  // already open: no second open
  EXPECT_EQ(files.opens, opens + 1);
  // The current row was kept: reading goes on at row 2.
  EXPECT_EQ(image.read(4, 8), std::vector(expected.begin() + 2, expected.end()));
}

TEST_F(GemTest, InitFailuresCloseTheFileAndFreeTheBlock) {
  auto& files = testsupport::MemoryFiles::instance();
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t result;
    const char* text;
  };
  Bytes truncated = SmallFile();
  truncated.resize(10);
  const Case cases[] = {
      {"version2", GemFile(8, 1).version(2).literal({0}).bytes(), 3, "Error reading from file."},
      {"header9", GemFile(8, 1).headerWords(9).literal({0}).bytes(), 3, "Error reading from file."},
      {"planes4", GemFile(8, 1).planes(4).literal({0}).bytes(), 3, "Error reading from file."},
      {"short", truncated, 3, "Error reading from file."},
      {"width0", GemFile(0, 5).bytes(), 2, "Invalid IMG header information."},
      {"height0", GemFile(8, 0).bytes(), 2, "Invalid IMG header information."},
  };
  for (const Case& c : cases) {
    int closes = files.closes;
    HGLOBAL handle = testsupport::HandleFromNumber(0xFFFF);
    files.put(c.name, c.bytes);
    EXPECT_EQ(api.init(c.name, &handle, files.openForRead(c.name), 0, 0, files.table()), c.result) << c.name;
    EXPECT_EQ(api.lastError(), c.text) << c.name;
    EXPECT_EQ(handle, HGLOBAL{}) << c.name;
    EXPECT_EQ(files.closes, closes + 1) << c.name;
  }
  // A null file table or handle address: refused without a crash.
  HGLOBAL handle = 0;
  EXPECT_EQ(api.init("x", &handle, 5, 0, 0, nullptr), 3);
  files.put("null.img", SmallFile());
  EXPECT_EQ(api.init("null.img", nullptr, files.openForRead("null.img"), 0, 0, files.table()), 8);
}

TEST_F(GemTest, AllocationFailuresReportNoMemory) {
  auto& files = testsupport::MemoryFiles::instance();
  files.put("mem.img", SmallFile());
  HGLOBAL handle = 0;
  winport_test_fail_allocation(1);
  EXPECT_EQ(api.init("mem.img", &handle, files.openForRead("mem.img"), 0, 0, files.table()), 6);
  EXPECT_EQ(api.lastError(), "Unable to allocate memory for image.");
  EXPECT_EQ(handle, HGLOBAL{});
  EXPECT_EQ(files.openHandles(), 0);

  readertest::OpenImage image(api, "mem.img", SmallFile());
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  winport_test_fail_allocation(1);
  EXPECT_EQ(api.buildHead(image.handle, &record), 6);
  EXPECT_EQ(record.bitmapInfo, nullptr);
  winport_test_fail_allocation(1);
  int32_t result = 0;
  image.read(1, 8, 0, nullptr, &result);
  EXPECT_EQ(result, 6);
  EXPECT_EQ(api.lastError(), "Unable to allocate memory for image.");
  // Nothing was lost: the first row is still the next one.
  EXPECT_EQ(image.read(1, 8)[0], ExpectedRows(MakePicture(40, 6, 9), 8)[0]);
  EXPECT_EQ(image.buildHead(record), 1);
}

// Every entry of the export table resolves by name and by ordinal to one
// address, and the module exports no function outside the table.
TEST_F(GemTest, ExportTableMatchesTheModule) {
  testsupport::ExpectExportsAsTabled(api.module.handle(), testsupport::binPath("rdgem.DIL"), 16);
  EXPECT_EQ(GetProcAddress(api.module.handle(), MAKEINTRESOURCEA(kOrdOVDLset_page)), nullptr);
}

}  // namespace
}  // namespace gemtest
