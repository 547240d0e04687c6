// rdgem row delivery: decoding, placement, strides and offsets, replication
// carried across calls, positioning, truncated and malformed data.
#include <cstring>

#include "gem_fixture.h"

namespace gemtest {
namespace {

using Rows = std::vector<std::vector<uint8_t>>;
using Bytes = std::vector<uint8_t>;

TEST_F(GemTest, ItemsDecodeComplemented) {
  // 0x87 on a 56-pixel line: seven black bytes (0x00 in the DIB).
  readertest::OpenImage solid(api, "solid.img", GemFile(56, 1).solid(true, 7).bytes());
  ASSERT_EQ(solid.initResult, 1);
  EXPECT_EQ(solid.read(1, 7)[0], Bytes(7, 0x00));

  // Pattern run 0x00 0x03 with pattern F0 0F: three copies, complemented.
  readertest::OpenImage pattern(api, "pattern.img", GemFile(48, 1, 2).pattern(3, {0xF0, 0x0F}).bytes());
  ASSERT_EQ(pattern.initResult, 1);
  EXPECT_EQ(pattern.read(1, 6)[0], (Bytes{0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0}));

  // White run, then a literal.
  readertest::OpenImage mixed(api, "mixed.img", GemFile(32, 1).solid(false, 2).literal({0x12, 0x34}).bytes());
  ASSERT_EQ(mixed.initResult, 1);
  EXPECT_EQ(mixed.read(1, 4)[0], (Bytes{0xFF, 0xFF, 0xED, 0xCB}));
}

TEST_F(GemTest, RowsFillTheBufferBottomUp) {
  GemFile file(8, 3);
  file.literal({0x01}).literal({0x02}).literal({0x03});
  readertest::OpenImage image(api, "three.img", file.bytes());
  ASSERT_EQ(image.initResult, 1);
  uint8_t buffer[12];
  std::memset(buffer, 0xA5, sizeof buffer);
  ASSERT_EQ(api.readRows(image.handle, buffer, 3, 4, 0, nullptr), 1);
  // The first row read (row 0, file byte 0x01 -> 0xFE) lies last in memory.
  EXPECT_EQ(buffer[8], 0xFE);
  EXPECT_EQ(buffer[4], 0xFD);
  EXPECT_EQ(buffer[0], 0xFC);
  EXPECT_EQ(buffer[1], 0xA5);  // beyond the decoded byte: the host's content stays
}

TEST_F(GemTest, StrideAndOffsetTakeWhatTheRowHolds) {
  // 40 pixels: 5 decoded bytes, DIB row 8 bytes.
  Bytes line{0x01, 0x02, 0x03, 0x04, 0x05};
  auto open = [&](const char* name) {
    auto image = std::make_unique<readertest::OpenImage>(api, name, GemFile(40, 1).literal(line).bytes());
    EXPECT_EQ(image->initResult, 1);
    return image;
  };
  Bytes decoded = Complemented(line);
  {  // A stride wider than the DIB row keeps the host's bytes after the decoded row.
    auto image = open("wide.img");
    Bytes expected = decoded;
    expected.resize(12, 0xA5);
    EXPECT_EQ(image->read(1, 12)[0], expected);
  }
  {  // A narrower stride takes s bytes from byte o.
    auto image = open("narrow.img");
    EXPECT_EQ(image->read(1, 2, 2)[0], (Bytes{decoded[2], decoded[3]}));
  }
  {  // More stride than the row holds from o on: what it holds, the rest untouched.
    auto image = open("tail.img");
    EXPECT_EQ(image->read(1, 8, 3)[0], (Bytes{decoded[3], decoded[4], 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5}));
  }
  {  // An offset past the row copies nothing.
    auto image = open("past.img");
    EXPECT_EQ(image->read(1, 4, 9)[0], Bytes(4, 0xA5));
  }
  {  // A stride of 0 delivers nothing and still advances the row.
    auto image = open("zero.img");
    int32_t result = 0;
    image->read(1, 0, 0, nullptr, &result);
    EXPECT_EQ(result, 1);
  }
}

TEST_F(GemTest, ZeroRowsAndNullBufferChangeNothing) {
  Picture picture = MakePicture(24, 4, 1);
  readertest::OpenImage image(api, "p.img", Encode(picture));
  ASSERT_EQ(image.initResult, 1);
  uint8_t byte = 0;
  EXPECT_EQ(api.readRows(image.handle, &byte, 0, 4, 0, nullptr), 1);
  EXPECT_EQ(api.readRows(image.handle, nullptr, 2, 4, 0, nullptr), 9);
  // Still at row 0, and reading before OVDLbuildDIBhead works.
  EXPECT_EQ(image.read(4, 4), ExpectedRows(picture, 4));
}

TEST_F(GemTest, BlocksOfAnySizeGiveTheSameImage) {
  Picture picture = MakePicture(200, 120, 7);
  // A long run of equal rows, longer than any block, across a block boundary.
  for (int y = 30; y < 90; ++y) picture.rows[y] = picture.rows[30];
  Rows expected = ExpectedRows(picture, DibRow(200));
  for (uint8_t maxCopies : {uint8_t{255}, uint8_t{3}}) {
    Bytes file = Encode(picture, maxCopies);
    for (uint32_t block : {1u, 7u, 120u}) {
      readertest::OpenImage image(api, "blocks.img", file);
      ASSERT_EQ(image.initResult, 1);
      int32_t result = 0;
      EXPECT_EQ(image.readInBlocks(120, block, DibRow(200), &result), expected)
          << "block " << block << ", copies " << int(maxCopies);
      EXPECT_EQ(result, 1);
    }
  }
}

// Line A stands 5 times, then line B, then C.
Bytes ReplicatedFile() {
  return GemFile(8, 7).replicate(5).literal({0xAA}).literal({0xBB}).literal({0xCC}).bytes();
}
constexpr uint8_t kA = 0x55, kB = 0x44, kC = 0x33;

Bytes Column(const Rows& rows) {
  Bytes out;
  for (const auto& r : rows) out.push_back(r[0]);
  return out;
}

TEST_F(GemTest, SetRowLandsInsideAReplication) {
  readertest::OpenImage image(api, "rep.img", ReplicatedFile());
  ASSERT_EQ(image.initResult, 1);
  ASSERT_EQ(api.setRow(image.handle, 3), 1);
  EXPECT_EQ(Column(image.read(3, 1)), (Bytes{kA, kA, kB}));
  // Backwards: rewinds and decodes forward into the replication again.
  ASSERT_EQ(api.setRow(image.handle, 1), 1);
  EXPECT_EQ(Column(image.read(2, 1)), (Bytes{kA, kA}));
  // Forward within the carried copies, then past them.
  ASSERT_EQ(api.setRow(image.handle, 4), 1);
  EXPECT_EQ(Column(image.read(1, 1)), (Bytes{kA}));
  ASSERT_EQ(api.setRow(image.handle, 6), 1);
  EXPECT_EQ(Column(image.read(1, 1)), (Bytes{kC}));
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  EXPECT_EQ(Column(image.read(7, 1)), (Bytes{kA, kA, kA, kA, kA, kB, kC}));
}

TEST_F(GemTest, ReplicationStopsAtTheImageEnd) {
  // Three lines, the first replicated ten times: rows 0-2 are that line, and
  // reading past the last row fails after delivering the rows there are.
  readertest::OpenImage image(api, "end.img", GemFile(8, 3).replicate(10).literal({0x0F}).bytes());
  ASSERT_EQ(image.initResult, 1);
  int32_t result = 0;
  Rows rows = image.read(4, 1, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  EXPECT_EQ(Column(rows), (Bytes{0xF0, 0xF0, 0xF0, 0xA5}));  // the fourth row was not delivered
  EXPECT_EQ(api.setRow(image.handle, 4), 3);
  EXPECT_EQ(api.setRow(image.handle, 3), 1);
}

TEST_F(GemTest, MalformedItemsStayInsideTheLine) {
  GemFile file(16, 5, 0);
  file.solid(true, 5)              // 5 bytes on a 2-byte line: cut
      .literal({1, 2, 3, 4})       // 4 literal bytes: cut, all consumed
      .pattern(9, {})              // pattern length 0: nothing
      .literal({0x0F, 0xF0})       // fills line 2
      .replicate(2).replicate(0)   // the last replication counts: once
      .solid(false, 2)             // line 3
      .pattern(200, {});           // line 4 never fills: the data end
  readertest::OpenImage image(api, "bad.img", file.bytes());
  ASSERT_EQ(image.initResult, 1);
  int32_t result = 0;
  Rows rows = image.read(5, 2, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.lastError(), "Unexpected End of IMG File reached.");
  EXPECT_EQ(rows[0], (Bytes{0x00, 0x00}));
  EXPECT_EQ(rows[1], (Bytes{0xFE, 0xFD}));
  EXPECT_EQ(rows[2], (Bytes{0xF0, 0x0F}));
  EXPECT_EQ(rows[3], (Bytes{0xFF, 0xFF}));
}

TEST_F(GemTest, TruncatedDataFailsAfterTheGoodRows) {
  Picture picture = MakePicture(300, 40, 3);
  Bytes file = Encode(picture);
  file.resize(file.size() * 2 / 3);
  readertest::OpenImage image(api, "cut.img", file);
  ASSERT_EQ(image.initResult, 1);
  Rows expected = ExpectedRows(picture, DibRow(300));
  uint32_t delivered = 0;
  int32_t result = 1;
  while (result == 1 && delivered < 40) {
    Rows row = image.read(1, DibRow(300), 0, nullptr, &result);
    if (result == 1) {
      EXPECT_EQ(row[0], expected[delivered]);
      ++delivered;
    }
  }
  EXPECT_EQ(result, 3);
  EXPECT_GT(delivered, 5u);
  EXPECT_LT(delivered, 40u);
  EXPECT_EQ(api.lastError(), "Unexpected End of IMG File reached.");
  // The host may go back and read again.
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  EXPECT_EQ(image.read(1, DibRow(300))[0], expected[0]);
}

TEST_F(GemTest, AfterAReadErrorReadingGoesOnAtTheNextRow) {
  Picture picture = MakePicture(800, 50, 5);
  readertest::OpenImage image(api, "flaky.img", Encode(picture));
  ASSERT_EQ(image.initResult, 1);
  auto& files = testsupport::MemoryFiles::instance();
  files.readFailsAfterBytes = 16 + 1024;  // the header, then two input buffers
  Rows expected = ExpectedRows(picture, DibRow(800));
  uint32_t delivered = 0;
  int32_t result = 1;
  while (result == 1 && delivered < 50) {
    Rows row = image.read(1, DibRow(800), 0, nullptr, &result);
    if (result == 1) {
      EXPECT_EQ(row[0], expected[delivered]);
      ++delivered;
    }
  }
  ASSERT_EQ(result, 3);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  files.readFailsAfterBytes = -1;
  EXPECT_EQ(image.read(50 - delivered, DibRow(800)), Rows(expected.begin() + delivered, expected.end()));
}

TEST_F(GemTest, ImageInsideALargerFile) {
  Picture picture = MakePicture(64, 9, 11);
  Bytes file(100, 0x77);
  Bytes gem = Encode(picture);
  file.insert(file.end(), gem.begin(), gem.end());
  auto& files = testsupport::MemoryFiles::instance();
  files.put("inside.bin", file);
  HGLOBAL handle = 0;
  ASSERT_EQ(api.init("inside.bin", &handle, files.openForRead("inside.bin"), 100, 0, files.table()), 1);
  std::vector<uint8_t> buffer(9 * 8);
  ASSERT_EQ(api.readRows(handle, buffer.data(), 9, 8, 0, nullptr), 1);
  ASSERT_EQ(api.setRow(handle, 2), 1);
  ASSERT_EQ(api.readRows(handle, buffer.data(), 1, 8, 0, nullptr), 1);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), ExpectedRows(picture, 8)[2]);
  EXPECT_EQ(api.close(handle), 1);
}

TEST_F(GemTest, HugeHeaderOnATinyFile) {
  readertest::OpenImage image(api, "huge.img", GemFile(65535, 65535).solid(true, 100).bytes());
  ASSERT_EQ(image.initResult, 1);
  ImageHeaderRecord record{};
  std::vector<uint8_t> info;
  ASSERT_EQ(image.buildHead(record, &info), 1);
  BITMAPINFOHEADER header;
  std::memcpy(&header, info.data(), sizeof header);
  EXPECT_EQ(header.biSizeImage, 8192u * 65535u);
  int32_t result = 0;
  image.read(2, 16, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.setRow(image.handle, 65535), 3);
}

// Progress: a callback that records its calls and answers `answer`.
struct Calls {
  std::vector<uint32_t> percents;
  int32_t answer = 1;
};
Calls* gCalls = nullptr;
int32_t CALLBACK Record(uint32_t first, uint32_t percent, uint32_t third) {
  EXPECT_EQ(first, 0x1111u);
  EXPECT_EQ(third, 0x3333u);
  gCalls->percents.push_back(percent);
  return gCalls->answer;
}

class GemProgressTest : public GemTest {
 protected:
  void SetUp() override {
    GemTest::SetUp();
    gCalls = &calls;
    image = std::make_unique<readertest::OpenImage>(api, "progress.img", Encode(MakePicture(32, 10, 2)));
    ASSERT_EQ(image->initResult, 1);
  }
  void TearDown() override {
    image.reset();
    gCalls = nullptr;
    GemTest::TearDown();
  }
  ProgressRecord record(uint32_t step, uint32_t total) {
    return ProgressRecord{Record, step, total, 0, 0, 0x3333, 0x1111};
  }
  Calls calls;
  std::unique_ptr<readertest::OpenImage> image;
};

TEST_F(GemProgressTest, ReportsEveryStepWith64BitPercent) {
  ProgressRecord p = record(4, 40);
  image->read(10, 4, 0, &p);  // 4 bytes per row: pending 8 > 4 every second row
  EXPECT_EQ(calls.percents, (std::vector<uint32_t>{20, 40, 60, 80, 100}));
  // Totals past 43 MB: reported × 100 must not wrap in 32 bits.
  ProgressRecord big = record(1, 0xF0000000u);
  big.reported = 0xE0000000u;
  ASSERT_EQ(api.setRow(image->handle, 0), 1);
  image->read(1, 4, 0, &big);
  ASSERT_EQ(calls.percents.size(), 6u);
  EXPECT_EQ(calls.percents.back(), static_cast<uint32_t>((0xE0000000ull + 4) * 100 / 0xF0000000ull));
  EXPECT_EQ(big.reported, 0xE0000004u);
  EXPECT_EQ(big.pending, 0u);
}

TEST_F(GemProgressTest, StepOrTotalZeroAndNoCallbackOnlyAccumulate) {
  ProgressRecord stepZero = record(0, 100);
  image->read(3, 4, 0, &stepZero);
  ProgressRecord totalZero = record(1, 0);
  image->read(3, 4, 0, &totalZero);
  ProgressRecord noCallback = record(1, 100);
  noCallback.callback = nullptr;
  image->read(3, 4, 0, &noCallback);
  EXPECT_TRUE(calls.percents.empty());
  EXPECT_EQ(stepZero.pending, 12u);
  EXPECT_EQ(totalZero.pending, 12u);
  EXPECT_EQ(noCallback.pending, 12u);
  EXPECT_EQ(noCallback.reported, 0u);
}

TEST_F(GemProgressTest, CancelIsIgnored) {
  calls.answer = 0;
  ProgressRecord p = record(1, 40);
  int32_t result = 0;
  Rows rows = image->read(10, 4, 0, &p, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(calls.percents.size(), 10u);
  EXPECT_EQ(rows, ExpectedRows(MakePicture(32, 10, 2), 4));
}

}  // namespace
}  // namespace gemtest
