// rdgif rows: depths and palettes, interlaced images in any blocks and
// order, moving back, early ends, corrupt data, cancellation, narrow and
// offset reads, and blocks before the image.
#include "gif_fixture.h"

namespace giftest {
namespace {

RGBQUAD Quad(const Bytes& rgb) {
  return RGBQUAD{rgb[2], rgb[1], rgb[0], 0};
}

bool Same(const RGBQUAD& a, const RGBQUAD& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<RGBQUAD> PaletteOf(const Bytes& info) {
  std::vector<RGBQUAD> palette((info.size() - 40) / 4);
  std::memcpy(palette.data(), info.data() + 40, palette.size() * 4);
  return palette;
}

// Depth of the DIB from max(code size, colour resolution); one decode in one
// call, in blocks, and from a row reached by moving back.
TEST_F(GifTest, DepthsAndRowsInAnyBlocks) {
  struct Case {
    uint8_t codeSize, resolution;
    uint32_t dibBits, pixelBits;
  };
  const Case cases[] = {{1, 1, 1, 1}, {2, 1, 4, 1}, {2, 2, 4, 2}, {3, 4, 4, 3}, {4, 5, 8, 4}, {8, 8, 8, 8}};
  uint32_t seed = 10;
  for (const Case& c : cases) {
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE(testing::Message() << int(c.codeSize) << "/" << int(c.resolution) << " " << interlaced);
      const GifPicture picture = MakePicture(37, 29, c.pixelBits, seed++);
      GifOptions o;
      o.codeSize = c.codeSize;
      o.colourResolution = c.resolution;
      o.globalBits = c.codeSize;
      o.interlaced = interlaced;
      readertest::OpenImage image(api, "d.gif", EncodeGif(picture, o));
      ASSERT_EQ(image.initResult, 1);
      Bytes info = HeaderOf(image);
      BITMAPINFOHEADER h;
      std::memcpy(&h, info.data(), sizeof h);
      ASSERT_EQ(h.biBitCount, c.dibBits);
      EXPECT_EQ(h.biClrUsed, 1u << c.dibBits);
      const uint32_t stride = Stride(picture, c.dibBits);
      const Rows expected = Expected(picture, c.dibBits, stride);
      EXPECT_EQ(image.read(29, stride), expected);
      ASSERT_EQ(api.setRow(image.handle, 0), 1);
      EXPECT_EQ(image.readInBlocks(29, 4, stride), expected);
      ASSERT_EQ(api.setRow(image.handle, 11), 1);  // back from the end
      EXPECT_EQ(image.read(5, stride), Rows(expected.begin() + 11, expected.begin() + 16));
      ASSERT_EQ(api.setRow(image.handle, 3), 1);
      EXPECT_EQ(image.read(2, stride), Rows(expected.begin() + 3, expected.begin() + 5));
    }
  }
}

TEST_F(GifTest, NarrowAndOffsetReadsPackFromThePixelOffset) {
  const GifPicture picture = MakePicture(40, 3, 4, 77);
  GifOptions o;
  o.codeSize = 4;
  o.colourResolution = 4;
  readertest::OpenImage image(api, "n.gif", EncodeGif(picture, o));
  ASSERT_EQ(image.initResult, 1);
  const Rows full = Expected(picture, 4, 20);
  Rows rows = image.read(3, 5, 3);  // DIB bytes 3..7: pixels 6..15
  for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(rows[y], Bytes(full[y].begin() + 3, full[y].begin() + 8)) << y;
}

TEST_F(GifTest, PaletteFromTheTableInEffect) {
  const GifPicture picture = MakePicture(8, 2, 2, 5);
  {  // The global table; entries past it are black.
    GifOptions o;
    o.codeSize = 2;
    o.globalBits = 2;
    o.colourResolution = 8;
    readertest::OpenImage image(api, "g.gif", EncodeGif(picture, o));
    auto palette = PaletteOf(HeaderOf(image));
    ASSERT_EQ(palette.size(), 256u);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(Same(palette[i], Quad(TableColour(i, 1)))) << i;
    EXPECT_TRUE(Same(palette[4], RGBQUAD{0, 0, 0, 0}));
  }
  {  // A local table wins over the global one.
    GifOptions o;
    o.codeSize = 2;
    o.globalBits = 3;
    o.localBits = 2;
    o.colourResolution = 2;
    readertest::OpenImage image(api, "l.gif", EncodeGif(picture, o));
    auto palette = PaletteOf(HeaderOf(image));
    ASSERT_EQ(palette.size(), 16u);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(Same(palette[i], Quad(TableColour(i, 2)))) << i;
    EXPECT_TRUE(Same(palette[5], RGBQUAD{0, 0, 0, 0}));
    EXPECT_EQ(image.read(2, 4), Expected(picture, 4, 4));
  }
  {  // No table at all: a grey ramp.
    GifOptions o;
    o.codeSize = 2;
    o.globalBits = 0;
    o.colourResolution = 1;
    readertest::OpenImage image(api, "n.gif", EncodeGif(picture, o));
    auto palette = PaletteOf(HeaderOf(image));
    ASSERT_EQ(palette.size(), 16u);
    EXPECT_TRUE(Same(palette[0], RGBQUAD{0, 0, 0, 0}));
    EXPECT_TRUE(Same(palette[15], RGBQUAD{255, 255, 255, 0}));
    EXPECT_TRUE(Same(palette[5], RGBQUAD{85, 85, 85, 0}));
  }
}

// Extension blocks are skipped as blocks: a 0x2C inside one is data.
TEST_F(GifTest, BlocksBeforeTheImageAreSkippedWhole) {
  const GifPicture picture = MakePicture(16, 5, 8, 8);
  GifOptions o;
  o.beforeImage = {0x21, 0xFE, 5, 'a', ',', 'b', ',', 'c', 2, ',', ',', 0,  // comment
                   0x21, 0xF9, 4, 1, 44, 0, 44, 0,                          // graphic control
                   0x00, 0x3B};  // stray bytes are skipped one by one
  readertest::OpenImage image(api, "ext.gif", EncodeGif(picture, o));
  ASSERT_EQ(image.initResult, 1) << api.lastError();
  EXPECT_EQ(image.read(5, 16), Expected(picture, 8, 16));
}

TEST_F(GifTest, EarlyEndKeepsTheBufferAndSucceeds) {
  GifPicture picture = MakePicture(10, 4, 8, 9);
  for (bool interlaced : {false, true}) {
    // 15 pixels, then the end code: row 1 is half filled, rows 2 and 3 empty.
    const Bytes stored = interlaced ? InterlaceOrder(picture) : picture.pixels;
    auto codes = LzwCodes(Bytes(stored.begin(), stored.begin() + 15), 8, false);
    GifOptions o;
    o.interlaced = interlaced;
    readertest::OpenImage image(api, "end.gif", EncodeGif(picture, o, PackCodes(codes)));
    ASSERT_EQ(image.initResult, 1);
    int32_t result = 0;
    Rows rows = image.read(4, 12, 0, nullptr, &result, 0x77);
    EXPECT_EQ(result, 1);
    // Stored rows: 0, 1 (non-interlaced) or 0, 2 (interlaced pass 0 and 1 of 4 rows: 0; then 2).
    const uint32_t full = 0, half = interlaced ? 2 : 1;
    Bytes first(picture.pixels.begin(), picture.pixels.begin() + 10);
    first.resize(12, 0x77);
    EXPECT_EQ(rows[full], first);
    Bytes partial(picture.pixels.begin() + half * 10, picture.pixels.begin() + half * 10 + 5);
    partial.resize(12, 0x77);
    EXPECT_EQ(rows[half], partial);
    for (uint32_t y = 0; y < 4; ++y) {
      if (y != full && y != half) {
        EXPECT_EQ(rows[y], Bytes(12, 0x77)) << y;
      }
    }
  }
}

TEST_F(GifTest, CorruptDataFailsAfterTheRowsBeforeIt) {
  const GifPicture picture = MakePicture(6, 5, 2, 3);
  for (bool interlaced : {false, true}) {
    // Two stored rows, then a code far past the table instead of the end code.
    const Bytes stored = interlaced ? InterlaceOrder(picture) : picture.pixels;
    auto codes = LzwCodes(Bytes(stored.begin(), stored.begin() + 12), 2, false);
    codes.pop_back();
    const uint32_t width = codes.back().second;
    codes.push_back({(1u << width) - 1, width});
    GifOptions o;
    o.codeSize = 2;
    o.interlaced = interlaced;
    readertest::OpenImage image(api, "bad.gif", EncodeGif(picture, o, PackCodes(codes)));
    ASSERT_EQ(image.initResult, 1);
    const Rows expected = Expected(picture, 8, 6);  // resolution 8: an 8-bit DIB
    int32_t result = 0;
    EXPECT_EQ(image.read(1, 6, 0, nullptr, &result)[0], expected[0]);
    EXPECT_EQ(result, 1) << interlaced;
    image.read(4, 6, 0, nullptr, &result);
    EXPECT_EQ(result, 10) << interlaced;
    EXPECT_EQ(api.lastError(), "Error processing GIF Image Lines.");
  }
}

int32_t CALLBACK StopOnFirstReport(uint32_t, uint32_t, uint32_t) {
  return 0;
}

TEST_F(GifTest, CancelStopsAfterTheRowsDelivered) {
  const GifPicture picture = MakePicture(20, 10, 8, 6);
  const Rows expected = Expected(picture, 8, 20);
  readertest::OpenImage image(api, "cancel.gif", EncodeGif(picture, {}));
  ASSERT_EQ(image.initResult, 1);
  ProgressRecord progress{StopOnFirstReport, 50, 200, 0, 0, 0, 0};
  int32_t result = 0;
  Rows rows = image.read(10, 20, 0, &progress, &result);
  EXPECT_EQ(result, 23);
  // Reported after the third row (60 > 50): rows 0-2 delivered, row 3 is next.
  EXPECT_EQ(Rows(rows.begin(), rows.begin() + 3), Rows(expected.begin(), expected.begin() + 3));
  EXPECT_EQ(image.read(7, 20), Rows(expected.begin() + 3, expected.end()));
  ProgressRecord idle{nullptr, 1, 1, 0, 0, 0, 0};  // no callback: only the pending amount grows
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  image.read(4, 20, 0, &idle, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(idle.pending, 80u);
}

// A huge interlaced image from a tiny file is refused as an allocation
// failure, not attempted.
TEST_F(GifTest, HugeInterlacedPicturesAreRefused) {
  GifPicture picture{65535, 65535, {}};
  GifOptions o;
  o.interlaced = true;
  readertest::OpenImage image(api, "huge.gif", EncodeGif(picture, o, PackCodes({{256, 9}, {1, 9}, {257, 9}})));
  ASSERT_EQ(image.initResult, 1);
  Bytes row(65536);
  EXPECT_EQ(api.readRows(image.handle, row.data(), 1, 65536, 0, nullptr), 6);
  EXPECT_EQ(api.lastError(), "Unable to allocate memory for image.");
}

}  // namespace
}  // namespace giftest
