// Scan lines to DIB rows: every plane layout, run-length edge cases, the end
// of the data, offsets and strides, block sizes and row positioning.
#include "pcx_fixture.h"

namespace pcxtest {
namespace {

struct LayoutCase {
  uint8_t planes, bits;
  uint32_t width;
};

// Every layout the reader delivers, at widths that leave partial bytes and
// groups, against rows worked out from the same picture.
TEST_F(PcxTest, EveryLayoutDecodesToItsDibRows) {
  const LayoutCase cases[] = {{1, 1, 1},  {1, 1, 77}, {1, 2, 13}, {1, 2, 64}, {1, 4, 9},
                              {1, 8, 31}, {2, 1, 19}, {3, 1, 40}, {4, 1, 83}, {4, 1, 8},
                              {3, 8, 1},  {3, 8, 45}, {4, 8, 10}};
  uint32_t seed = 1;
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.planes) << "x" << int(c.bits) << " width " << c.width);
    Header h = HeaderFor(c.width, 11, c.planes, c.bits);
    Picture picture = RandomPicture(c.width, 11, c.planes * c.bits, seed++);
    Decoded d = ReadAll(PcxFile(h, picture));
    EXPECT_EQ(d.header.biBitCount, DibBits(h));
    EXPECT_EQ(d.header.biWidth, static_cast<int32_t>(c.width));
    EXPECT_EQ(d.header.biHeight, 11);
    EXPECT_EQ(d.rows, ExpectedRows(h, picture));
  }
}

TEST_F(PcxTest, LayoutsWithoutADibFormAreRefused) {
  for (auto [planes, bits] : std::vector<std::pair<uint8_t, uint8_t>>{
           {2, 2}, {4, 2}, {3, 4}, {2, 8}, {5, 1}, {1, 16}, {1, 24}, {0, 8}, {1, 0}}) {
    Header h = HeaderFor(8, 2, planes, bits);
    auto [result, text] = OpenResult(h.bytes());
    EXPECT_EQ(result, 3) << int(planes) << "x" << int(bits);
    EXPECT_EQ(text, "Invalid PCX header information.");
  }
}

// A run passing the line's end is cut there: the next line starts afresh.
TEST_F(PcxTest, RunsAreCutAtTheEndOfTheLine) {
  Header h = HeaderFor(4, 3, 1, 8);
  Bytes file = h.bytes();
  for (uint8_t b : {0xC6, 0x11, 0xC2, 0x22, 0x33, 0xC1, 0xC7, 0xC0, 0x99, 0x44, 0x55, 0x66, 0x77}) file.push_back(b);
  Decoded d = ReadAll(file);
  EXPECT_EQ(d.rows, (Rows{{0x11, 0x11, 0x11, 0x11}, {0x22, 0x22, 0x33, 0xC7}, {0x44, 0x55, 0x66, 0x77}}));
}

