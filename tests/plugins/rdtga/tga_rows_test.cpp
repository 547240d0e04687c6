// rdtga rows: every depth and encoding in both row orders, with and without
// a scan-line table, in any block size and order; packets, truncation,
// narrow and offset reads, progress, the DIB header and the palettes.
#include "tga_fixture.h"

namespace tgatest {
namespace {

struct Layout {
  uint8_t depth;
  uint8_t type;
};
constexpr Layout kLayouts[] = {{8, 3},  {8, 11},  {16, 2}, {16, 10}, {16, 3}, {16, 11},
                               {15, 10}, {24, 2}, {24, 10}, {32, 2}, {32, 10}};

// Variants: bit 0 top-down, bit 1 footer, bit 2 right to left; variant 3 and 7
// have a scan-line table.
TEST_F(TgaTest, EveryLayoutReadsTheSameInAnyOrderAndBlockSize) {
  uint32_t seed = 1;
  for (Layout layout : kLayouts) {
    TgaPicture picture = MakePicture(29, 37, layout.depth, seed++);
    picture.grey = layout.depth == 16 && (layout.type == 3 || layout.type == 11);
    const uint32_t stride = Stride(picture);
    const Rows expected = Expected(picture, stride);
    for (int variant = 0; variant < 8; ++variant) {
      TgaOptions o;
      o.imageType = layout.type;
      o.topDown = (variant & 1) != 0;
      o.footer = (variant & 2) != 0;
      o.scanTable = (variant & 3) == 3;
      o.rightToLeft = (variant & 4) != 0;
      SCOPED_TRACE(testing::Message() << "depth " << int(layout.depth) << " type " << int(layout.type)
                                      << " variant " << variant);
      const Bytes file = EncodeTga(picture, o);
      EXPECT_EQ(ReadAll(file, layout.depth == 8 || picture.grey ? 8 : 24), expected);

      readertest::OpenImage image(api, "v.tga", file);
      ASSERT_EQ(image.initResult, 1);
      int32_t result = 0;
      EXPECT_EQ(image.readInBlocks(37, 7, stride, &result), expected);
      EXPECT_EQ(result, 1);
      // Rows 10-19, then 0-4, then 30-36: each call finds its first row afresh.
      for (uint32_t first : {10u, 0u, 30u}) {
        uint32_t n = first == 30 ? 7 : (first == 0 ? 5 : 10);
        ASSERT_EQ(api.setRow(image.handle, first), 1);
        EXPECT_EQ(image.read(n, stride), Rows(expected.begin() + first, expected.begin() + first + n));
      }
    }
  }
}

TEST_F(TgaTest, PixelConversions) {
  TgaPicture p16{2, 1, 16, {{0xFF, 0x7F, 0x1F, 0x00}}};  // 0x7FFF and pure blue 0x001F
  EXPECT_EQ(ReadAll(EncodeTga(p16, {}))[0], (Bytes{248, 248, 248, 248, 0, 0, 0xA5, 0xA5}));
  TgaPicture p32{1, 1, 32, {{10, 20, 30, 99}}};  // the alpha byte is dropped
  EXPECT_EQ(ReadAll(EncodeTga(p32, {}))[0], (Bytes{10, 20, 30, 0xA5}));
  // 1-bit uncompressed grey, width not a multiple of 8: rows of (width + 7) / 8 bytes.
  TgaPicture p1{10, 3, 1, {{0xF0, 0xC0}, {0x0F, 0x40}, {0xAA, 0x80}}};
  TgaOptions grey;
  grey.imageType = 3;
  Rows rows = ReadAll(EncodeTga(p1, grey), 1);
  const Rows bits = {{0xF0, 0xC0, 0xA5, 0xA5}, {0x0F, 0x40, 0xA5, 0xA5}, {0xAA, 0x80, 0xA5, 0xA5}};
  EXPECT_EQ(rows, bits);
  grey.rightToLeft = true;  // stored mirrored, bit by bit
  EXPECT_EQ(ReadAll(EncodeTga(p1, grey), 1), bits);
  // 16-bit grey: a grey byte and an alpha byte give an 8-bit grey pixel.
  for (uint8_t type : {uint8_t{3}, uint8_t{11}}) {
    TgaOptions o;
    o.imageType = type;
    TgaPicture g16{3, 1, 16, {{10, 255, 200, 0, 77, 128}}, true};
    EXPECT_EQ(ReadAll(EncodeTga(g16, o), 8)[0], (Bytes{10, 200, 77, 0xA5})) << int(type);
  }
}

// Packets may run on past the end of a row (old writers, files of the
// format's first version): the rest of the packet begins the next stored row.
TEST_F(TgaTest, PacketsRunOnIntoTheNextRow) {
  TgaOptions o;
  o.imageType = 11;
  o.topDown = true;
  Bytes file = EncodeTga(TgaPicture{5, 0, 8, {}}, o);
  file[14] = 4;  // four rows, written by hand below
  const Bytes data = {0x8B, 9,                    // a run of 12: rows 0, 1 and two pixels of row 2
                      0x05, 1, 2, 3, 4, 5, 6,     // 6 literals: three in row 2, three in row 3
                      0x01, 7, 8};                // the end of row 3
  file.insert(file.end(), data.begin(), data.end());
  const Rows expected = {{9, 9, 9, 9, 9, 0xA5, 0xA5, 0xA5}, {9, 9, 9, 9, 9, 0xA5, 0xA5, 0xA5},
                         {9, 9, 1, 2, 3, 0xA5, 0xA5, 0xA5}, {4, 5, 6, 7, 8, 0xA5, 0xA5, 0xA5}};
  EXPECT_EQ(ReadAll(file, 8), expected);
  readertest::OpenImage image(api, "cross.tga", file);
  ASSERT_EQ(image.initResult, 1);
  for (uint32_t row : {3u, 2u, 1u, 3u, 0u, 2u}) {
    ASSERT_EQ(api.setRow(image.handle, row), 1);
    EXPECT_EQ(image.read(1, 8), Rows{expected[row]}) << row;
  }
}

// Whole pictures as one packet stream (literal packets and runs over several
// rows), read in blocks and back and forth: a row found again from its
// remembered start goes on with the packet it begins inside.
TEST_F(TgaTest, RowsInsidePacketsAreFoundAgainInAnyOrder) {
  uint32_t seed = 40;
  for (uint8_t depth : {uint8_t{8}, uint8_t{16}, uint8_t{24}, uint8_t{32}}) {
    TgaPicture picture = MakePicture(7, 23, depth, seed++);
    for (uint32_t y = 4; y < 10; ++y) {  // a run from the end of row 3 through row 9
      const Bytes last(picture.rows[3].end() - (depth + 7) / 8, picture.rows[3].end());
      for (uint32_t x = 0; x < 7; ++x) std::copy(last.begin(), last.end(), picture.rows[y].begin() + x * last.size());
    }
    const uint32_t stride = Stride(picture);
    const Rows expected = Expected(picture, stride);
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message() << "depth " << int(depth) << (topDown ? " top-down" : " bottom-up"));
      TgaOptions o;
      o.imageType = depth == 8 ? 11 : 10;
      o.topDown = topDown;
      o.crossRows = true;
      const Bytes file = EncodeTga(picture, o);
      EXPECT_EQ(ReadAll(file, depth == 8 ? 8 : 24), expected);
      readertest::OpenImage image(api, "stream.tga", file);
      ASSERT_EQ(image.initResult, 1);
      EXPECT_EQ(image.readInBlocks(23, 3, stride), expected);
      for (uint32_t first : {21u, 0u, 11u, 5u, 5u, 20u, 1u, 17u, 3u, 8u}) {
        ASSERT_EQ(api.setRow(image.handle, first), 1);
        EXPECT_EQ(image.read(2, stride), Rows(expected.begin() + first, expected.begin() + first + 2)) << first;
      }
    }
  }
}

