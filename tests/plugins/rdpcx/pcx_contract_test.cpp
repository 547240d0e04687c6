// rdpcx's contract: fixed answers, strings, recognition, the DIB header and
// palettes, pages, init failures, allocation failures, close_keep/open.
#include <set>

#include "export_table_check.h"
#include "reader_failures.h"
#include "pcx_fixture.h"

namespace pcxtest {
namespace {

Bytes SmallFile(uint32_t seed = 3) {
  return PcxFile(HeaderFor(16, 4, 1, 8), RandomPicture(16, 4, 8, seed));
}

TEST_F(PcxTest, FixedAnswersStringsAndExports) {
  EXPECT_STREQ(api.version(), "PCX/DCX File Reader V2.0");
  EXPECT_EQ(api.print(0, 0, 0, 0), 5);
  EXPECT_EQ(api.lastError(), "Orvello Internal Error: Tried to print PCX file from DLL.");
  EXPECT_EQ(api.escape(0, 0, 0, 0), 9);
  EXPECT_EQ(api.render(0, 0, 0, 0), 0);
  EXPECT_EQ(api.setExt(1, "pcx"), 1);
  const std::pair<UINT, const char*> strings[] = {
      {5, "Unexpected End of PCX File reached."},
      {7, "Invalid PCX header information."},
      {8, "Unsupported PCX version in file."},
      {1000, "Zsoft PCX/DCX~*.pcx;*.dcx~"},
  };
  for (auto [id, text] : strings) {
    char buffer[80] = {};
    LoadStringA(api.module.handle(), id, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, text);
  }
  ASSERT_NE(api.setPage, nullptr);
  ASSERT_NE(api.getPage, nullptr);
  testsupport::ExpectExportsAsTabled(api.module.handle(), testsupport::binPath("rdpcx.DIL"), 18);
}

TEST_F(PcxTest, Recognition) {
  EXPECT_EQ(api.verifyBytes(SmallFile()), 1);
  EXPECT_EQ(api.verifyBytes({10, 0, 1}), 1);
  EXPECT_EQ(api.verifyBytes({10, 5, 0}), 0);  // encoding 0
  EXPECT_EQ(api.verifyBytes({11, 5, 1}), 0);
  EXPECT_EQ(api.verifyBytes({0xB1, 0x68, 0xDE, 0x3A}), 1);
  EXPECT_EQ(api.verifyBytes({0xB1, 0x68, 0xDE, 0x3B}), 0);
  EXPECT_EQ(api.verifyBytes({}), 0);
}

TEST_F(PcxTest, DibHeaderFields) {
  Header h = HeaderFor(70, 3, 1, 8);
  h.xDpi = 300;
  h.yDpi = 72;
  readertest::OpenImage image(api, "h.pcx", PcxFile(h, RandomPicture(70, 3, 8, 1)));
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  record.word0 = 0x1234;
  record.zeroWord = 99;
  std::vector<uint8_t> info;
  ASSERT_EQ(image.buildHead(record, &info), 1);
  EXPECT_EQ(record.word0, 0x1234u);
  EXPECT_EQ(record.zeroWord, 0u);
  EXPECT_EQ(record.width, 70u);
  EXPECT_EQ(record.height, 3u);
  EXPECT_EQ(record.pageCount, 1u);
  ASSERT_EQ(info.size(), 40u + 4 * 256);
  BITMAPINFOHEADER b;
  std::memcpy(&b, info.data(), sizeof b);
  EXPECT_EQ(b.biSize, 40u);
  EXPECT_EQ(b.biPlanes, 1);
  EXPECT_EQ(b.biBitCount, 8);
  EXPECT_EQ(b.biSizeImage, 72u * 3u);
  EXPECT_EQ(b.biXPelsPerMeter, 11811);  // 300 × 39.37
  EXPECT_EQ(b.biYPelsPerMeter, 2834);   // 72 × 39.37 = 2834.64
  EXPECT_EQ(b.biClrUsed, 256u);
}

// Which colour table a page gets.
TEST_F(PcxTest, Palettes) {
  Bytes vga(768);
  for (size_t i = 0; i < vga.size(); ++i) vga[i] = static_cast<uint8_t>(i * 7);
  Header h8 = HeaderFor(8, 2, 1, 8);
  Picture p8 = RandomPicture(8, 2, 8, 2);
  // Version 5, 8 bits, marker present: the 256 colours at the end.
  Decoded d = ReadAll(PcxFile(h8, p8, &vga));
  ASSERT_EQ(d.palette.size(), 256u);
  EXPECT_EQ(d.palette[0], Quad(0, 7, 14));
  EXPECT_EQ(d.palette[255], Quad(vga[765], vga[766], vga[767]));
  // No marker before the last 768 bytes: the header's 16 colours, the rest black.
  Bytes noMarker = PcxFile(h8, p8, &vga);
  noMarker[noMarker.size() - 769] = 11;
  d = ReadAll(noMarker);
  EXPECT_EQ(d.palette[1], Quad(h8.palette[3], h8.palette[4], h8.palette[5]));
  EXPECT_EQ(d.palette[15], Quad(h8.palette[45], h8.palette[46], h8.palette[47]));
  EXPECT_EQ(d.palette[16], Quad(0, 0, 0));
  EXPECT_EQ(d.palette[255], Quad(0, 0, 0));
  // Too short a page to hold a palette: the header's.
  d = ReadAll(PcxFile(h8, p8));
  EXPECT_EQ(d.palette[2], Quad(h8.palette[6], h8.palette[7], h8.palette[8]));
  // Version 3, 16 colours: the fixed table, not the header's.
  Header h3 = HeaderFor(8, 2, 4, 1);
  h3.version = 3;
  d = ReadAll(PcxFile(h3, RandomPicture(8, 2, 4, 3)));
  ASSERT_EQ(d.palette.size(), 16u);
  EXPECT_EQ(d.palette[1], Quad(0x54, 0x54, 0xFF));
  EXPECT_EQ(d.palette[9], Quad(0x00, 0x00, 0xA8));
  EXPECT_EQ(d.palette[15], Quad(0xA8, 0xA8, 0xA8));
  // 1 bit: black and white whatever the header holds.
  Header h1 = HeaderFor(8, 2, 1, 1);
  d = ReadAll(PcxFile(h1, RandomPicture(8, 2, 1, 4)));
  ASSERT_EQ(d.palette.size(), 2u);
  EXPECT_EQ(d.palette[0], Quad(0, 0, 0));
  EXPECT_EQ(d.palette[1], Quad(255, 255, 255));
  // 2 bits: four header colours, then black.
  Header h2 = HeaderFor(8, 2, 1, 2);
  d = ReadAll(PcxFile(h2, RandomPicture(8, 2, 2, 5)));
  EXPECT_EQ(d.palette[3], Quad(h2.palette[9], h2.palette[10], h2.palette[11]));
  EXPECT_EQ(d.palette[4], Quad(0, 0, 0));
  // 24 bits: none.
  d = ReadAll(PcxFile(HeaderFor(4, 2, 3, 8), RandomPicture(4, 2, 24, 6)));
  EXPECT_TRUE(d.palette.empty());
  EXPECT_EQ(d.header.biClrUsed, 0u);
}

Bytes ThreePages() {
  Bytes a = PcxFile(HeaderFor(10, 3, 1, 8), RandomPicture(10, 3, 8, 10));
  Bytes b = PcxFile(HeaderFor(300, 2, 3, 8), RandomPicture(300, 2, 24, 11));  // wider
  Bytes c = PcxFile(HeaderFor(9, 4, 1, 1), RandomPicture(9, 4, 1, 12));
  return DcxFile({a, b, c});
}

TEST_F(PcxTest, DcxPages) {
  for (bool compact : {false, true}) {
    Bytes a = PcxFile(HeaderFor(10, 3, 1, 8), RandomPicture(10, 3, 8, 10));
    Bytes b = PcxFile(HeaderFor(300, 2, 3, 8), RandomPicture(300, 2, 24, 11));
    Header hc = HeaderFor(9, 4, 1, 1);
    Picture pc = RandomPicture(9, 4, 1, 12);
    readertest::OpenImage image(api, "d.dcx", DcxFile({a, b, PcxFile(hc, pc)}, compact));
    ASSERT_EQ(image.initResult, 1) << api.lastError();
    Decoded first = ReadImage(image);
    EXPECT_EQ(first.record.pageCount, 3u);
    EXPECT_EQ(first.header.biWidth, 10);
    ASSERT_EQ(api.setPage(image.handle, 2), 1);
    int32_t page = -1;
    EXPECT_EQ(api.getPage(image.handle, &page), 1);
    EXPECT_EQ(page, 2);
    Decoded third = ReadImage(image);
    EXPECT_EQ(third.record.pageCount, 3u);
    EXPECT_EQ(third.rows, ExpectedRows(hc, pc));
    ASSERT_EQ(api.setPage(image.handle, 1), 1);
    Decoded second = ReadImage(image);
    EXPECT_EQ(second.header.biWidth, 300);
    EXPECT_EQ(second.header.biBitCount, 24);
    // Pages that do not exist: 16, nothing changes.
    EXPECT_EQ(api.setPage(image.handle, 3), 16);
    EXPECT_EQ(api.setPage(image.handle, -1), 16);
    EXPECT_EQ(api.getPage(image.handle, &page), 1);
    EXPECT_EQ(page, 1);
  }
}

// A page whose header is broken: the image stays on the page it was on.
TEST_F(PcxTest, FailedPageChangeKeepsThePage) {
  Header ha = HeaderFor(10, 3, 1, 8);
  Picture pa = RandomPicture(10, 3, 8, 20);
  Bytes bad = SmallFile();
  bad[1] = 7;  // version
  Bytes noManufacturer = SmallFile();
  noManufacturer[0] = 0;
  Bytes file = DcxFile({PcxFile(ha, pa), bad, noManufacturer, {10, 5}});
  readertest::OpenImage image(api, "bad.dcx", file);
  ASSERT_EQ(image.initResult, 1);
  EXPECT_EQ(image.read(1, 12)[0], Bytes(ExpectedRows(ha, pa)[0]));
  const std::pair<int32_t, const char*> pages[] = {
      {1, "Unsupported PCX version in file."},
      {2, "Invalid PCX header information."},
      {3, "Error reading from file."},  // header cut short by the file's end
  };
  for (auto [number, text] : pages) {
    EXPECT_EQ(api.setPage(image.handle, number), 3);
    EXPECT_EQ(api.lastError(), text);
    int32_t page = -1;
    api.getPage(image.handle, &page);
    EXPECT_EQ(page, 0);
  }
  // Row 0 again: the page change reset the row.
  EXPECT_EQ(ReadImage(image).rows, ExpectedRows(ha, pa));
}

TEST_F(PcxTest, InitFailuresCloseTheFile) {
  auto& files = testsupport::MemoryFiles::instance();
  Bytes version1 = SmallFile();
  version1[1] = 1;
  Bytes version6 = SmallFile();
  version6[1] = 6;
  Bytes manufacturer = SmallFile();
  manufacturer[0] = 9;
  Bytes backwards = HeaderFor(4, 4, 1, 8).bytes();
  backwards[8] = 2;  // xMax below xMin
  Bytes emptyTable = DcxFile({});
  Bytes cut = SmallFile();
  cut.resize(100);
  Bytes farPage = DcxFile({SmallFile()});
  farPage[4] = 0xF0;  // first page offset beyond the file
  farPage[7] = 0x7F;
  struct Case {
    const char* name;
    Bytes bytes;
    const char* text;
  };
  const Case cases[] = {
      {"v1", version1, "Unsupported PCX version in file."},
      {"v6", version6, "Unsupported PCX version in file."},
      {"man", manufacturer, "Invalid PCX header information."},
      {"back", backwards, "Invalid PCX header information."},
      {"empty", emptyTable, "Invalid PCX header information."},
      {"far", farPage, "Error reading from file."},
      {"short", cut, "Error reading from file."},
      {"tiny", Bytes{10, 5}, "Error reading from file."},
  };
  for (const Case& c : cases) {
    int closes = files.closes;
    files.put(c.name, c.bytes);
    HGLOBAL handle = testsupport::HandleFromNumber(0xFFFF);
    EXPECT_EQ(api.init(c.name, &handle, files.openForRead(c.name), 0, 0, files.table()), 3) << c.name;
    EXPECT_EQ(api.lastError(), c.text) << c.name;
    EXPECT_EQ(handle, HGLOBAL{});
    EXPECT_EQ(files.closes, closes + 1) << c.name;
  }
  for (uint8_t version : {0, 2, 3, 4, 5}) {
    Bytes ok = SmallFile();
    ok[1] = version;
    EXPECT_EQ(OpenResult(ok).first, 1) << int(version);
  }
}

// An image inside a larger file: offsets count from the image's start and the
// given length marks its end (where the 256-colour palette is looked for).
TEST_F(PcxTest, ImageInsideALargerFile) {
  Header h = HeaderFor(6, 2, 1, 8);
  Picture p = RandomPicture(6, 2, 8, 30);
  Bytes vga(768, 0x31);
  Bytes dcx = DcxFile({PcxFile(h, p), PcxFile(h, p, &vga)});
  Bytes outer(1000 + dcx.size() + 500, 0xEE);
  std::copy(dcx.begin(), dcx.end(), outer.begin() + 1000);
  auto& files = testsupport::MemoryFiles::instance();
  files.put("outer", outer);
  HGLOBAL handle = 0;
  ASSERT_EQ(api.init("outer", &handle, files.openForRead("outer"), 1000,
                     static_cast<uint32_t>(dcx.size()), files.table()), 1);
  ASSERT_EQ(api.setPage(handle, 1), 1);
  ImageHeaderRecord record{};
  ASSERT_EQ(api.buildHead(handle, &record), 1);
  EXPECT_EQ(record.pageCount, 2u);
  EXPECT_EQ(record.bitmapInfo->bmiColors[5].rgbRed, 0x31);
  GlobalFree(GlobalHandle(record.bitmapInfo));
  std::vector<uint8_t> rows(16);
  EXPECT_EQ(api.readRows(handle, rows.data(), 2, 8, 0, nullptr), 1);
  const Bytes top = DibRow(h, p, 0);
  EXPECT_EQ(Bytes(rows.begin() + 8, rows.begin() + 14), Bytes(top.begin(), top.begin() + 6));
  EXPECT_EQ(api.close(handle), 1);
}

TEST_F(PcxTest, EveryAllocationFailureIsReportedAndLeavesNothingBehind) {
  const Bytes file = ThreePages();
  readertest::ExpectEveryAllocationFailureReported(api, "alloc.dcx", file, 10, [&](HGLOBAL h) {
    int32_t result = readertest::BuildHeadAndRead(api, h, 3, 12);
    if (result == 1) result = api.setPage(h, 1);
    std::vector<uint8_t> wide(2 * 900);
    if (result == 1) result = api.readRows(h, wide.data(), 2, 900, 0, nullptr);
    return result;
  });
}

TEST_F(PcxTest, CloseKeepAndOpenKeepTheRow) {
  Header h = HeaderFor(16, 6, 1, 8);
  Picture p = RandomPicture(16, 6, 8, 40);
  Rows expected = ExpectedRows(h, p);
  Bytes vga(768, 0x12);
  readertest::OpenImage image(api, "keep.pcx", PcxFile(h, p, &vga));
  ASSERT_EQ(image.initResult, 1);
  auto& files = testsupport::MemoryFiles::instance();
  EXPECT_EQ(image.read(2, 16), Rows(expected.begin(), expected.begin() + 2));
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  EXPECT_EQ(files.openHandles(), 0);
  int32_t result = 0;
  image.read(1, 16, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  ImageHeaderRecord record{};
  EXPECT_EQ(api.buildHead(image.handle, &record), 3);  // the palette is in the file
  files.failOpen = true;
  EXPECT_EQ(api.open(image.handle, 0), 4);
  EXPECT_EQ(api.lastError(), "Cannot open file.");
  files.failOpen = false;
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(image.read(4, 16), Rows(expected.begin() + 2, expected.end()));
}

TEST_F(PcxTest, InvalidHandles) {
  HGLOBAL freed = 0;
  {
    readertest::OpenImage image(api, "gone.pcx", SmallFile());
    freed = image.handle;
  }
  for (HGLOBAL bad : {HGLOBAL{0}, freed}) {
    int32_t page = 0;
    uint8_t buffer[16];
    ImageHeaderRecord record{};
    EXPECT_EQ(api.setPage(bad, 0), 8);
    EXPECT_EQ(api.getPage(bad, &page), 8);
    EXPECT_EQ(api.readRows(bad, buffer, 1, 16, 0, nullptr), 8);
    EXPECT_EQ(api.buildHead(bad, &record), 8);
    EXPECT_EQ(api.close(bad), 8);
    EXPECT_EQ(api.lastError(), "Invalid image handle.");
  }
}

}  // namespace
}  // namespace pcxtest
