// rdtga's contract: fixed answers, strings, recognition, invalid handles, the
// process-wide last error, init and allocation failures, the file hand-back
// and the export table.
#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "export_table_check.h"
#include "tga_fixture.h"

namespace tgatest {
namespace {

Bytes SmallFile() {
  return EncodeTga(MakePicture(12, 6, 24, 9), {});
}

TEST_F(TgaTest, FixedAnswersAndStrings) {
  EXPECT_STREQ(api.version(), "Targa File Reader V1.1");
  EXPECT_EQ(api.setExt(3, "tga"), 1);
  EXPECT_EQ(api.escape(1, 2, 3, 4), 9);
  EXPECT_EQ(api.render(1, 2, 3, 4), 0);
  EXPECT_EQ(api.print(1, 2, 3, 4), 5);
  EXPECT_EQ(api.lastError(), "Vantile Internal Error: Tried to print TGA file from DLL.");
  api.wep(0);
  EXPECT_EQ(api.setPage, nullptr);
  EXPECT_EQ(api.getPage, nullptr);
  const std::pair<UINT, const char*> strings[] = {
      {5, "Unexpected End of TGA File reached."},
      {7, "This Beta Release of the TGA reader doesn't support file < v2.0"},
      {8, "Unsupported Targa version in file."},
      {1000, "Targa~*.tga~"}};
  for (auto [id, text] : strings) {
    char buffer[128] = "";
    EXPECT_GT(LoadStringA(api.module.handle(), id, buffer, sizeof buffer), 0) << id;
    EXPECT_STREQ(buffer, text);
  }
}

TEST_F(TgaTest, VerifyIsAPlausibilityTestAnsweringTwo) {
  EXPECT_EQ(api.verifyBytes(SmallFile()), 2);
  TgaOptions mapped;
  mapped.imageType = 1;
  mapped.mapType = 1;
  mapped.mapEntryBits = 24;
  mapped.map = Bytes(30, 1);
  EXPECT_EQ(api.verifyBytes(EncodeTga(MakePicture(4, 4, 8, 1), mapped)), 2);
  for (uint8_t type : {1, 2, 3, 9, 10, 11}) {
    EXPECT_EQ(api.verifyBytes({0, 0, type, 0, 0, 0, 0, 0}), 2) << int(type);
  }
  EXPECT_EQ(api.verifyBytes({0, 0, 4, 0, 0, 0, 0, 0}), 0);
  EXPECT_EQ(api.verifyBytes({0, 0, 0, 0, 0, 0, 0, 0}), 0);
  EXPECT_EQ(api.verifyBytes({0, 2, 2, 0, 0, 0, 0, 0}), 0);      // colour-map type 2
  EXPECT_EQ(api.verifyBytes({0, 0, 2, 0, 0, 1, 0, 0}), 0);      // no map but a length
  EXPECT_EQ(api.verifyBytes({0, 0, 2, 0, 0, 0, 0, 24}), 0);     // no map but an entry size
  EXPECT_EQ(api.verifyBytes({0, 1, 1, 5, 0, 4, 0, 24}), 0);     // first index above the length
  EXPECT_EQ(api.verifyBytes({0, 1, 1, 0xFF, 0xFF, 4, 0, 24}), 2);  // -1: signed comparison
  EXPECT_EQ(api.verifyBytes({0, 1, 1, 0, 0, 4, 0, 33}), 0);     // entry size above 32
  EXPECT_EQ(api.verifyBytes({'I', 'I', 42, 0, 8, 0, 0, 0}), 0);  // TIFF
  EXPECT_EQ(api.verifyBytes({0x89, 'P', 'N', 'G', 13, 10, 26, 10}), 0);
  EXPECT_EQ(api.verify(nullptr, 0, 0), 0);
}

TEST_F(TgaTest, EveryHandleTakingCallRefusesAnInvalidHandle) {
  HGLOBAL freed = 0;
  {
    readertest::OpenImage image(api, "gone.tga", SmallFile());
    freed = image.handle;
  }
  HGLOBAL foreign = GlobalAlloc(GHND, 4096);
  for (HGLOBAL bad : {HGLOBAL{0}, freed, foreign}) {
    uint8_t buffer[64];
    ImageHeaderRecord record{};
    auto check = [&](int32_t result, const char* call) {
      EXPECT_EQ(result, 8) << call;
      EXPECT_EQ(api.lastError(), "Invalid image handle.") << call;
      api.print(0, 0, 0, 0);  // a different id before the next call
    };
    check(api.close(bad), "close_image");
    check(api.open(bad, 0), "open");
    check(api.closeKeep(bad), "close_keep");
    check(api.readRows(bad, buffer, 1, 64, 0, nullptr), "read_rows");
    check(api.setRow(bad, 0), "set_row");
    check(api.buildHead(bad, &record), "buildDIBhead");
    check(api.imgName(bad, 0), "img_name");
  }
  GlobalFree(foreign);
}

// One value for the whole process: an error on one thread is the error of all.
TEST_F(TgaTest, LastErrorIsProcessWide) {
  std::thread([&] { api.imgName(0, 0); }).join();
  EXPECT_EQ(api.lastError(), "Invalid image handle.");
  std::string seen;
  api.print(0, 0, 0, 0);
  std::thread([&] { seen = api.lastError(); }).join();
  EXPECT_EQ(seen, "Vantile Internal Error: Tried to print TGA file from DLL.");
}

TEST_F(TgaTest, InitFailuresCloseTheFileAndFreeTheBlock) {
  auto& files = testsupport::MemoryFiles::instance();
  Bytes shortHeader = SmallFile();
  shortHeader.resize(17);
  Bytes type0 = SmallFile();
  type0[2] = 0;
  Bytes type12 = SmallFile();
  type12[2] = 12;
  Bytes depth12 = SmallFile();
  depth12[16] = 12;
  Bytes rleDepth1 = SmallFile();
  rleDepth1[2] = 11;
  rleDepth1[16] = 1;
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t result;
    const char* text;
  };
  const Case cases[] = {
      {"short", shortHeader, 3, "Error reading from file."},
      {"type0", type0, 3, "Unsupported Targa version in file."},
      {"type12", type12, 3, "Unsupported Targa version in file."},
      {"depth12", depth12, 3, "Unsupported Targa version in file."},
      {"rle1", rleDepth1, 3, "Unsupported Targa version in file."},
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
}

TEST_F(TgaTest, AllocationFailuresReportNoMemory) {
  auto& files = testsupport::MemoryFiles::instance();
  files.put("mem.tga", SmallFile());
  HGLOBAL handle = 0;
  winport_test_fail_allocation(1);
  EXPECT_EQ(api.init("mem.tga", &handle, files.openForRead("mem.tga"), 0, 0, files.table()), 6);
  EXPECT_EQ(api.lastError(), "Unable to allocate memory for image.");
  EXPECT_EQ(files.openHandles(), 0);

  readertest::OpenImage image(api, "mem.tga", SmallFile());
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  winport_test_fail_allocation(1);
  EXPECT_EQ(api.buildHead(image.handle, &record), 6);
  winport_test_fail_allocation(1);
  int32_t result = 0;
  image.read(1, 36, 0, nullptr, &result);
  EXPECT_EQ(result, 6);
  EXPECT_EQ(image.read(6, 36), Expected(MakePicture(12, 6, 24, 9), 36));
}

TEST_F(TgaTest, CloseKeepAndOpen) {
  const TgaPicture picture = MakePicture(12, 6, 24, 9);
  const Rows expected = Expected(picture, 36);
  readertest::OpenImage image(api, "keep.tga", EncodeTga(picture, {}));
  ASSERT_EQ(image.initResult, 1);
  auto& files = testsupport::MemoryFiles::instance();
  EXPECT_EQ(image.read(2, 36), Rows(expected.begin(), expected.begin() + 2));
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  EXPECT_EQ(files.openHandles(), 0);
  int32_t result = 0;
  image.read(1, 36, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  files.failOpen = true;
  EXPECT_EQ(api.open(image.handle, 0), 4);
  EXPECT_EQ(api.lastError(), "Cannot open file.");
  files.failOpen = false;
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(image.read(4, 36), Rows(expected.begin() + 2, expected.end()));
}

// An image inside a larger file: offsets count from the image offset, and
// the footer is looked for at offset + length - 26.
TEST_F(TgaTest, ImageAtAnOffsetInTheFile) {
  const TgaPicture picture = MakePicture(9, 7, 24, 12);
  TgaOptions o;
  o.imageType = 10;
  o.footer = true;
  o.scanTable = true;
  Bytes image = EncodeTga(picture, o);
  Bytes file(100 + image.size() + 50, 0xEE);
  std::copy(image.begin(), image.end(), file.begin() + 100);
  auto& files = testsupport::MemoryFiles::instance();
  files.put("embedded", file);
  HGLOBAL handle = 0;
  ASSERT_EQ(api.init("embedded", &handle, files.openForRead("embedded"), 100,
                     static_cast<uint32_t>(image.size()), files.table()), 1);
  std::vector<uint8_t> buffer(7 * 28, 0xA5);
  EXPECT_EQ(api.readRows(handle, buffer.data(), 7, 28, 0, nullptr), 1);
  Rows expected = Expected(picture, 28);
  for (uint32_t y = 0; y < 7; ++y) {
    EXPECT_EQ(Bytes(buffer.begin() + (6 - y) * 28, buffer.begin() + (7 - y) * 28), expected[y]) << y;
  }
  EXPECT_EQ(api.close(handle), 1);
}

TEST_F(TgaTest, ExportTableMatchesTheModule) {
  testsupport::ExpectExportsAsTabled(api.module.handle(), testsupport::binPath("rdtga.DIL"), 16);
}

}  // namespace
}  // namespace tgatest