TEST_F(TgaTest, DataEndingEarlyFailsAfterTheRowsBeforeIt) {
  const TgaPicture picture = MakePicture(16, 8, 24, 5);
  const Rows expected = Expected(picture, 48);
  for (uint8_t type : {uint8_t{2}, uint8_t{10}}) {
    TgaOptions o;
    o.imageType = type;
    o.topDown = true;
    Bytes file = EncodeTga(picture, o);
    size_t fiveRows = 18;
    for (uint32_t y = 0; y < 5; ++y) {
      fiveRows += type == 2 ? 48 : EncodeRunLengthRow(picture.rows[y], 3).size();
    }
    file.resize(fiveRows + 4);  // row 5 begins, then the file ends
    readertest::OpenImage image(api, "short.tga", file);
    ASSERT_EQ(image.initResult, 1);
    int32_t result = 0;
    Rows rows = image.read(5, 48, 0, nullptr, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(rows, Rows(expected.begin(), expected.begin() + 5));
    image.read(3, 48, 0, nullptr, &result);
    EXPECT_EQ(result, 3) << int(type);
    EXPECT_EQ(api.lastError(), "Unexpected End of TGA File reached.");
  }
}

// A scan-line table that is short or points outside the pixel data is not
// used: rows are found by decoding and still come out right.
TEST_F(TgaTest, DamagedScanLineTablesAreIgnored) {
  const TgaPicture picture = MakePicture(21, 12, 24, 8);
  const Rows expected = Expected(picture, 64);
  TgaOptions o;
  o.imageType = 10;
  o.footer = true;
  o.scanTable = true;
  Bytes good = EncodeTga(picture, o);
  // The table sits just before the 495-byte extension area and the 26-byte footer.
  const size_t table = good.size() - 26 - 495 - 12 * 4;
  Bytes outside = good;
  outside[table + 4 * 3 + 3] = 0x7F;  // entry 3 far past the end
  Bytes backwards = good;
  backwards[table] = 2;  // entry 0 inside the header
  backwards[table + 1] = 0;
  Bytes shortTable = good;  // the table offset points 4 bytes before the end
  const size_t field = good.size() - 26 - 495 + 490;
  const auto nearEnd = static_cast<uint32_t>(good.size() - 4);
  for (int i = 0; i < 4; ++i) shortTable[field + i] = static_cast<uint8_t>(nearEnd >> (8 * i));
  for (const Bytes& file : {good, outside, backwards, shortTable}) {
    readertest::OpenImage image(api, "table.tga", file);
    ASSERT_EQ(image.initResult, 1);
    EXPECT_EQ(image.readInBlocks(12, 5, 64), expected);
  }
}

TEST_F(TgaTest, NarrowAndOffsetReads) {
  for (uint8_t type : {uint8_t{2}, uint8_t{10}}) {
    const TgaPicture picture = MakePicture(10, 4, 32, 3);
    TgaOptions o;
    o.imageType = type;
    readertest::OpenImage image(api, "narrow.tga", EncodeTga(picture, o));
    ASSERT_EQ(image.initResult, 1);
    Rows rows = image.read(4, 6, 9);
    for (uint32_t y = 0; y < 4; ++y) {
      Bytes dib = DibRow(picture.rows[y], 32);
      EXPECT_EQ(rows[y], Bytes(dib.begin() + 9, dib.begin() + 15)) << y;
    }
    // A stride wider than the DIB row: bytes beyond it keep the buffer's content.
    ASSERT_EQ(api.setRow(image.handle, 1), 1);
    Rows wide = image.read(1, 40, 0, nullptr, nullptr, 0x33);
    Bytes expected = DibRow(picture.rows[1], 32);
    expected.resize(40, 0x33);
    EXPECT_EQ(wide[0], expected);
  }
}

int32_t StopAtOnce(uint32_t, uint32_t, uint32_t) {
  return 0;
}

TEST_F(TgaTest, ProgressIsReportedButCannotCancel) {
  const TgaPicture picture = MakePicture(8, 6, 24, 4);
  readertest::OpenImage image(api, "progress.tga", EncodeTga(picture, {}));
  ASSERT_EQ(image.initResult, 1);
  ProgressRecord progress{StopAtOnce, 10, 144, 0, 0, 0, 0};
  int32_t result = 0;
  EXPECT_EQ(image.read(6, 24, 0, &progress, &result), Expected(picture, 24));
  EXPECT_EQ(result, 1);
  EXPECT_EQ(progress.reported, 144u);
}

TEST_F(TgaTest, DibHeader) {
  readertest::OpenImage image(api, "head.tga", EncodeTga(MakePicture(33, 5, 16, 1), {}));
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  record.pageCount = 77;
  Bytes info = HeaderOf(image, &record);
  EXPECT_EQ(record.width, 33u);
  EXPECT_EQ(record.height, 5u);
  EXPECT_EQ(record.zeroWord, 0u);
  EXPECT_EQ(record.pageCount, 77u);
  ASSERT_EQ(info.size(), 40u);
  BITMAPINFOHEADER h;
  std::memcpy(&h, info.data(), sizeof h);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biSizeImage, 5u * 100u);
  EXPECT_EQ(h.biXPelsPerMeter, 11811);
  EXPECT_EQ(h.biYPelsPerMeter, 11811);
  EXPECT_EQ(h.biClrUsed, 0u);
}

