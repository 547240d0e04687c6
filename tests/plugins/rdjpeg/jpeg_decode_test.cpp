// Decoding cross-checked with libjpeg-turbo: files made by cjpeg and jpegtran
// decode to djpeg's pixels (replicated chroma, accurate integer IDCT) within a
// tolerance. The reader's scaled IDCT keeps 8 fractional bits in its
// constants and truncates every shift, and its colour products truncate too,
// where libjpeg rounds: a few levels of difference, more at high quality,
// with a mean near one level, are what that arithmetic gives.
#include <iterator>
#include <random>

#include "jpeg_fixture.h"
#include "memory_files.h"

namespace jpegtest {
namespace {

constexpr int kMaxDifference = 7;
constexpr double kMeanDifference = 1.5;

void ExpectNear(const Bytes& jpeg, int maxDifference = kMaxDifference, double mean = kMeanDifference) {
  Decoded d = ReadAll(jpeg);
  ASSERT_EQ(d.initResult, 1) << d.error;
  ASSERT_EQ(d.result, 1) << d.error;
  Difference diff = Compare(ToPixels(d), Djpeg(jpeg));
  EXPECT_LE(diff.max, maxDifference);
  EXPECT_LE(diff.mean, mean);
}

TEST_F(JpegTest, EverySamplingLayoutMatchesLibjpeg) {
  // Sizes that are not multiples of the MCU: the padding samples never show.
  const Pixels picture = MakePicture(203, 77, 1);
  for (const char* sampling : {"1x1", "2x1", "2x2", "1x2", "4x1", "2x1,1x1,1x1", "1x1,1x2,1x2"}) {
    SCOPED_TRACE(sampling);
    ExpectNear(Cjpeg(picture, {"-sample", sampling}));
  }
}

TEST_F(JpegTest, GreyFilesAreEightBitWithAGreyPalette) {
  const Pixels picture = MakePicture(61, 35, 2);
  for (const char* sampling : {"1x1", "2x2"}) {
    SCOPED_TRACE(sampling);
    Bytes jpeg = Cjpeg(picture, {"-grayscale", "-sample", sampling});
    Decoded d = ReadAll(jpeg);
    ASSERT_EQ(d.result, 1);
    EXPECT_EQ(d.header.biBitCount, 8);
    ASSERT_EQ(d.palette.size(), 256u);
    EXPECT_EQ(d.palette[0x7B].rgbRed, 0x7B);
    EXPECT_EQ(d.palette[0x7B].rgbBlue, 0x7B);
    EXPECT_EQ(d.palette[0x7B].rgbReserved, 0);
    EXPECT_EQ(d.rows[0].size(), 64u);  // 61 rounded up to 4
    Difference diff = Compare(ToPixels(d), Djpeg(jpeg));
    EXPECT_LE(diff.max, 2);  // no colour conversion: only the IDCT differs
  }
}

TEST_F(JpegTest, QualityAndHuffmanTablesOfEveryKind) {
  const Pixels picture = MakePicture(96, 40, 3);
  struct Case {
    std::vector<std::string> options;
    int max;
    double mean;
  };
  const Case cases[] = {
      {{"-quality", "10", "-baseline"}, kMaxDifference, kMeanDifference},
      {{"-quality", "50", "-optimize"}, kMaxDifference, kMeanDifference},
      {{"-quality", "75", "-sample", "1x1"}, kMaxDifference, kMeanDifference},
      // Fine quantisation: the multipliers keep two fractional bits, so the
      // arithmetic shows most (libjpeg's fast integer IDCT is off as far).
      {{"-quality", "98", "-optimize"}, 20, 3.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[1]);
    ExpectNear(Cjpeg(picture, c.options), c.max, c.mean);
  }
  // Without -baseline, quality 10 needs 16-bit tables: an extended-sequential file.
  EXPECT_EQ(OpenResult(Cjpeg(picture, {"-quality", "10"})).first, 9);
  // Tiny pictures: a handful of samples, so only the largest difference counts.
  ExpectNear(Cjpeg(MakePicture(1, 1, 4), {}), kMaxDifference, 255);
  ExpectNear(Cjpeg(MakePicture(17, 1, 5), {"-sample", "2x2"}), kMaxDifference, 255);
}

TEST_F(JpegTest, RestartMarkersDecodeAsTheSameImageWithout) {
  const Pixels picture = MakePicture(150, 50, 6);
  for (const char* sampling : {"2x2", "1x1"}) {
    SCOPED_TRACE(sampling);
    Decoded plain = ReadAll(Cjpeg(picture, {"-sample", sampling}));
    for (const char* interval : {"1B", "3B", "1"}) {
      SCOPED_TRACE(interval);
      Bytes restarted = Cjpeg(picture, {"-sample", sampling, "-restart", interval});
      ASSERT_NE(JpegStream::Parse(restarted).find(0xDD), -1);
      Decoded d = ReadAll(restarted);
      ASSERT_EQ(d.result, 1);
      EXPECT_EQ(d.rows, plain.rows);
    }
  }
  // A DRI of 0 means no restart processing.
  const Bytes plain = Cjpeg(picture, {"-sample", "2x2"});
  JpegStream s = JpegStream::Parse(plain);
  s.insertBefore(0xDA, {0xDD, Be16(0)});
  EXPECT_EQ(ReadAll(s.bytes()).rows, ReadAll(plain).rows);
}

TEST_F(JpegTest, DamagedRestartDataDecodeTheSameWhateverTheHostsReadSizes) {
  // Restart intervals that do not match the data, stuffed FF bytes, markers
  // and stray FFs in the entropy-coded data: the bit buffer reads ahead only
  // as far as the bytes the host has already given, so the rows (whatever
  // they are) must not depend on how many bytes each host read brings.
  const Bytes clean = Cjpeg(MakePicture(120, 40, 9), {"-sample", "2x2", "-restart", "1B"});
  const size_t scan = JpegStream::Parse(clean).bytes().size() - JpegStream::Parse(clean).scan.size();
  std::mt19937 random(14);
  const Bytes inserts[] = {{0xFF, 0x00}, {0xFF, 0xD3}, {0xFF}, {0xFF, 0xFF, 0x00}, {0x00}};
  for (int copy = 0; copy < 12; ++copy) {
    Bytes damaged = clean;
    for (int k = 0; k < 6; ++k) {
      const size_t at = scan + random() % (damaged.size() - scan - 2);
      const Bytes& insert = inserts[random() % std::size(inserts)];
      damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(at), insert.begin(), insert.end());
    }
    const Decoded whole = ReadAll(damaged);
    ASSERT_EQ(whole.result, 1) << copy;
    auto& files = testsupport::MemoryFiles::instance();
    for (int64_t most : {1, 3, 7, 509, 4096}) {
      files.readsAtMost = most;
      const Decoded shortReads = ReadAll(damaged);
      files.readsAtMost = -1;
      EXPECT_EQ(shortReads.rows, whole.rows) << "copy " << copy << ", reads of at most " << most;
    }
  }
}

TEST_F(JpegTest, ReadingInBlocksAndSeekingGiveTheSameRows) {
  const Bytes jpeg = Cjpeg(MakePicture(50, 45, 7), {"-sample", "2x2"});
  const Rows all = ReadAll(jpeg).rows;
  ASSERT_EQ(all.size(), 45u);
  for (uint32_t block : {1u, 5u, 7u, 16u, 17u}) EXPECT_EQ(ReadAll(jpeg, block).rows, all) << block;

  readertest::OpenImage image(api, "seek.jpg", jpeg);
  const uint32_t stride = 152;
  EXPECT_EQ(image.read(40, stride), Rows(all.begin(), all.begin() + 40));
  for (uint32_t row : {3u, 0u, 33u, 16u, 15u, 44u}) {
    SCOPED_TRACE(row);
    ASSERT_EQ(api.setRow(image.handle, row), 1);
    EXPECT_EQ(image.read(1, stride)[0], all[row]);
  }
  // Past the last row: the rows before it, then a read failure.
  ASSERT_EQ(api.setRow(image.handle, 43), 1);
  int32_t result = 0;
  Rows tail = image.read(3, stride, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(tail[0], all[43]);
  EXPECT_EQ(tail[1], all[44]);
}

TEST_F(JpegTest, NarrowAndOffsetRowsTakeWholePixels) {
  const Bytes jpeg = Cjpeg(MakePicture(10, 4, 8), {});
  const Rows all = ReadAll(jpeg).rows;  // stride 32
  readertest::OpenImage image(api, "narrow.jpg", jpeg);
  // Stride 10 from byte 7: pixels 2..4 (9 bytes); the tenth byte keeps its fill.
  Rows rows = image.read(4, 10, 7, nullptr, nullptr, 0xEE);
  for (uint32_t y = 0; y < 4; ++y) {
    Bytes expected(all[y].begin() + 6, all[y].begin() + 15);
    expected.push_back(0xEE);
    EXPECT_EQ(rows[y], expected) << y;
  }
  // A stride wider than the row: the bytes past the picture keep their fill.
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  rows = image.read(1, 40, 0, nullptr, nullptr, 0xEE);
  EXPECT_EQ(Bytes(rows[0].begin(), rows[0].begin() + 30), Bytes(all[0].begin(), all[0].begin() + 30));
  EXPECT_EQ(Bytes(rows[0].begin() + 30, rows[0].end()), Bytes(10, 0xEE));
}

int32_t StopAtOnce(uint32_t, uint32_t, uint32_t) {
  return 0;
}

TEST_F(JpegTest, ACancelledReadKeepsTheRowsDeliveredSoFar) {
  const Bytes jpeg = Cjpeg(MakePicture(20, 30, 9), {});
  const Rows all = ReadAll(jpeg).rows;
  readertest::OpenImage image(api, "cancel.jpg", jpeg);
  ProgressRecord progress{StopAtOnce, 100, 60 * 30, 0, 0, 0, 0};
  int32_t result = 0;
  Rows rows = image.read(30, 60, 0, &progress, &result);
  EXPECT_EQ(result, 23);
  EXPECT_EQ(progress.reported, 120u);  // the report came after the second row
  EXPECT_EQ(rows[0], all[0]);
  EXPECT_EQ(rows[1], all[1]);
  EXPECT_EQ(rows[2], Bytes(60, 0xA5));
  EXPECT_EQ(image.read(1, 60)[0], all[2]);  // reading goes on after them
}

TEST_F(JpegTest, CloseKeepAndOpenContinueAtTheCurrentRow) {
  const Bytes jpeg = Cjpeg(MakePicture(70, 40, 10), {"-sample", "2x1", "-restart", "2B"});
  const Rows all = ReadAll(jpeg).rows;
  readertest::OpenImage image(api, "keep.jpg", jpeg);
  EXPECT_EQ(image.read(11, 212), Rows(all.begin(), all.begin() + 11));
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  EXPECT_EQ(api.closeKeep(image.handle), 1);
  int32_t result = 0;
  image.read(1, 212, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.open(image.handle, 0), 1);
  EXPECT_EQ(image.read(29, 212), Rows(all.begin() + 11, all.end()));
}

TEST_F(JpegTest, TruncatedEntropyDataStillGivesEveryRow) {
  const Bytes jpeg = Cjpeg(MakePicture(64, 64, 11), {"-sample", "2x2", "-restart", "1B"});
  const Rows all = ReadAll(jpeg).rows;
  const size_t scanStart = jpeg.size() - JpegStream::Parse(jpeg).scan.size();
  for (size_t keep : {scanStart, scanStart + 1, scanStart + 300, jpeg.size() / 2, jpeg.size() - 2}) {
    SCOPED_TRACE(keep);
    Decoded d = ReadAll(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(keep)), 13);
    ASSERT_EQ(d.result, 1);
    ASSERT_EQ(d.rows.size(), 64u);
    if (keep == jpeg.size() - 2) {
      EXPECT_EQ(d.rows, all);  // only EOI is missing
    }
  }
}

TEST_F(JpegTest, AHostReadErrorInTheScanIsReported) {
  const Bytes jpeg = Cjpeg(MakePicture(300, 200, 12), {});
  readertest::OpenImage image(api, "fail.jpg", jpeg);
  testsupport::MemoryFiles::instance().readFailsAfterBytes = 0;
  int32_t result = 0;
  image.read(200, 900, 0, nullptr, &result);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  testsupport::MemoryFiles::instance().readFailsAfterBytes = -1;
  ASSERT_EQ(api.setRow(image.handle, 0), 1);
  EXPECT_EQ(image.read(1, 900)[0], ReadAll(jpeg).rows[0]);
}

}  // namespace
}  // namespace jpegtest
