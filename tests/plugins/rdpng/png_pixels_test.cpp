// Pixels: every colour type and depth, interlaced or not, against the DIB
// rows computed from the source samples; filters, IDAT splits, the header and
// palette, and how a read places rows in the caller's buffer.
#include <cstring>

#include "png_fixture.h"

namespace pngtest {
namespace {

struct Kind {
  uint8_t colourType;
  uint8_t depth;
};

constexpr Kind kKinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8},  {2, 16}, {3, 1},
                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8},  {6, 16}};

// Sizes around the Adam7 pattern: single pixels, narrower and shorter than
// 8 × 8 (empty passes), odd sizes, and a wider one.
constexpr uint32_t kSizes[][2] = {{1, 1}, {2, 1}, {1, 5}, {3, 2}, {5, 7}, {8, 8}, {13, 11}, {70, 9}};

TEST_F(PngTest, EveryColourTypeAndDepthDecodesToItsSamples) {
  uint32_t seed = 1;
  for (const Kind& kind : kKinds) {
    for (const auto& size : kSizes) {
      for (bool interlaced : {false, true}) {
        SCOPED_TRACE(testing::Message() << "type " << int(kind.colourType) << " depth " << int(kind.depth)
                                        << " " << size[0] << "x" << size[1] << (interlaced ? " Adam7" : ""));
        Picture p = Noise(size[0], size[1], kind.depth, kind.colourType, seed++);
        Options options;
        options.interlaced = interlaced;
        BITMAPINFOHEADER h{};
        Rows rows = ReadAll(File(p, options), &h);
        EXPECT_EQ(h.biBitCount, DibBits(p));
        EXPECT_EQ(rows, ExpectedRows(p, Stride(p)));
      }
    }
  }
}

TEST_F(PngTest, HeaderAndPaletteDescribeTheDelivery) {
  // Palette image: PLTE entries as blue, green, red; 2-bit indices in a 4-bit DIB.
  Picture pal = Noise(6, 3, 2, 3, 5);
  BITMAPINFOHEADER h{};
  std::vector<RGBQUAD> palette;
  ReadAll(File(pal), &h, &palette);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 6);
  EXPECT_EQ(h.biHeight, 3);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 4);
  EXPECT_EQ(h.biCompression, 0u);
  EXPECT_EQ(h.biClrUsed, 16u);
  ASSERT_EQ(palette.size(), 16u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(palette[i].rgbRed, uint8_t(i * 37 + 7));
    EXPECT_EQ(palette[i].rgbGreen, uint8_t(i * 11 + 21));
    EXPECT_EQ(palette[i].rgbBlue, uint8_t(255 - i * 5));
    EXPECT_EQ(palette[i].rgbReserved, 0);
  }
  EXPECT_EQ(palette[4].rgbRed, 0);  // entries PLTE does not give are black

  // Grey: a ramp over the levels of the depth.
  for (uint8_t depth : {1, 2, 4, 8, 16}) {
    SCOPED_TRACE(int(depth));
    ReadAll(File(Noise(3, 2, depth, 0, depth)), &h, &palette);
    uint32_t levels = depth < 8 ? 1u << depth : 256;
    ASSERT_EQ(palette.size(), depth == 1 ? 2u : depth < 8 ? 16u : 256u);
    for (uint32_t i = 0; i < levels; ++i) {
      uint8_t grey = uint8_t(i * 255 / (levels - 1));
      EXPECT_EQ(palette[i].rgbRed, grey);
      EXPECT_EQ(palette[i].rgbBlue, grey);
    }
  }
  ReadAll(File(Noise(3, 2, 8, 6, 1)), &h, &palette);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_TRUE(palette.empty());

  // The host's record: header address, 0, width, height and one page.
  readertest::OpenImage image(api, "rec.png", File(Noise(9, 4, 8, 2, 2)));
  ImageHeaderRecord record{};
  std::memset(&record, 0x77, sizeof record);
  ASSERT_EQ(image.buildHead(record), 1);
  EXPECT_EQ(record.zeroWord, 0u);
  EXPECT_EQ(record.width, 9u);
  EXPECT_EQ(record.height, 4u);
  EXPECT_EQ(record.pageCount, 1u);
  EXPECT_EQ(record.word0, 0x77777777u);
}

TEST_F(PngTest, EveryFilterAndEverySplitOfTheDataGiveTheSameRows) {
  Picture p = Noise(31, 12, 8, 2, 9);
  const Rows expected = ExpectedRows(p, Stride(p));
  for (std::vector<uint8_t> filters : {std::vector<uint8_t>{0}, {1}, {2}, {3}, {4}, {4, 3, 2, 1, 0}}) {
    for (size_t piece : {size_t(1), size_t(7), size_t(4096), size_t(1) << 20}) {
      for (bool interlaced : {false, true}) {
        SCOPED_TRACE(testing::Message() << "filter " << int(filters[0]) << " piece " << piece << interlaced);
        Options options;
        options.filters = filters;
        options.idatPiece = piece;
        options.interlaced = interlaced;
        EXPECT_EQ(ReadAll(File(p, options)), expected);
      }
    }
  }
}