std::vector<RGBQUAD> PaletteOf(const Bytes& info) {
  std::vector<RGBQUAD> palette((info.size() - 40) / 4);
  std::memcpy(palette.data(), info.data() + 40, palette.size() * 4);
  return palette;
}

bool Same(const RGBQUAD& q, uint8_t b, uint8_t g, uint8_t r) {
  return q.rgbBlue == b && q.rgbGreen == g && q.rgbRed == r && q.rgbReserved == 0;
}

TEST_F(TgaTest, Palettes) {
  const TgaPicture picture = MakePicture(4, 2, 8, 2);
  {  // 24-bit map from index 10: entries 10-12, the rest black.
    TgaOptions o;
    o.imageType = 1;
    o.mapType = 1;
    o.firstIndex = 10;
    o.mapEntryBits = 24;
    o.map = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    o.id = {'i', 'd'};
    readertest::OpenImage image(api, "map.tga", EncodeTga(picture, o));
    ASSERT_EQ(image.initResult, 1);
    auto palette = PaletteOf(HeaderOf(image));
    ASSERT_EQ(palette.size(), 256u);
    EXPECT_TRUE(Same(palette[9], 0, 0, 0));
    EXPECT_TRUE(Same(palette[10], 1, 2, 3));
    EXPECT_TRUE(Same(palette[12], 7, 8, 9));
    EXPECT_TRUE(Same(palette[13], 0, 0, 0));
    EXPECT_EQ(image.read(2, 4), Expected(picture, 4));  // the map is skipped before the pixels
  }
  {  // 16-bit entries are expanded; entries past 255 are not written.
    TgaOptions o;
    o.imageType = 9;
    o.mapType = 1;
    o.firstIndex = 254;
    o.mapEntryBits = 16;
    o.map = {0xFF, 0x7F, 0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C};
    readertest::OpenImage image(api, "map16.tga", EncodeTga(picture, o));
    ASSERT_EQ(image.initResult, 1);
    auto palette = PaletteOf(HeaderOf(image));
    EXPECT_TRUE(Same(palette[254], 248, 248, 248));
    EXPECT_TRUE(Same(palette[255], 248, 0, 0));
    EXPECT_EQ(image.read(2, 4), Expected(picture, 4));
  }
  {  // Grey images get a grey ramp.
    TgaOptions o;
    o.imageType = 3;
    readertest::OpenImage image(api, "grey.tga", EncodeTga(picture, o));
    auto palette = PaletteOf(HeaderOf(image));
    ASSERT_EQ(palette.size(), 256u);
    for (uint32_t i = 0; i < 256; ++i) EXPECT_TRUE(Same(palette[i], i, i, i)) << i;
  }
  {  // 1-bit: black and white.
    TgaOptions o;
    o.imageType = 3;
    readertest::OpenImage image(api, "bw.tga", EncodeTga(TgaPicture{8, 1, 1, {{0x5A}}}, o));
    auto palette = PaletteOf(HeaderOf(image));
    ASSERT_EQ(palette.size(), 2u);
    EXPECT_TRUE(Same(palette[0], 0, 0, 0));
    EXPECT_TRUE(Same(palette[1], 255, 255, 255));
  }
}

}  // namespace
}  // namespace tgatest

