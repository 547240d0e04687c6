// The chunk walk and the image data: what is skipped, what is refused with
// which result and text, and how damaged data end a read.
#include <cstring>

#include "png_fixture.h"

namespace pngtest {
namespace {

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Data(const Picture& p, bool interlaced = false) {
  return Deflate(FilteredData(p, interlaced, {0, 1, 2, 3, 4}));
}

TEST_F(PngTest, ChunksOtherThanTheImageOnesAreSkipped) {
  Picture p = Noise(9, 5, 8, 2, 1);
  const Rows expected = ExpectedRows(p, Stride(p));
  Bytes file = Join({Signature(), Chunk("tEXt", {'a', 0, 'b'}), Chunk("zzZz", Bytes(100, 7)),
                     Ihdr(9, 5, 8, 2, 0), Chunk("gAMA", {0, 0, 0xB1, 0x8F}),
                     Chunk("bKGD", {0, 1, 0, 2, 0, 3}), Chunk("tRNS", {0, 1, 0, 2, 0, 3}),
                     Idats(Data(p), 20), Chunk("tEXt", {'c', 0}), Iend()});
  EXPECT_EQ(ReadAll(file), expected);
  // The signature is OVDLverify_img's business only.
  file[1] = 'X';
  EXPECT_EQ(api.verifyBytes(file), 0);
  EXPECT_EQ(ReadAll(file), expected);
  file[1] = 'P';
  EXPECT_EQ(api.verifyBytes(file), 1);
  EXPECT_EQ(api.verifyBytes(Bytes(file.begin(), file.begin() + 7)), 0);
}

TEST_F(PngTest, ResolutionComesFromPhysInMetresOnly) {
  Picture p = Noise(4, 4, 8, 0, 2);
  BITMAPINFOHEADER h{};
  ReadAll(Join({Signature(), Ihdr(4, 4, 8, 0, 0), Phys(3780, 2835, 1), Idats(Data(p), 99), Iend()}), &h);
  EXPECT_EQ(h.biXPelsPerMeter, 3780);
  EXPECT_EQ(h.biYPelsPerMeter, 2835);
  ReadAll(Join({Signature(), Ihdr(4, 4, 8, 0, 0), Phys(3780, 2835, 0), Idats(Data(p), 99), Iend()}), &h);
  EXPECT_EQ(h.biXPelsPerMeter, 0);
  EXPECT_EQ(h.biYPelsPerMeter, 0);
  // A value no pixels-per-metre field can hold, and a short chunk: none.
  ReadAll(Join({Signature(), Ihdr(4, 4, 8, 0, 0), Phys(0x80000000u, 5, 1), Idats(Data(p), 99), Iend()}), &h);
  EXPECT_EQ(h.biXPelsPerMeter, 0);
  ReadAll(Join({Signature(), Ihdr(4, 4, 8, 0, 0), Chunk("pHYs", {0, 0, 1}), Idats(Data(p), 99), Iend()}), &h);
  EXPECT_EQ(h.biXPelsPerMeter, 0);
}

TEST_F(PngTest, PaletteChunksOfAnyLength) {
  Picture p = Noise(8, 2, 8, 3, 3);
  Bytes longPalette;
  for (uint32_t i = 0; i < 300; ++i) longPalette.insert(longPalette.end(), {uint8_t(i), 1, 2});
  std::vector<RGBQUAD> palette;
  ReadAll(Join({Signature(), Ihdr(8, 2, 8, 3, 0), Chunk("PLTE", longPalette), Idats(Data(p), 99), Iend()}),
          nullptr, &palette);
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette[255].rgbRed, 255);
  EXPECT_EQ(palette[255].rgbGreen, 1);
  // A palette image without PLTE decodes, in black.
  Rows rows = ReadAll(Join({Signature(), Ihdr(8, 2, 8, 3, 0), Idats(Data(p), 99), Iend()}), nullptr, &palette);
  EXPECT_EQ(rows, ExpectedRows(p, Stride(p)));
  EXPECT_EQ(palette[5].rgbRed + palette[5].rgbGreen + palette[5].rgbBlue, 0);
}

TEST_F(PngTest, HeadersThatCannotDescribeAnImageAreRefused) {
  const Bytes data = Idats(Data(Noise(4, 4, 8, 0, 2)), 99);
  struct Case {
    const char* what;
    Bytes header;
    int32_t result;
    const char* text;
  };
  const Case cases[] = {
      {"no IHDR", {}, 2, "Invalid PNG header information."},
      {"width 0", Ihdr(0, 4, 8, 0, 0), 2, "Invalid PNG header information."},
      {"height 0", Ihdr(4, 0, 8, 0, 0), 2, "Invalid PNG header information."},
      {"width 2^31", Ihdr(0x80000000u, 4, 8, 0, 0), 2, "Invalid PNG header information."},
      {"grey depth 3", Ihdr(4, 4, 3, 0, 0), 2, "Invalid PNG header information."},
      {"RGB depth 4", Ihdr(4, 4, 4, 2, 0), 2, "Invalid PNG header information."},
      {"palette depth 16", Ihdr(4, 4, 16, 3, 0), 2, "Invalid PNG header information."},
      {"grey+alpha depth 2", Ihdr(4, 4, 2, 4, 0), 2, "Invalid PNG header information."},
      {"colour type 5", Ihdr(4, 4, 8, 5, 0), 2, "Invalid PNG header information."},
      {"IHDR of 12 bytes", Chunk("IHDR", Bytes(12, 1)), 2, "Invalid PNG header information."},
      {"compression 1", Ihdr(4, 4, 8, 0, 0, 1, 0), 9, "Unsupported PNG version."},
      {"filter method 1", Ihdr(4, 4, 8, 0, 0, 0, 1), 9, "Unsupported PNG version."},
      {"interlace 2", Ihdr(4, 4, 8, 0, 2), 9, "Unsupported PNG version."},
      {"rows over 2^28 bytes", Ihdr(0x7FFFFFFF, 1, 16, 6, 0), 9, "Unsupported PNG version."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto [result, text] = OpenResult(Join({Signature(), c.header, data, Iend()}));
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(text, c.text);
  }
  // A second IHDR does not replace the first.
  Picture p = Noise(4, 4, 8, 0, 2);
  EXPECT_EQ(ReadAll(Join({Signature(), Ihdr(4, 4, 8, 0, 0), Ihdr(400, 400, 16, 6, 1), data, Iend()})),
            ExpectedRows(p, Stride(p)));
}

TEST_F(PngTest, ChunkListsThatEndBadlyAreRefused) {
  Picture p = Noise(5, 3, 8, 0, 4);
  const Bytes good = Join({Signature(), Ihdr(5, 3, 8, 0, 0), Idats(Data(p), 99)});
  // No IEND, even with all image data present; a file cut inside a chunk header.
  for (size_t cut : {good.size(), good.size() - 3, size_t(20)}) {
    SCOPED_TRACE(cut);
    auto [result, text] = OpenResult(Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
    EXPECT_EQ(result, 3);
    EXPECT_EQ(text, "Error reading from file.");
  }
  // A chunk length that is negative as a signed 32-bit value.
  Bytes wrapped = Join({good, Iend()});
  wrapped[33] = 0x80;  // the first IDAT's length field
  EXPECT_EQ(OpenResult(wrapped), std::make_pair(2, std::string("Invalid PNG header information.")));
  // No image data at all.
  EXPECT_EQ(OpenResult(Join({Signature(), Ihdr(5, 3, 8, 0, 0), Iend()})),
            std::make_pair(3, std::string("Unexpected End of PNG File reached.")));
}

TEST_F(PngTest, HugeClaimsFromTinyDataAreRefusedBeforeAllocating) {
  // 50000 × 50000 RGBA: a row is 200 kB, more than 60 bytes of deflate can give.
  const Bytes tiny = Idats(Deflate(Bytes(60, 0)), 99);
  for (uint8_t interlace : {0, 1}) {
    SCOPED_TRACE(int(interlace));
    auto [result, text] = OpenResult(Join({Signature(), Ihdr(50000, 50000, 8, 6, interlace), tiny, Iend()}));
    EXPECT_EQ(result, 3);
    EXPECT_EQ(text, "Unexpected End of PNG File reached.");
  }
  // Tall and narrow, interlaced: the even rows would be held whole.
  auto [result, text] = OpenResult(Join({Signature(), Ihdr(1, 0x7FFFFFFF, 1, 0, 1), tiny, Iend()}));
  EXPECT_EQ(result, 3);
}

TEST_F(PngTest, DamagedImageDataEndTheReadWithAnError) {
  Picture p = Noise(40, 20, 8, 2, 6);
  const uint32_t stride = Stride(p);
  const Rows expected = ExpectedRows(p, stride);
  const Bytes deflated = Data(p);
  int32_t result = 0;

  // Data cut short: the rows before the cut are delivered, then 3 with id 5.
  Bytes cut(deflated.begin(), deflated.begin() + static_cast<long>(deflated.size() / 2));
  Rows rows = ReadAll(Join({Signature(), Ihdr(40, 20, 8, 2, 0), Idats(cut, 50), Iend()}), nullptr, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.lastError(), "Unexpected End of PNG File reached.");
  EXPECT_EQ(rows[0], expected[0]);
  EXPECT_EQ(rows[19], Bytes(stride, 0xA5));  // never reached

  // A non-IDAT chunk between IDAT chunks ends the data.
  Bytes split = Join({Signature(), Ihdr(40, 20, 8, 2, 0), Idats(Bytes(deflated.begin(), deflated.begin() + 100), 50),
                      Chunk("tEXt", {'x', 0}), Idats(Bytes(deflated.begin() + 100, deflated.end()), 50), Iend()});
  ReadAll(split, nullptr, nullptr, &result);
  EXPECT_EQ(result, 3);

  // Corrupt deflate data, a stream that ends before the image: 10, no text stored.
  Bytes corrupt = deflated;
  corrupt[0] = 0x00;  // not a zlib header
  api.print(0, 0, 0, 0);
  ReadAll(Join({Signature(), Ihdr(40, 20, 8, 2, 0), Idats(corrupt, 50), Iend()}), nullptr, nullptr, &result);
  EXPECT_EQ(result, 10);
  Picture shorter = p;
  shorter.rows.resize(12);
  shorter.height = 12;
  ReadAll(Join({Signature(), Ihdr(40, 20, 8, 2, 0), Idats(Data(shorter), 50), Iend()}), nullptr, nullptr, &result);
  EXPECT_EQ(result, 10);

  // An unknown filter type is corrupt data; the rows before it are delivered.
  Bytes filtered = FilteredData(p, false, {0});
  filtered[static_cast<size_t>(5) * (40 * 3 + 1)] = 5;  // row 5
  rows = ReadAll(Join({Signature(), Ihdr(40, 20, 8, 2, 0), Idats(Deflate(filtered), 50), Iend()}), nullptr, nullptr,
                 &result);
  EXPECT_EQ(result, 10);
  EXPECT_EQ(rows[4], expected[4]);
  EXPECT_EQ(rows[5], Bytes(stride, 0xA5));

  // Data after the last row are ignored.
  Bytes extra = FilteredData(p, false, {1});
  extra.resize(extra.size() + 500, 9);
  EXPECT_EQ(ReadAll(Join({Signature(), Ihdr(40, 20, 8, 2, 0), Idats(Deflate(extra), 50), Iend()})), expected);
}

}  // namespace
}  // namespace pngtest
