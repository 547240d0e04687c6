// Row decoding of the TIFF reader on files built in the test: photometric
// handling, depths and palettes, PackBits, planes, strips and positioning.
#include <cstring>

#include "tiff_fixture.h"

namespace tifftest {
namespace {

TEST_F(TiffTest, OneBitWhiteIsZeroIsInvertedAndBlackIsZeroCopied) {
  for (uint16_t photometric : {0, 1}) {
    SCOPED_TRACE(photometric);
    Page page = SimplePage(16, 1, 1, 1, photometric, 1, 1, {{0x0F, 0x81}});
    std::vector<RGBQUAD> palette;
    Rows rows = ReadAll(Build({page}), nullptr, &palette);
    ASSERT_EQ(rows.size(), 1u);
    std::vector<uint8_t> expected = photometric == 0 ? std::vector<uint8_t>{0xF0, 0x7E, 0xA5, 0xA5}
                                                     : std::vector<uint8_t>{0x0F, 0x81, 0xA5, 0xA5};
    EXPECT_EQ(rows[0], expected);
    ASSERT_EQ(palette.size(), 2u);
    EXPECT_EQ(palette[0].rgbRed, 0);
    EXPECT_EQ(palette[1].rgbRed, 255);
  }
}

TEST_F(TiffTest, RgbRowsBecomeBgr) {
  Page page = SimplePage(2, 1, 8, 3, 2, 1, 1, {{'A', 'B', 'C', 'D', 'E', 'F'}});
  BITMAPINFOHEADER h{};
  Rows rows = ReadAll(Build({page}), &h);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{'C', 'B', 'A', 'F', 'E', 'D', 0xA5, 0xA5}));
}

TEST_F(TiffTest, TwoBitGreyscaleIsWidenedAndShownAtItsFourLevels) {
  // Pixels 0 1 2 3 | 3 2 1 0 in one 2-bit row.
  Page page = SimplePage(8, 1, 2, 1, 1, 1, 1, {{0x1B, 0xE4}});
  BITMAPINFOHEADER h{};
  std::vector<RGBQUAD> palette;
  Rows rows = ReadAll(Build({page}), &h, &palette);
  EXPECT_EQ(h.biBitCount, 4);
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0x01, 0x23, 0x32, 0x10}));
  ASSERT_EQ(palette.size(), 16u);
  for (int n = 0; n < 4; ++n) EXPECT_EQ(palette[n].rgbGreen, 85 * n);
  for (int n = 4; n < 16; ++n) EXPECT_EQ(palette[n].rgbGreen, 16 * n);
}

TEST_F(TiffTest, PaletteImagesTakeTheColourMapHighBytes) {
  // 4-bit palette: red = 0x1100 × i, green 0x2200, blue 0x3300 (high bytes kept).
  std::vector<uint32_t> map;
  for (uint32_t i = 0; i < 16; ++i) map.push_back(0x1100 * i + 0x77);
  for (uint32_t i = 0; i < 16; ++i) map.push_back(0x2200);
  for (uint32_t i = 0; i < 16; ++i) map.push_back(0x3300 + i);
  Page page = SimplePage(4, 1, 4, 1, 3, 1, 1, {{0x01, 0xEF}});
  page.entries.push_back({320, kShort, map});
  std::vector<RGBQUAD> palette;
  Rows rows = ReadAll(Build({page}), nullptr, &palette);
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0x01, 0xEF, 0xA5, 0xA5}));
  ASSERT_EQ(palette.size(), 16u);
  EXPECT_EQ(palette[15].rgbRed, 0xFF);
  EXPECT_EQ(palette[15].rgbGreen, 0x22);
  EXPECT_EQ(palette[15].rgbBlue, 0x33);

  // The same 4-bit file as greyscale: the ramp 0, 16, ..., 240.
  page.entries[4].values = {1};
  ReadAll(Build({page}), nullptr, &palette);
  EXPECT_EQ(palette[15].rgbRed, 240);

  // A 2-bit palette image: entries 0-3 from the map, 4-15 black.
  Page two = SimplePage(4, 1, 2, 1, 3, 1, 1, {{0x1B}});
  two.entries.push_back({320, kShort, {0xFF00, 0x8000, 0, 0, 0, 0xFF00, 0, 0, 0, 0, 0xFF00, 0x100}});
  ReadAll(Build({two}), nullptr, &palette);
  EXPECT_EQ(palette[0].rgbRed, 0xFF);
  EXPECT_EQ(palette[1].rgbGreen, 0xFF);
  EXPECT_EQ(palette[2].rgbBlue, 0xFF);
  EXPECT_EQ(palette[3].rgbBlue, 0x01);
  EXPECT_EQ(palette[4].rgbRed + palette[4].rgbGreen + palette[4].rgbBlue, 0);
}

