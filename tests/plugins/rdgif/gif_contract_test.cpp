// rdgif's contract: fixed answers, strings, recognition, invalid handles,
// init and allocation failures, the file hand-back and the export table.
#include <cstdio>
#include <set>
#include <thread>

#include "export_table_check.h"
#include "gif_fixture.h"

namespace giftest {
namespace {

Bytes SmallFile() {
  return EncodeGif(MakePicture(20, 9, 8, 4), {});
}

TEST_F(GifTest, FixedAnswersAndStrings) {
  EXPECT_STREQ(api.version(), "GIF File Reader V1.0");
  EXPECT_EQ(api.setExt(1, "gif"), 1);
  EXPECT_EQ(api.escape(1, 2, 3, 4), 9);
  EXPECT_EQ(api.render(1, 2, 3, 4), 0);
  EXPECT_EQ(api.print(1, 2, 3, 4), 5);
  EXPECT_EQ(api.lastError(), "Vantile Internal Error: Tried to print GIF file from DLL.");
  EXPECT_EQ(api.setPage, nullptr);
  EXPECT_EQ(api.getPage, nullptr);
  const std::pair<UINT, const char*> strings[] = {
      {5, "Unexpected End of File reached."},
      {7, "Invalid Signature Information in GIF header."},
      {9, "Vantile is currently unable to process interlaced GIF images."},
      {10, "Error processing GIF Image Lines."},
      {1000, "CompuServe GIF~*.gif~"}};
  for (auto [id, text] : strings) {
    char buffer[128] = "";
    EXPECT_GT(LoadStringA(api.module.handle(), id, buffer, sizeof buffer), 0) << id;
    EXPECT_STREQ(buffer, text);
  }
  std::string otherThread = "unset";
  std::thread([&] { otherThread = api.lastError(); }).join();
  EXPECT_EQ(otherThread, "");  // the last error is per thread
}

TEST_F(GifTest, VerifyLooksForTheSignature) {
  EXPECT_EQ(api.verifyBytes(SmallFile()), 1);
  EXPECT_EQ(api.verifyBytes({'G', 'I', 'F', '0', '0', '0'}), 1);  // the version is not checked
  EXPECT_EQ(api.verifyBytes({'G', 'I', 'X'}), 0);
  EXPECT_EQ(api.verifyBytes({}), 0);
}

TEST_F(GifTest, EveryHandleTakingCallRefusesAnInvalidHandle) {
  HGLOBAL freed = 0;
  {
    readertest::OpenImage image(api, "gone.gif", SmallFile());
    freed = image.handle;
  }
  HGLOBAL foreign = GlobalAlloc(GHND, 4096);
  for (HGLOBAL bad : {HGLOBAL{0}, freed, foreign}) {
    uint8_t buffer[32];
    ImageHeaderRecord record{};
    auto check = [&](int32_t result, const char* call) {
      EXPECT_EQ(result, 8) << call;
      EXPECT_EQ(api.lastError(), "Invalid image handle.") << call;
      api.print(0, 0, 0, 0);
    };
    check(api.close(bad), "close_image");
    check(api.open(bad, 0), "open");
    check(api.closeKeep(bad), "close_keep");
    check(api.readRows(bad, buffer, 1, 32, 0, nullptr), "read_rows");
    check(api.setRow(bad, 0), "set_row");
    check(api.buildHead(bad, &record), "buildDIBhead");
    check(api.imgName(bad, 0), "img_name");
  }
  GlobalFree(foreign);
}

TEST_F(GifTest, InitFailuresCloseTheFileAndFreeTheBlock) {
  auto& files = testsupport::MemoryFiles::instance();
  Bytes good = SmallFile();
  Bytes signature = good;
  signature[2] = 'X';
  const size_t imageAt = 13 + 768;  // the separator after the global table
  struct Case {
    const char* name;
    Bytes bytes;
    const char* text;
  };
  const Case cases[] = {
      {"five", Bytes(good.begin(), good.begin() + 5), "Error reading from file."},
      {"signature", signature, "Invalid Signature Information in GIF header."},
      {"screen", Bytes(good.begin(), good.begin() + 10), "Error reading from file."},
      {"table", Bytes(good.begin(), good.begin() + 500), "Error reading from file."},
      {"no-image", Bytes(good.begin(), good.begin() + imageAt), "Error reading from file."},
      {"descriptor", Bytes(good.begin(), good.begin() + imageAt + 5), "Error reading from file."},
      {"code-size", Bytes(good.begin(), good.begin() + imageAt + 10), "Error reading from file."},
  };
  for (const Case& c : cases) {
    int closes = files.closes;
    HGLOBAL handle = testsupport::HandleFromNumber(0xFFFF);
    files.put(c.name, c.bytes);
    EXPECT_EQ(api.init(c.name, &handle, files.openForRead(c.name), 0, 0, files.table()), 3) << c.name;
    EXPECT_EQ(api.lastError(), c.text) << c.name;
    EXPECT_EQ(handle, HGLOBAL{}) << c.name;
    EXPECT_EQ(files.closes, closes + 1) << c.name;
  }
}

TEST_F(GifTest, AllocationFailuresReportNoMemory) {
  auto& files = testsupport::MemoryFiles::instance();
  for (int n : {1, 2}) {  // the image block, then the decoder block
    files.put("mem.gif", SmallFile());
    HGLOBAL handle = 0;
    winport_test_fail_allocation(n);
    EXPECT_EQ(api.init("mem.gif", &handle, files.openForRead("mem.gif"), 0, 0, files.table()), 6) << n;
    EXPECT_EQ(api.lastError(), "Unable to allocate memory for image.");
    EXPECT_EQ(files.openHandles(), 0);
    winport_test_fail_allocation(0);
  }
  GifOptions interlaced;
  interlaced.interlaced = true;
  const GifPicture picture = MakePicture(20, 9, 8, 4);
  readertest::OpenImage image(api, "mem.gif", EncodeGif(picture, interlaced));
  ASSERT_EQ(image.initResult, 1);
  winport_test_fail_allocation(2);  // the row buffer, then the interlaced picture
  int32_t result = 0;
  image.read(9, 20, 0, nullptr, &result);
  EXPECT_EQ(result, 6);
  EXPECT_EQ(image.read(9, 20), Expected(picture, 8, 20));
}

TEST_F(GifTest, CloseKeepAndOpenGoOnAtTheCurrentRow) {
  const GifPicture picture = MakePicture(20, 9, 8, 4);
  const Rows expected = Expected(picture, 8, 20);
  readertest::OpenImage image(api, "keep.gif", EncodeGif(picture, {}));
  ASSERT_EQ(image.initResult, 1);
  EXPECT_EQ(image.read(3, 20), Rows(expected.begin(), expected.begin() + 3));
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  int32_t result = 0;
  image.read(1, 20, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(image.read(6, 20), Rows(expected.begin() + 3, expected.end()));
}

TEST_F(GifTest, ExportTableMatchesTheModule) {
  testsupport::ExpectExportsAsTabled(api.module.handle(), testsupport::binPath("rdgif.DIL"), 16);
}

}  // namespace
}  // namespace giftest
