// The directory side of the TIFF reader: byte orders, values in the entry
// field, sizes, resolution, the page walk and every refusal at open.
#include <cstring>

#include "tiff_fixture.h"

namespace tifftest {
namespace {

// A 5 × 5 8-bit greyscale picture in strips of 3 rows, StripOffsets as two
// SHORT values held in the entry's own field.
std::vector<uint8_t> GreyTwoStrips(bool bigEndian, Rows& rows) {
  rows.clear();
  for (uint8_t r = 0; r < 5; ++r) rows.push_back({uint8_t(r * 40), uint8_t(r * 40 + 1), 7, 8, uint8_t(250 - r)});
  Page page = SimplePage(5, 5, 8, 1, 1, 1, 3, StripsFromRows(rows, 3));
  page.entries.push_back({273, kShort, {}});
  page.addByteCounts = false;
  BuildOptions options;
  options.bigEndian = bigEndian;
  return Build({page}, options);
}

TEST_F(TiffTest, BothByteOrdersGiveTheSameRowsWithShortPairsInTheField) {
  Rows picture;
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    BITMAPINFOHEADER h{};
    Rows rows = ReadAll(GreyTwoStrips(big, picture), &h);
    EXPECT_EQ(h.biBitCount, 8);
    ASSERT_EQ(rows.size(), 5u);
    for (size_t r = 0; r < 5; ++r) EXPECT_EQ(rows[r], Padded(picture[r], 8)) << "row " << r;
  }
}

TEST_F(TiffTest, WidthAndLengthTakeAllThirtyTwoBits) {
  const uint32_t width = 70000;
  std::vector<uint8_t> row((width + 7) / 8, 0x0F);
  Page page = SimplePage(width, 2, 1, 1, 1, 1, 2, {StripsFromRows({row, row}, 2)});
  BITMAPINFOHEADER h{};
  Rows rows = ReadAll(Build({page}), &h);
  EXPECT_EQ(h.biWidth, 70000);
  EXPECT_EQ(h.biHeight, 2);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], Padded(row, static_cast<uint32_t>(DibRowBytes(width, 1))));
}

TEST_F(TiffTest, ResolutionIsComputedWideAndClamped) {
  Page page = SimplePage(8, 1, 1, 1, 1, 1, 1, {{0x55}});
  page.entries.push_back({282, kRational, {4294967295u, 36364130u}});
  page.entries.push_back({283, kRational, {300, 0}});  // a zero denominator reads as 1
  BITMAPINFOHEADER h{};
  ReadAll(Build({page}), &h);
  EXPECT_EQ(h.biXPelsPerMeter, 4649);
  EXPECT_EQ(h.biYPelsPerMeter, 11811);

  page.entries.push_back({296, kShort, {3}});  // centimetres: × 100, clamped
  page.entries[7] = {282, kRational, {4294967295u, 1}};
  ReadAll(Build({page}), &h);
  EXPECT_EQ(h.biXPelsPerMeter, 2147483647);
  EXPECT_EQ(h.biYPelsPerMeter, 30000);
}

// Three 1-bit pages of different widths whose rows say which page they are.
std::vector<Page> ThreePages() {
  std::vector<Page> pages;
  for (uint8_t p = 0; p < 3; ++p) {
    uint32_t width = 8 + 8 * p;
    std::vector<uint8_t> row(width / 8, static_cast<uint8_t>(0x10 + p));
    pages.push_back(SimplePage(width, 2, 1, 1, 1, 1, 2, {StripsFromRows({row, row}, 2)}));
  }
  return pages;
}

uint32_t PageCount(const readertest::OpenImage& image) {
  ImageHeaderRecord record{};
  image.buildHead(record);
  return record.pageCount;
}

TEST_F(TiffTest, PagesAreCountedAndChosen) {
  readertest::OpenImage image(api, "p.tif", Build(ThreePages()));
  ASSERT_EQ(image.initResult, 1);
  EXPECT_EQ(PageCount(image), 3u);
  for (int32_t page : {2, 0, 1}) {
    ASSERT_EQ(api.setPage(image.handle, page), 1);
    int32_t current = -1;
    EXPECT_EQ(api.getPage(image.handle, &current), 1);
    EXPECT_EQ(current, page);
    ImageHeaderRecord record{};
    ASSERT_EQ(image.buildHead(record), 1);
    EXPECT_EQ(record.width, 8u + 8u * static_cast<uint32_t>(page));
    Rows rows = image.read(2, 4);
    EXPECT_EQ(rows[0][0], 0x10 + page);
  }
  EXPECT_EQ(api.setPage(image.handle, 3), 16);
  EXPECT_EQ(api.lastError(), "Seek to non-existent page.");
  EXPECT_EQ(api.setPage(image.handle, -1), 16);
}