// The end of the data ends the read after the rows that were complete.
TEST_F(PcxTest, TruncatedDataFailsAfterTheCompleteRows) {
  Header h = HeaderFor(16, 6, 1, 8);
  Picture picture = RandomPicture(16, 6, 8, 7);
  Bytes file = PcxFile(h, picture);
  const size_t rowsEnd = 128 + Rle(PlaneLine(h, picture, 0)).size() + Rle(PlaneLine(h, picture, 1)).size();
  for (size_t cut : {rowsEnd + 1, rowsEnd + 2}) {
    Bytes truncated(file.begin(), file.begin() + static_cast<long>(cut));
    readertest::OpenImage image(api, "cut.pcx", truncated);
    ASSERT_EQ(image.initResult, 1);
    int32_t result = 0;
    Rows rows = image.read(6, 16, 0, nullptr, &result, 0);
    EXPECT_EQ(result, 3);
    EXPECT_EQ(api.lastError(), "Unexpected End of PCX File reached.");
    Rows expected = ExpectedRows(h, picture);
    EXPECT_EQ(rows[0], expected[0]);
    EXPECT_EQ(rows[1], expected[1]);
    // The row that failed is the next one; going back to row 0 works.
    EXPECT_EQ(api.setRow(image.handle, 0), 1);
    EXPECT_EQ(image.read(1, 16)[0], expected[0]);
  }
  // A run code whose value byte is missing.
  Bytes runCut = h.bytes();
  runCut.push_back(0xC5);
  readertest::OpenImage image(api, "run.pcx", runCut);
  int32_t result = 0;
  image.read(1, 16, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
}

// Bytes per line below what the width needs: the missing pixels are 0.
TEST_F(PcxTest, ShortLinesGiveZeroPixels) {
  Header h = HeaderFor(20, 2, 1, 8);
  h.bytesPerLine = 6;
  Bytes file = h.bytes();
  for (int y = 0; y < 2; ++y) {
    for (uint8_t b = 1; b <= 6; ++b) file.push_back(static_cast<uint8_t>(b + 10 * y));
  }
  Decoded d = ReadAll(file);
  Bytes first(20, 0);
  for (uint8_t b = 0; b < 6; ++b) first[b] = static_cast<uint8_t>(b + 1);
  EXPECT_EQ(d.rows[0], first);

  Header rgb = HeaderFor(5, 1, 3, 8);
  rgb.bytesPerLine = 2;
  Bytes rgbFile = rgb.bytes();
  for (uint8_t b : {1, 2, 3, 4, 5, 6}) rgbFile.push_back(b);
  Decoded d2 = ReadAll(rgbFile);
  EXPECT_EQ(d2.rows[0], (Bytes{5, 3, 1, 6, 4, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// Narrow strides take the bytes from the offset on, also inside a pixel
// group; wide strides leave the bytes past the DIB row as they were.
TEST_F(PcxTest, OffsetsAndStrides) {
  const LayoutCase cases[] = {{4, 1, 37}, {1, 2, 21}, {3, 8, 13}, {1, 8, 30}};
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.planes) << "x" << int(c.bits));
    Header h = HeaderFor(c.width, 5, c.planes, c.bits);
    Picture picture = RandomPicture(c.width, 5, c.planes * c.bits, 40 + c.width);
    Rows expected = ExpectedRows(h, picture);
    const auto dibRow = static_cast<uint32_t>(expected[0].size());
    readertest::OpenImage image(api, "o.pcx", PcxFile(h, picture));
    ASSERT_EQ(image.initResult, 1);
    for (uint32_t offset : {0u, 1u, 3u, 5u}) {
      ASSERT_EQ(api.setRow(image.handle, 0), 1);
      Rows rows = image.read(5, 4, offset, nullptr, nullptr, 0xEE);
      for (uint32_t y = 0; y < 5; ++y) {
        Bytes want(expected[y].begin() + offset, expected[y].begin() + offset + 4);
        if (c.bits == 8 && c.planes == 3) {  // the padding after the last pixel is not written
          for (uint32_t j = 0; j < 4; ++j) {
            if (offset + j >= 3 * c.width) want[j] = 0xEE;
          }
        }
        EXPECT_EQ(rows[y], want) << "offset " << offset << " row " << y;
      }
    }
    ASSERT_EQ(api.setRow(image.handle, 0), 1);
    Rows wide = image.read(5, dibRow + 3, 0, nullptr, nullptr, 0);
    for (uint32_t y = 0; y < 5; ++y) {
      Bytes want = expected[y];
      want.resize(dibRow + 3, 0);
      EXPECT_EQ(wide[y], want);
    }
  }
}

// Rows read one, seven or all at a time, and after set_row forwards and
// backwards, are the rows of one read.
TEST_F(PcxTest, BlockSizesAndSetRowAgree) {
  Header h = HeaderFor(50, 30, 4, 1);
  Picture picture = RandomPicture(50, 30, 4, 99);
  Rows expected = ExpectedRows(h, picture);
  readertest::OpenImage image(api, "b.pcx", PcxFile(h, picture));
  ASSERT_EQ(image.initResult, 1);
  const uint32_t stride = static_cast<uint32_t>(expected[0].size());
  for (uint32_t block : {1u, 7u, 30u}) {
    ASSERT_EQ(api.setRow(image.handle, 0), 1);
    EXPECT_EQ(image.readInBlocks(30, block, stride), expected) << block;
  }
  for (uint32_t row : {17u, 3u, 29u, 29u, 0u, 12u}) {
    ASSERT_EQ(api.setRow(image.handle, row), 1);
    EXPECT_EQ(image.read(1, stride)[0], expected[row]) << row;
  }
  // Past the last row: refused, nothing changes.
  EXPECT_EQ(api.setRow(image.handle, 31), 3);
  EXPECT_EQ(image.read(1, stride)[0], expected[13]);
  int32_t result = 0;
  image.read(20, stride, 0, nullptr, &result);
  EXPECT_EQ(result, 3);  // only 16 rows were left
}

// The palette at the end of the page is read in the middle of the rows
// without disturbing them; progress reports go on, and their answer is ignored.
TEST_F(PcxTest, HeaderMidwayAndProgress) {
  Header h = HeaderFor(24, 10, 1, 8);
  Picture picture = RandomPicture(24, 10, 8, 5);
  Bytes vga(768, 0x42);
  readertest::OpenImage image(api, "m.pcx", PcxFile(h, picture, &vga));
  ASSERT_EQ(image.initResult, 1);
  Rows expected = ExpectedRows(h, picture);
  EXPECT_EQ(image.read(3, 24), Rows(expected.begin(), expected.begin() + 3));
  ImageHeaderRecord record{};
  std::vector<uint8_t> info;
  ASSERT_EQ(image.buildHead(record, &info), 1);
  EXPECT_EQ(info[40], 0x42);
  ProgressRecord progress{};
  progress.callback = [](uint32_t, uint32_t, uint32_t) -> int32_t { return 0; };
  progress.step = 10;
  progress.total = 240;
  int32_t result = 0;
  EXPECT_EQ(image.read(7, 24, 0, &progress, &result), Rows(expected.begin() + 3, expected.end()));
  EXPECT_EQ(result, 1);
  EXPECT_GT(progress.reported, 0u);  // the callback was called, and its 0 ignored
}

}  // namespace
}  // namespace pcxtest

