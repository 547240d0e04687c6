// The reader frame through reader_probe.DLL, a second reader on it: pages,
// cancellation, bottom-up delivery, depth conversion, out-of-order calls.
#include <gtest/gtest.h>

#include <cstring>

#include "reader_harness.h"
#include "winport/windows.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<Bytes>;

const readertest::ReaderApi& Probe() {
  static readertest::ReaderApi api("reader_probe.DLL");
  return api;
}

void Put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A probe file; pixel bytes are a function of page, row and column.
Bytes ProbeFile(uint32_t width, uint32_t height, uint8_t decodedBits, uint8_t dibBits,
                uint8_t flags = 0, uint8_t pages = 1) {
  Bytes out{'P', 'R', 'B', '1'};
  Put32(out, width);
  Put32(out, height);
  out.insert(out.end(), {decodedBits, dibBits, flags, pages});
  for (uint32_t p = 0; p < pages; ++p) {
    uint64_t rowBytes = (uint64_t{width} * (p + 1) * decodedBits + 7) / 8;
    for (uint32_t y = 0; y < height; ++y) {
      for (uint64_t x = 0; x < rowBytes; ++x) out.push_back(static_cast<uint8_t>(p * 100 + y * 7 + x));
    }
  }
  return out;
}

uint8_t PixelByte(uint32_t page, uint32_t row, uint32_t x) {
  return static_cast<uint8_t>(page * 100 + row * 7 + x);
}

class ReaderProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(api.module) << "reader_probe.DLL not loaded";
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_);
  }
  const readertest::ReaderApi& api = Probe();
  uint32_t blocksBefore_ = 0;
};

int32_t gCallsUntilCancel = 0;
int32_t CALLBACK CancelAfter(uint32_t, uint32_t, uint32_t) {
  return --gCallsUntilCancel > 0 ? 1 : 0;
}

TEST_F(ReaderProbeTest, CancelStopsAfterTheRowsDelivered) {
  readertest::OpenImage image(api, "cancel.prb", ProbeFile(8, 10, 8, 8));
  ASSERT_EQ(image.initResult, 1);
  api.imgName(0, 0);  // id 4 before: cancelling stores no id
  gCallsUntilCancel = 3;
  ProgressRecord progress{CancelAfter, 1, 80, 0, 0, 0, 0};
  int32_t result = 0;
  Rows rows = image.read(5, 8, 0, &progress, &result);
  EXPECT_EQ(result, 23);
  EXPECT_EQ(api.lastError(), "Invalid image handle.");
  for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(rows[y][0], PixelByte(0, y, 0)) << y;
  EXPECT_EQ(rows[3], Bytes(8, 0xA5));
  EXPECT_EQ(progress.reported, 24u);
  EXPECT_EQ(progress.pending, 8u);  // a cancelled report keeps its pending amount
  // The current row is the one after the last delivered.
  EXPECT_EQ(image.read(1, 8)[0][0], PixelByte(0, 3, 0));
}

TEST_F(ReaderProbeTest, BottomUpDeliveryFillsTheSameBuffer) {
  readertest::OpenImage image(api, "up.prb", ProbeFile(4, 9, 8, 8, 1));
  ASSERT_EQ(image.initResult, 1);
  ASSERT_EQ(api.setRow(image.handle, 2), 1);
  Rows rows = image.read(4, 4);
  for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(rows[k][0], PixelByte(0, 2 + k, 0));
  EXPECT_EQ(image.read(1, 4)[0][0], PixelByte(0, 6, 0));
  int32_t result = 0;
  image.read(3, 4, 0, nullptr, &result);  // rows 7-9: past the end, nothing delivered
  EXPECT_EQ(result, 3);
}