TEST_F(TiffTest, PackBitsRunsAreCutAtTheRowEndAndTheNextRowFollowsThem) {
  // Row 0: 0xFE 0xAA (three 0xAA), then 0x80 (no operation), then a repeat of
  // seven 0x11 of which one fits. Row 1: a literal of 4 bytes.
  std::vector<uint8_t> strip{0xFE, 0xAA, 0x80, 0xFA, 0x11, 0x03, 1, 2, 3, 4};
  Page page = SimplePage(4, 2, 8, 1, 1, 32773, 2, {strip});
  Rows rows = ReadAll(Build({page}));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0xAA, 0xAA, 0xAA, 0x11}));
  EXPECT_EQ(rows[1], (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(TiffTest, PackBitsDataEndingInsideARowFailTheRow) {
  // The strip is the end of the file: its data end inside row 1.
  Page page = SimplePage(4, 2, 8, 1, 1, 32773, 2, {});
  page.entries.push_back({273, kLong, {0}});
  page.addByteCounts = false;
  std::vector<uint8_t> bytes = Build({page});
  page.entries.back().values = {static_cast<uint32_t>(bytes.size())};
  bytes = Build({page});
  bytes.insert(bytes.end(), {0xFD, 0x01, 0x02});
  readertest::OpenImage image(api, "short.tif", bytes);
  ASSERT_EQ(image.initResult, 1);
  int32_t result = 0;
  image.read(2, 4, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
}

// A wide 24-bit picture whose PackBits rows are larger than the input buffer.
Rows WideRows(uint32_t width, uint32_t height) {
  Rows rows;
  for (uint32_t r = 0; r < height; ++r) {
    std::vector<uint8_t> row(3 * width);
    for (uint32_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>((i * 7 + r * 13) % 251);
    rows.push_back(row);
  }
  return rows;
}

std::vector<uint8_t> Bgr(std::vector<uint8_t> row) {
  for (size_t i = 0; i + 2 < row.size(); i += 3) std::swap(row[i], row[i + 2]);
  return row;
}

TEST_F(TiffTest, ALaterWiderPageWithRowsLargerThanTheInputBufferIsRead) {
  Page narrow = SimplePage(8, 1, 1, 1, 1, 1, 1, {{0xAA}});
  const uint32_t width = 9000;
  Rows wide = WideRows(width, 5);
  std::vector<std::vector<uint8_t>> strips;
  for (size_t r = 0; r < wide.size(); r += 2) {
    std::vector<uint8_t> strip;
    for (size_t k = r; k < r + 2 && k < wide.size(); ++k) {
      std::vector<uint8_t> packed = PackBits(wide[k]);
      strip.insert(strip.end(), packed.begin(), packed.end());
    }
    strips.push_back(strip);
  }
  Page widePage = SimplePage(width, 5, 8, 3, 2, 32773, 2, strips);
  readertest::OpenImage image(api, "wide.tif", Build({narrow, widePage}));
  ASSERT_EQ(image.initResult, 1);
  ASSERT_EQ(api.setPage(image.handle, 1), 1);
  ImageHeaderRecord record{};
  ASSERT_EQ(image.buildHead(record), 1);
  EXPECT_EQ(record.width, width);
  const uint32_t stride = 3 * width;
  int32_t result = 0;
  Rows rows = image.read(5, stride, 0, nullptr, &result);
  ASSERT_EQ(result, 1) << api.lastError();
  for (size_t r = 0; r < 5; ++r) EXPECT_EQ(rows[r], Bgr(wide[r])) << "row " << r;
  // Back into the middle of the first strip.
  ASSERT_EQ(api.setRow(image.handle, 1), 1);
  rows = image.read(3, stride, 0, nullptr, &result);
  ASSERT_EQ(result, 1);
  EXPECT_EQ(rows[2], Bgr(wide[3]));
}

TEST_F(TiffTest, PlanesAreInterleavedAcrossStrips) {
  // 3 × 5 RGB in strips of 2 rows, one set of strips per plane.
  Rows red, green, blue;
  for (uint8_t r = 0; r < 5; ++r) {
    red.push_back({uint8_t(r), uint8_t(r + 10), uint8_t(r + 20)});
    green.push_back({uint8_t(100 + r), 101, 102});
    blue.push_back({uint8_t(200 + r), 201, 202});
  }
  std::vector<std::vector<uint8_t>> strips;
  for (const Rows* plane : {&red, &green, &blue}) {
    for (auto& s : StripsFromRows(*plane, 2)) strips.push_back(s);
  }
  Page page = SimplePage(3, 5, 8, 3, 2, 1, 2, strips);
  page.entries.push_back({284, kShort, {2}});
  for (bool big : {false, true}) {
    BuildOptions options;
    options.bigEndian = big;
    readertest::OpenImage image(api, "planes.tif", Build({page}, options));
    ASSERT_EQ(image.initResult, 1) << api.lastError();
    ASSERT_EQ(api.setRow(image.handle, 3), 1);
    Rows rows = image.read(2, 12);
    for (size_t k = 0; k < 2; ++k) {
      size_t r = 3 + k;
      std::vector<uint8_t> expected;
      for (size_t j = 0; j < 3; ++j) {
        expected.insert(expected.end(), {blue[r][j], green[r][j], red[r][j]});
      }
      expected.resize(12, 0xA5);
      EXPECT_EQ(rows[k], expected) << "row " << r;
    }
  }
}

TEST_F(TiffTest, RowsReadInAnyBlockSizeAndAfterSetRowAreTheSame) {
  Rows picture;
  for (uint8_t r = 0; r < 23; ++r) {
    std::vector<uint8_t> row(12);
    for (uint8_t i = 0; i < 12; ++i) row[i] = static_cast<uint8_t>(r * 3 + (i / 4));
    picture.push_back(row);
  }
  for (uint16_t compression : {1, 32773}) {
    SCOPED_TRACE(compression);
    std::vector<std::vector<uint8_t>> strips;
    for (size_t r = 0; r < picture.size(); r += 5) {
      std::vector<uint8_t> strip;
      for (size_t k = r; k < r + 5 && k < picture.size(); ++k) {
        std::vector<uint8_t> data = compression == 1 ? picture[k] : PackBits(picture[k]);
        strip.insert(strip.end(), data.begin(), data.end());
      }
      strips.push_back(strip);
    }
    auto bytes = Build({SimplePage(12, 23, 8, 1, 1, compression, 5, strips)});
    for (uint32_t block : {1u, 7u, 23u}) {
      readertest::OpenImage image(api, "blocks.tif", bytes);
      int32_t result = 0;
      Rows rows = image.readInBlocks(23, block, 12, &result);
      ASSERT_EQ(result, 1);
      EXPECT_EQ(rows, picture) << "block " << block;
    }
    readertest::OpenImage image(api, "seek.tif", bytes);
    for (uint32_t row : {17u, 3u, 4u, 10u, 0u, 22u}) {
      ASSERT_EQ(api.setRow(image.handle, row), 1);
      EXPECT_EQ(image.read(1, 12)[0], picture[row]) << "row " << row;
    }
    // Handing the file back and taking it again keeps the current row.
    ASSERT_EQ(api.setRow(image.handle, 7), 1);
    ASSERT_EQ(api.closeKeep(image.handle), 1);
    ASSERT_EQ(api.open(image.handle, 0), 1);
    EXPECT_EQ(image.read(1, 12)[0], picture[7]);
  }
}

TEST_F(TiffTest, StripsWithSingleOffsetAndShorterRowsPerStripCutTheImage) {
  // StripOffsets with count 1 before RowsPerStrip 2 of a 4-row image: 2 rows.
  Page page = SimplePage(8, 4, 8, 1, 1, 1, 2, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}});
  BITMAPINFOHEADER h{};
  Rows rows = ReadAll(Build({page}), &h);
  EXPECT_EQ(h.biHeight, 2);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0], 9);
}

}  // namespace
}  // namespace tifftest