namespace pcxtest {
namespace {

// Pages larger than the reader's input storage (runs split by a refill): the
// rows stay the picture's through everything that moves the file between
// them: the palette read at the page's end, OVDLset_row back and forth,
// OVDLclose_keep/OVDLopen and page changes.
TEST_F(PcxTest, RowsStayRightAcrossRefillsAndRepositioning) {
  const uint32_t width = 1001, height = 150;
  const Header h = HeaderFor(width, height, 1, 8);
  const Picture p0 = RandomPicture(width, height, 8, 91);
  const Picture p1 = RandomPicture(width, height, 8, 92);
  const Bytes vga(768, 0x34);
  const Rows rows[2] = {ExpectedRows(h, p0), ExpectedRows(h, p1)};
  const uint32_t stride = static_cast<uint32_t>(DibRowBytes(width, 8));
  readertest::OpenImage image(api, "large.dcx", DcxFile({PcxFile(h, p0, &vga), PcxFile(h, p1, &vga)}));
  ASSERT_EQ(image.initResult, 1);
  enum class Step { kRead, kHead, kSetRow, kKeepAndOpen, kPage };
  const struct {
    Step step;
    uint32_t value;  // rows to read, row, or page
  } steps[] = {{Step::kRead, 7},     {Step::kHead, 0},   {Step::kRead, 60},   {Step::kSetRow, 3},
               {Step::kRead, 10},    {Step::kSetRow, 100}, {Step::kRead, 5},  {Step::kKeepAndOpen, 0},
               {Step::kRead, 45},    {Step::kPage, 1},   {Step::kRead, 80},   {Step::kHead, 0},
               {Step::kRead, 70},    {Step::kPage, 0},   {Step::kSetRow, 140}, {Step::kRead, 10}};
  uint32_t page = 0;
  uint32_t row = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "page " << page << " row " << row);
    ImageHeaderRecord record{};
    switch (s.step) {
      case Step::kRead:
        EXPECT_EQ(image.read(s.value, stride), Rows(rows[page].begin() + row, rows[page].begin() + row + s.value));
        row += s.value;
        break;
      case Step::kHead:
        EXPECT_EQ(image.buildHead(record), 1);
        break;
      case Step::kSetRow:
        EXPECT_EQ(api.setRow(image.handle, static_cast<int32_t>(s.value)), 1);
        row = s.value;
        break;
      case Step::kKeepAndOpen:
        EXPECT_EQ(api.closeKeep(image.handle), 1);
        EXPECT_EQ(api.open(image.handle, 0), 1);
        break;
      case Step::kPage:
        EXPECT_EQ(api.setPage(image.handle, static_cast<int32_t>(s.value)), 1);
        page = s.value;
        row = 0;
        break;
    }
  }
}

// A host read failing part-way ends the read like the end of the data: the
// rows coded before the failing byte are delivered, then result 3, id 5.
TEST_F(PcxTest, AHostReadFailingPartWayDeliversTheRowsBeforeIt) {
  const uint32_t width = 900, height = 120;
  const Header h = HeaderFor(width, height, 1, 8);
  const Picture picture = RandomPicture(width, height, 8, 93);
  const Rows expected = ExpectedRows(h, picture);
  const uint32_t stride = static_cast<uint32_t>(DibRowBytes(width, 8));
  std::vector<size_t> rowEnds;  // end of each coded row, from the first scan line
  for (uint32_t y = 0; y < height; ++y) {
    rowEnds.push_back((y == 0 ? 0 : rowEnds.back()) + Rle(PlaneLine(h, picture, y)).size());
  }
  const Bytes file = PcxFile(h, picture);
  auto& files = testsupport::MemoryFiles::instance();
  for (size_t failAt : {file.size() / 4, file.size() / 2 + 1, file.size() * 3 / 4 + 3}) {
    SCOPED_TRACE(failAt);
    files.reset();  // the count of bytes read starts again
    files.readFailsAfterBytes = static_cast<int64_t>(failAt);
    readertest::OpenImage image(api, "failing.pcx", file);
    ASSERT_EQ(image.initResult, 1);
    int32_t result = 0;
    const Rows got = image.read(height, stride, 0, nullptr, &result, 0);
    EXPECT_EQ(result, 3);
    EXPECT_EQ(api.lastError(), "Unexpected End of PCX File reached.");
    // Opening read the 4-byte signature test and the 128-byte header.
    const size_t dataRead = failAt - 4 - 128;
    for (uint32_t y = 0; y < height && rowEnds[y] <= dataRead; ++y) EXPECT_EQ(got[y], expected[y]) << y;
    files.readFailsAfterBytes = -1;
  }
}

}  // namespace
}  // namespace pcxtest