TEST_F(ReaderProbeTest, TwoBitRowsWidenToFourBits) {
  // 8 pixels of 2 bits: bytes 0x1B (0,1,2,3) and 0xE4 (3,2,1,0) in row 0.
  Bytes file = ProbeFile(8, 1, 2, 4);
  file[16] = 0x1B;
  file[17] = 0xE4;
  readertest::OpenImage image(api, "wide.prb", file);
  ASSERT_EQ(image.initResult, 1);
  EXPECT_EQ(image.read(1, 4)[0], (Bytes{0x01, 0x23, 0x32, 0x10}));
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  EXPECT_EQ(image.read(1, 6, 1)[0], (Bytes{0x23, 0x32, 0x10, 0xA5, 0xA5, 0xA5}));
}

TEST_F(ReaderProbeTest, DepthsWithoutConversionLeaveTheRowAlone) {
  readertest::OpenImage image(api, "deep.prb", ProbeFile(4, 2, 8, 24));
  ASSERT_EQ(image.initResult, 1);
  int32_t result = 0;
  EXPECT_EQ(image.read(2, 12, 0, nullptr, &result), Rows(2, Bytes(12, 0xA5)));
  EXPECT_EQ(result, 1);
}

TEST_F(ReaderProbeTest, Pages) {
  // A multi-page reader exports the page calls under their ordinals too.
  HMODULE module = api.module.handle();
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(kOrdOVDLset_page)),
            reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(api.setPage)));
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(kOrdOVDLget_page)),
            reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(api.getPage)));
  readertest::OpenImage image(api, "pages.prb", ProbeFile(4, 3, 8, 8, 0, 3));
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  ASSERT_EQ(image.buildHead(record), 1);
  EXPECT_EQ(record.pageCount, 3u);
  EXPECT_EQ(record.width, 4u);

  EXPECT_EQ(api.setPage(image.handle, 3), 16);
  EXPECT_EQ(api.lastError(), "Seek to non-existent page.");
  EXPECT_EQ(api.setPage(image.handle, -1), 16);
  ASSERT_EQ(api.setRow(image.handle, 2), 1);
  EXPECT_EQ(api.setPage(image.handle, 0), 1);  // the current page: the row stays
  EXPECT_EQ(image.read(1, 4)[0][0], PixelByte(0, 2, 0));

  // A later, wider page: read before its header is built, through the row
  // buffer (narrow stride), then with its header.
  ASSERT_EQ(api.setPage(image.handle, 2), 1);
  int32_t page = -1;
  EXPECT_EQ(api.getPage(image.handle, &page), 1);
  EXPECT_EQ(page, 2);
  Rows rows = image.read(3, 10, 2);
  for (uint32_t y = 0; y < 3; ++y) {
    for (uint32_t x = 0; x < 10; ++x) EXPECT_EQ(rows[y][x], PixelByte(2, y, x + 2)) << y << "," << x;
  }
  ASSERT_EQ(image.buildHead(record), 1);
  EXPECT_EQ(record.width, 12u);
  EXPECT_EQ(api.setPage(0, 1), 8);
  EXPECT_EQ(api.getPage(0, &page), 8);
  EXPECT_EQ(api.lastError(), "Invalid image handle.");
}

TEST_F(ReaderProbeTest, PrintAnswersFromTheDescriptor) {
  EXPECT_EQ(api.print(0, 0, 0, 0), 5);
  EXPECT_EQ(api.lastError(), "Probe: printing is not done here.");
  EXPECT_EQ(api.escape(0, 0, 0, 0), 9);
  EXPECT_STREQ(api.version(), "Frame Probe V0.1");
}

TEST_F(ReaderProbeTest, PaletteAndHeaderFields) {
  readertest::OpenImage image(api, "pal.prb", ProbeFile(5, 2, 2, 4));
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  std::vector<uint8_t> info;
  ASSERT_EQ(image.buildHead(record, &info), 1);
  ASSERT_EQ(info.size(), 40u + 16u * 4u);
  BITMAPINFOHEADER h;
  std::memcpy(&h, info.data(), sizeof h);
  EXPECT_EQ(h.biBitCount, 4);
  EXPECT_EQ(h.biClrUsed, 16u);
  EXPECT_EQ(h.biXPelsPerMeter, 11811);
  EXPECT_EQ(h.biSizeImage, 4u * 2u);
  EXPECT_EQ(info[40 + 4 * 15], 255);
}

}  // namespace