namespace tifftest {
namespace {

TEST_F(TiffTest, CorruptGroup4DataEndTheReadWithTenAndNoMessage) {
  // Row 0: V0 (a white row); row 1: seven 0 bits where a mode code should start.
  Page page = SimplePage(16, 3, 1, 1, 0, 4, 3, {{0x80, 0x00, 0x00, 0x00}});
  readertest::OpenImage image(api, "g4bad.tif", Build({page}));
  ASSERT_EQ(image.initResult, 1);
  api.print(0, 0, 0, 0);  // leaves a known last error
  int32_t result = 0;
  Rows rows = image.read(3, 4, 0, nullptr, &result);
  EXPECT_EQ(result, 10);
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0xFF, 0xFF, 0xA5, 0xA5}));
  EXPECT_EQ(api.lastError(), "Orvello Internal Error: Tried to print TIFF file from DLL.");
  // The host may go on after repositioning: row 0 decodes again.
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  EXPECT_EQ(image.read(1, 4, 0, nullptr, &result)[0], (std::vector<uint8_t>{0xFF, 0xFF, 0xA5, 0xA5}));
  EXPECT_EQ(result, 1);
}

TEST_F(TiffTest, HostReadErrorsInsideCcittDataAreReadFailures) {
  // Modified Huffman, Group 3 and Group 4 pages whose data cannot be read.
  for (uint16_t compression : {2, 3, 4}) {
    Page page = SimplePage(16, 3, 1, 1, 0, compression, 3, {{0x00, 0x00, 0x00, 0x00}});
    readertest::OpenImage image(api, "ccitt.tif", Build({page}));
    ASSERT_EQ(image.initResult, 1);
    testsupport::MemoryFiles::instance().readFailsAfterBytes = 0;
    int32_t result = 0;
    image.read(3, 4, 0, nullptr, &result);
    testsupport::MemoryFiles::instance().readFailsAfterBytes = -1;
    EXPECT_EQ(result, 3) << compression;
    EXPECT_EQ(api.lastError(), "Error reading from file.") << compression;
  }
}

}  // namespace
}  // namespace tifftest