TEST_F(TiffTest, PageWalkEndsAtLoopsAndAtLinksPastTheEnd) {
  struct Case {
    const char* name;
    std::vector<int64_t> links;
    uint32_t pages;
  } cases[] = {
      {"last links back to the first", {-1, -1, 0}, 3},
      {"first links to itself", {0}, 1},
      {"second links past the end", {-1, 900000}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuildOptions options;
    options.links = c.links;
    readertest::OpenImage image(api, "loop.tif", Build(ThreePages(), options));
    ASSERT_EQ(image.initResult, 1);
    EXPECT_EQ(PageCount(image), c.pages);
    EXPECT_EQ(api.setPage(image.handle, static_cast<int32_t>(c.pages) - 1), 1);
    EXPECT_EQ(api.setPage(image.handle, static_cast<int32_t>(c.pages)), 16);
  }
}

TEST_F(TiffTest, RefusalsAtOpenCarryTheirIdAndText) {
  auto page = [](uint16_t bits, uint16_t samples, uint16_t photometric, uint16_t compression) {
    return SimplePage(8, 1, bits, samples, photometric, compression, 1, {{0, 0, 0, 0, 0, 0}});
  };
  auto with = [](Page p, TagEntry extra) {
    p.entries.push_back(extra);
    return p;
  };
  Page unequalBits = page(8, 3, 2, 1);
  unequalBits.entries[2].values = {8, 8, 4};
  Page noStrips = page(8, 1, 1, 1);
  noStrips.addStripOffsets = false;
  const TagEntry tiles[] = {{322, kShort, {16}}, {323, kShort, {16}}, {324, kLong, {8}}, {325, kLong, {8}}};
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t result;
    const char* text;
  } cases[] = {
      {"LZW", Build({page(1, 1, 0, 5)}), 9, "Unsupported TIFF Option (Compression)."},
      {"JPEG", Build({page(8, 1, 1, 7)}), 9, "Unsupported TIFF Option (Compression)."},
      {"two-dimensional Group 3", Build({with(page(1, 1, 0, 3), {292, kLong, {1}})}), 9,
       "Unsupported TIFF Option (Compression)."},
      {"16-bit samples", Build({page(16, 1, 1, 1)}), 9, "Unsupported TIFF Option (Bits/Sample)."},
      {"two samples", Build({page(8, 2, 1, 1)}), 9, "Unsupported TIFF Option (Bits/Sample)."},
      {"unequal samples", Build({unequalBits}), 9, "Unsupported TIFF Option (Bits/Sample)."},
      {"8-bit Group 4", Build({page(8, 1, 0, 4)}), 9, "Unsupported TIFF Option (Bits/Sample)."},
      {"photometric 5", Build({page(8, 1, 5, 1)}), 9,
       "Unsupported TIFF Option (Photometric Interpretation)."},
      {"planar 3", Build({with(page(8, 1, 1, 1), {284, kShort, {3}})}), 9,
       "Unsupported TIFF Option (Photometric Interpretation)."},
      {"PackBits planes", Build({with(page(8, 3, 2, 32773), {284, kShort, {2}})}), 9,
       "Unsupported TIFF Option (Photometric Interpretation)."},
      {"predictor 3", Build({with(page(8, 1, 1, 1), {317, kShort, {3}})}), 9,
       "Unsupported TIFF Option (LZW Predictor)."},
      {"width 0", Build({with(page(8, 1, 1, 1), {256, kLong, {0}})}), 2,
       "Invalid TIFF header information."},
      {"no StripOffsets", Build({noStrips}), 2, "Invalid TIFF header information."},
      {"TileWidth", Build({with(page(8, 1, 1, 1), tiles[0])}), 2, "Invalid TIFF header information."},
      {"TileLength", Build({with(page(8, 1, 1, 1), tiles[1])}), 2, "Invalid TIFF header information."},
      {"TileOffsets", Build({with(page(8, 1, 1, 1), tiles[2])}), 2, "Invalid TIFF header information."},
      {"TileByteCounts", Build({with(page(8, 1, 1, 1), tiles[3])}), 2, "Invalid TIFF header information."},
      {"signed samples", Build({with(page(8, 1, 1, 1), {339, kShort, {2}})}), 9,
       "Unsupported TIFF Option (Bits/Sample)."},
      {"floating-point samples", Build({with(page(8, 1, 1, 1), {339, kShort, {3}})}), 9,
       "Unsupported TIFF Option (Bits/Sample)."},
      {"undefined sample format", Build({with(page(8, 1, 1, 1), {339, kShort, {4}})}), 9,
       "Unsupported TIFF Option (Bits/Sample)."},
      {"third sample signed", Build({with(page(8, 3, 2, 1), {339, kShort, {1, 1, 2}})}), 9,
       "Unsupported TIFF Option (Bits/Sample)."},
      {"sample formats past the end", Build({with(page(8, 3, 2, 1), {339, kShort, {1, 1, 1}, 900000})}), 3,
       "Error reading from file."},
      {"no directory", [] {
         BuildOptions o;
         o.firstIfdZero = true;
         return Build({SimplePage(8, 1, 1, 1, 1, 1, 1, {{0}})}, o);
       }(), 2, "Invalid TIFF header information."},
      {"byte order", {'I', 'X', 42, 0, 8, 0, 0, 0}, 2, "Invalid TIFF Header Info (Byte Order)."},
      {"short header", {'I', 'I', 42, 0, 8}, 3, "Error reading from file."},
      {"directory past the end", {'I', 'I', 42, 0, 0, 1, 0, 0}, 3, "Error reading from file."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto [result, text] = OpenResult(c.bytes);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(text, c.text);
  }
  // A PlanarConfiguration in a 1-bit image is not looked at.
  EXPECT_EQ(OpenResult(Build({with(page(1, 1, 1, 1), {284, kShort, {7}})})).first, 1);
  // Unsigned samples, one value or one per sample, are read as before.
  EXPECT_EQ(OpenResult(Build({with(page(8, 1, 1, 1), {339, kShort, {1}})})).first, 1);
  EXPECT_EQ(OpenResult(Build({with(page(8, 3, 2, 1), {339, kShort, {1, 1, 1}})})).first, 1);
}

// A later page that cannot be read (tiles, no strips, signed samples) is
// refused when it is chosen; the page before stays current and readable.
TEST_F(TiffTest, UnreadableLaterPagesAreRefusedWhenChosen) {
  struct Case {
    const char* name;
    TagEntry extra;
    bool stripOffsets;
    int32_t result;
    const char* text;
  } cases[] = {
      {"tiles", {322, kShort, {16}}, true, 2, "Invalid TIFF header information."},
      {"no StripOffsets", {255, kLong, {0}}, false, 2, "Invalid TIFF header information."},
      {"signed samples", {339, kShort, {2}}, true, 9, "Unsupported TIFF Option (Bits/Sample)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Page> pages = ThreePages();
    pages[1].entries.push_back(c.extra);
    pages[1].addStripOffsets = c.stripOffsets;
    readertest::OpenImage image(api, "later.tif", Build(pages));
    ASSERT_EQ(image.initResult, 1);
    ASSERT_EQ(api.setPage(image.handle, 2), 1);
    EXPECT_EQ(api.setPage(image.handle, 1), c.result);
    EXPECT_EQ(api.lastError(), c.text);
    int32_t current = -1;
    EXPECT_EQ(api.getPage(image.handle, &current), 1);
    EXPECT_EQ(current, 2);
    ImageHeaderRecord record{};
    ASSERT_EQ(image.buildHead(record), 1);
    ASSERT_EQ(api.setRow(image.handle, 0), 1);
    EXPECT_EQ(image.read(2, 4)[0][0], 0x12);
  }
}

TEST_F(TiffTest, ATiffInsideALargerFileIsReadFromItsOffset) {
  Rows picture;
  std::vector<uint8_t> tiffBytes = GreyTwoStrips(true, picture);
  std::vector<uint8_t> file(1234 + tiffBytes.size() + 50, 0xEE);
  std::copy(tiffBytes.begin(), tiffBytes.end(), file.begin() + 1234);
  auto& files = testsupport::MemoryFiles::instance();
  files.put("outer.bin", file);
  HGLOBAL handle = 0;
  ASSERT_EQ(api.init("outer.bin", &handle, files.openForRead("outer.bin"), 1234,
                     static_cast<uint32_t>(tiffBytes.size()), testsupport::MemoryFiles::table()),
            1);
  std::vector<uint8_t> buffer(5 * 8, 0);
  ASSERT_EQ(api.setRow(handle, 3), 1);  // the second strip
  ASSERT_EQ(api.readRows(handle, buffer.data(), 2, 8, 0, nullptr), 1);
  EXPECT_TRUE(std::equal(picture[4].begin(), picture[4].end(), buffer.begin()));
  EXPECT_TRUE(std::equal(picture[3].begin(), picture[3].end(), buffer.begin() + 8));
  EXPECT_EQ(api.close(handle), 1);
}

TEST_F(TiffTest, OpenFailuresCloseTheFileAndFreeEverything) {
  Page page = SimplePage(8, 1, 8, 1, 3, 1, 1, {{1, 2, 3, 4, 5, 6, 7, 8}});
  page.entries.push_back({320, kShort, std::vector<uint32_t>(768, 0x1234)});
  page.entries.push_back({273, kLong, {8, 8}});  // an array, then a refusal after it
  page.entries.push_back({317, kShort, {9}});
  auto [result, text] = OpenResult(Build({page}));
  EXPECT_EQ(result, 9);
  EXPECT_EQ(text, "Unsupported TIFF Option (LZW Predictor).");
  // TearDown checks that no handle and no block is left.
}

}  // namespace
}  // namespace tifftest