TEST_F(PngTest, FiltersRestoreEveryPixelSize) {
  // Pixels of 1, 2, 3, 4, 6 and 8 bytes, and sub-byte ones: the filters that
  // look one pixel to the left carry that pixel differently for each size.
  struct Case {
    uint8_t depth;
    uint8_t colourType;
  };
  for (Case c : {Case{8, 0}, Case{8, 4}, Case{8, 2}, Case{8, 6}, Case{16, 2}, Case{16, 6}, Case{4, 0}}) {
    Picture p = Noise(23, 5, c.depth, c.colourType, 17);
    const Rows expected = ExpectedRows(p, Stride(p));
    for (std::vector<uint8_t> filters : {std::vector<uint8_t>{1}, {3}, {4}, {4, 3, 1, 2}}) {
      SCOPED_TRACE(testing::Message() << "depth " << int(c.depth) << " colour " << int(c.colourType)
                                      << " filter " << int(filters[0]));
      Options options;
      options.filters = filters;
      EXPECT_EQ(ReadAll(File(p, options)), expected);
    }
  }
}

TEST_F(PngTest, PaethOnTheFirstRowUsesZerosAbove) {
  // With nothing above, Paeth predicts from the left byte only: the same bytes
  // filtered as Sub decode to the same row.
  Picture p = Noise(17, 1, 8, 6, 4);
  Options paeth;
  paeth.filters = {4};
  Options sub;
  sub.filters = {1};
  Bytes a = FilteredData(p, false, {4});
  Bytes b = FilteredData(p, false, {1});
  a[0] = 0;
  b[0] = 0;
  EXPECT_EQ(a, b);
  EXPECT_EQ(ReadAll(File(p, paeth)), ExpectedRows(p, Stride(p)));
}

TEST_F(PngTest, ReadsInBlocksAndPlacementInTheBuffer) {
  Picture p = Noise(21, 19, 8, 2, 3);
  const uint32_t stride = Stride(p);  // 64
  const Rows expected = ExpectedRows(p, stride);
  for (uint32_t block : {1u, 7u, 19u}) {
    SCOPED_TRACE(block);
    readertest::OpenImage image(api, "b.png", File(p));
    int32_t result = 0;
    EXPECT_EQ(image.readInBlocks(19, block, stride, &result), expected);
    EXPECT_EQ(result, 1);
  }

  readertest::OpenImage image(api, "s.png", File(p));
  int32_t result = 0;
  // Wider stride: each row decoded straight in, the bytes beyond it keep the fill.
  Rows wide = image.read(19, stride + 9, 0, nullptr, &result);
  ASSERT_EQ(result, 1);
  for (uint32_t y = 0; y < 19; ++y) {
    std::vector<uint8_t> want = expected[y];
    want.resize(stride + 9, 0xA5);
    EXPECT_EQ(wide[y], want);
  }
  // Narrower stride from an offset: s bytes from byte o of each DIB row.
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  Rows narrow = image.read(19, 10, 5, nullptr, &result);
  ASSERT_EQ(result, 1);
  for (uint32_t y = 0; y < 19; ++y) {
    EXPECT_EQ(narrow[y], std::vector<uint8_t>(expected[y].begin() + 5, expected[y].begin() + 15));
  }
  // No rows: nothing happens.
  EXPECT_EQ(api.readRows(image.handle, nullptr, 0, stride, 0, nullptr), 1);
}

TEST_F(PngTest, RowPositioningRewindsAndSkipsForward) {
  Picture p = Noise(10, 30, 16, 0, 8);
  const uint32_t stride = Stride(p);
  const Rows expected = ExpectedRows(p, stride);
  readertest::OpenImage image(api, "pos.png", File(p));
  int32_t result = 0;
  ASSERT_EQ(api.setRow(image.handle, 12), 1);
  EXPECT_EQ(image.read(3, stride, 0, nullptr, &result), Rows(expected.begin() + 12, expected.begin() + 15));
  ASSERT_EQ(api.setRow(image.handle, 4), 1);  // backwards
  EXPECT_EQ(image.read(2, stride, 0, nullptr, &result), Rows(expected.begin() + 4, expected.begin() + 6));
  ASSERT_EQ(api.setRow(image.handle, 20), 1);  // forwards, without a rewind
  EXPECT_EQ(image.read(10, stride, 0, nullptr, &result), Rows(expected.begin() + 20, expected.end()));
  // Past the last row: the read fails without touching the rows.
  image.read(1, stride, 0, nullptr, &result);
  EXPECT_EQ(result, 3);

  // The file handed back and taken again: reading goes on at the current row.
  ASSERT_EQ(api.setRow(image.handle, 7), 1);
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  image.read(1, stride, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(image.read(2, stride, 0, nullptr, &result), Rows(expected.begin() + 7, expected.begin() + 9));
}

}  // namespace
}  // namespace pngtest