namespace tgatest {
namespace {

// Pictures larger than the reader's input storage: pixels and packets split
// by a refill, rows walked over before the first one wanted, rows found again
// from remembered offsets or the scan-line table in any order and block size.
TEST_F(TgaTest, LargePicturesReadTheSameAcrossInputRefills) {
  uint32_t seed = 70;
  for (uint8_t depth : {uint8_t{16}, uint8_t{24}, uint8_t{32}}) {
    const TgaPicture picture = MakePicture(701, 90, depth, seed++);
    const uint32_t stride = Stride(picture);
    const Rows expected = Expected(picture, stride);
    for (int variant = 0; variant < 4; ++variant) {
      TgaOptions o;
      o.imageType = 10;
      o.topDown = (variant & 1) != 0;
      o.crossRows = variant == 2;
      o.footer = o.scanTable = variant == 3;
      SCOPED_TRACE(testing::Message() << "depth " << int(depth) << " variant " << variant);
      const Bytes file = EncodeTga(picture, o);
      ASSERT_GT(file.size(), 96u * 1024);  // more than the input storage holds
      EXPECT_EQ(ReadAll(file, 24), expected);
      readertest::OpenImage image(api, "large.tga", file);
      ASSERT_EQ(image.initResult, 1);
      for (uint32_t block : {1u, 7u, 50u}) {
        ASSERT_EQ(api.setRow(image.handle, 0), 1);
        EXPECT_EQ(image.readInBlocks(90, block, stride), expected) << block;
      }
      for (uint32_t first : {88u, 0u, 45u, 3u, 60u, 59u}) {
        ASSERT_EQ(api.setRow(image.handle, first), 1);
        EXPECT_EQ(image.read(2, stride), Rows(expected.begin() + first, expected.begin() + first + 2)) << first;
      }
    }
  }
}

}  // namespace
}  // namespace tgatest
