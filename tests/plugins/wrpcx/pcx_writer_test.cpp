// wrpcx through its exports: the header of each depth, the run coding, plane
// splitting, the palette at the end, refusals, failures, cancellation, and
// the output buffer.
#include <algorithm>

#include "wrpcx_fixture.h"

namespace wrpcxtest {
namespace {

// Decodes the run-length data after the header into `lines` lines of `length` bytes.
std::vector<Bytes> DecodeLines(const Bytes& file, size_t lines, size_t length) {
  std::vector<Bytes> out;
  size_t at = 128;
  for (size_t n = 0; n < lines; ++n) {
    Bytes line;
    while (line.size() < length && at < file.size()) {
      const uint8_t code = file[at++];
      if (code >= 0xC0) {
        line.insert(line.end(), code & 0x3F, file[at++]);
      } else {
        line.push_back(code);
      }
    }
    EXPECT_EQ(line.size(), length) << "line " << n;  // runs never cross a line
    out.push_back(line);
  }
  return out;
}

TEST_F(WrpcxTest, FixedAnswersAndHeaders) {
  EXPECT_STREQ(writer.getVer(), "1.00");
  struct Case {
    uint16_t bits;
    int32_t width;
    uint32_t version, planeBits, planes, bytesPerLine;
  };
  const Case cases[] = {{1, 33, 3, 1, 1, 6}, {4, 17, 2, 1, 4, 4}, {8, 5, 5, 8, 1, 6}, {24, 7, 5, 8, 3, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    Dib dib = MakeDib(c.width, 3, c.bits);
    ExportRun r = writer.run(dib);
    ASSERT_NE(r.handle, HGLOBAL{});
    EXPECT_EQ(r.flags, 248);
    EXPECT_EQ(r.endResult, 1);
    ASSERT_GE(r.file.size(), 128u);
    EXPECT_EQ(r.file[0], 10);
    EXPECT_EQ(r.file[1], c.version);
    EXPECT_EQ(r.file[2], 1);
    EXPECT_EQ(r.file[3], c.planeBits);
    EXPECT_EQ(Field16(r.file, 4), 0u);
    EXPECT_EQ(Field16(r.file, 8), static_cast<uint32_t>(c.width - 1));
    EXPECT_EQ(Field16(r.file, 10), 2u);
    EXPECT_EQ(Field16(r.file, 12), 300u);  // 11811 pixels per metre
    EXPECT_EQ(Field16(r.file, 14), 72u);   // 2835
    EXPECT_EQ(r.file[65], c.planes);
    EXPECT_EQ(Field16(r.file, 66), c.bytesPerLine);
    EXPECT_EQ(Field16(r.file, 68), 1u);
    EXPECT_EQ(r.progress.fileSize, r.file.size());
    // Only the 4-bit header carries the colour table.
    for (size_t i = 0; i < 16; ++i) {
      const uint8_t want[3] = {static_cast<uint8_t>(c.bits == 4 ? i : 0),
                               static_cast<uint8_t>(c.bits == 4 ? 2 * i : 0),
                               static_cast<uint8_t>(c.bits == 4 ? 3 * i : 0)};
      EXPECT_EQ(0, std::memcmp(&r.file[16 + 3 * i], want, 3)) << i;
    }
    // The 256-colour palette ends an 8-bit file, and only that one.
    const bool palette = r.file.size() > 769 && r.file[r.file.size() - 769] == 12 &&
                         r.file[r.file.size() - 1] == static_cast<uint8_t>(3 * 255);
    EXPECT_EQ(palette, c.bits == 8);
  }
}

TEST_F(WrpcxTest, RunCoding) {
  Dib dib = MakeDib(100, 2, 8);
  dib.rows[0].assign(100, 0xFF);
  dib.rows[1].assign(100, 0x10);
  dib.rows[1][3] = 0xC5;
  dib.rows[1][4] = 0x05;
  dib.rows[1][5] = 0x05;
  ExportRun r = writer.run(dib);
  const Bytes coded(r.file.begin() + 128, r.file.end() - 769);
  Bytes want = {0xFF, 0xFF, 0xE5, 0xFF, 0xC3, 0x10, 0xC1, 0xC5, 0xC2, 0x05, 0xFF, 0x10, 0xDF, 0x10};
  EXPECT_EQ(coded, want);
}

// 24 bits of odd width: lines of width + 1 bytes, red, green, blue; the pixel
// past the host's row is 0.
TEST_F(WrpcxTest, TrueColourPlanes) {
  Dib dib = MakeDib(1, 2, 24);
  dib.rows[0] = {0x11, 0x22, 0x33, 0xEE};
  dib.rows[1] = {0x44, 0x55, 0x66, 0xEE};
  ExportRun r = writer.run(dib);
  std::vector<Bytes> lines = DecodeLines(r.file, 6, 2);
  EXPECT_EQ(lines, (std::vector<Bytes>{{0x33, 0}, {0x22, 0}, {0x11, 0}, {0x66, 0}, {0x55, 0}, {0x44, 0}}));
  EXPECT_EQ(r.file.size(), 128u + 6 * 2);  // every line one run of 2 bytes... or codes
}

TEST_F(WrpcxTest, SixteenColourPlanes) {
  Dib dib = MakeDib(9, 1, 4);
  // Pixels 0..8: 1, 2, 4, 8, 15, 0, 3, 12, 5; the row's padding pixels
  // (10 from its bytes, the rest 0) fill the even line.
  dib.rows[0] = {0x12, 0x48, 0xF0, 0x3C, 0x5A, 0, 0, 0};
  ExportRun r = writer.run(dib);
  std::vector<Bytes> planes = DecodeLines(r.file, 4, 2);
  // Plane k, bit (7 − x) of byte 0 and bit 7 of byte 1: bit k of pixel x.
  EXPECT_EQ(planes[0], (Bytes{0b10001010, 0b10000000}));
  EXPECT_EQ(planes[1], (Bytes{0b01001010, 0b01000000}));
  EXPECT_EQ(planes[2], (Bytes{0b00101001, 0b10000000}));
  EXPECT_EQ(planes[3], (Bytes{0b00011001, 0b01000000}));
}

// A 1-bit DIB whose colour table puts white first is complemented, so the
// file (0 = black) shows what the DIB shows; black first is copied as it is.
TEST_F(WrpcxTest, MonochromeKeepsBlackAsZero) {
  Dib dib = MakeDib(16, 1, 1);
  dib.rows[0] = {0xF0, 0x0F, 0x00, 0x00};
  EXPECT_EQ(DecodeLines(writer.run(dib).file, 1, 2)[0], (Bytes{0xF0, 0x0F}));
  auto* table = reinterpret_cast<RGBQUAD*>(dib.info.data() + 40);
  std::swap(table[0], table[1]);
  EXPECT_EQ(DecodeLines(writer.run(dib, 0, 0, "inv.pcx").file, 1, 2)[0], (Bytes{0x0F, 0xF0}));
}

TEST_F(WrpcxTest, ImagesThatCannotBeWrittenAreRefused) {
  for (auto [width, height, bits] : {std::tuple{8, 8, 16}, {8, 8, 32}, {8, 8, 2}, {0, 8, 8}, {8, -8, 8},
                                     {65537, 1, 1}, {65535, 1, 24}, {8, 65537, 8}}) {
    Dib dib = MakeDib(1, 1, static_cast<uint16_t>(bits));
    dib.header()->biWidth = width;
    dib.header()->biHeight = height;
    Reports().clear();
    int32_t flags = 0;
    EXPECT_EQ(writer.beginWrite("r.pcx", Writes().table(), "r.pcx", dib.header(), 0, &flags), HGLOBAL{});
    EXPECT_EQ(flags, 248);
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].id, 2);
    EXPECT_FALSE(testsupport::MemoryFiles::instance().exists("r.pcx"));
  }
  // The largest extent the header holds is written.
  Dib wide = MakeDib(65534, 1, 24);
  EXPECT_EQ(writer.run(wide).endResult, 1);
}

TEST_F(WrpcxTest, FailuresAreReported) {
  auto& files = testsupport::MemoryFiles::instance();
  Dib dib = MakeDib(300, 20, 8);
  files.failOpen = true;
  ExportRun failed = writer.run(dib);
  files.failOpen = false;
  EXPECT_EQ(failed.handle, HGLOBAL{});
  EXPECT_EQ(failed.flags, 248);
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].id, 1);
  EXPECT_EQ(Reports()[0].module, "OV10wrpcx.DEL");
  EXPECT_EQ(Reports()[0].file, "out.pcx");

  // A short header: error 2, the export goes on.
  Reports().clear();
  Writes().shortWrites = {0};
  ExportRun header = writer.run(dib);
  EXPECT_EQ(header.endResult, 1);
  EXPECT_EQ(header.blockResults, std::vector<int32_t>{1});
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].id, 2);

  // A short data write: error 3, 204, the call stops; the next call goes on.
  Reports().clear();
  Writes().clearLog();
  Writes().shortWrites = {1};
  ExportRun data = writer.run(dib, 4);
  EXPECT_EQ(std::count(data.blockResults.begin(), data.blockResults.end(), 204), 1);
  EXPECT_EQ(data.blockResults.back(), 1);
  EXPECT_EQ(data.endResult, 1);
  ASSERT_FALSE(Reports().empty());
  EXPECT_EQ(Reports()[0].id, 3);

  // The final flush or the palette written short: 204 from end_write.
  for (size_t cut : {0, 1, 2}) {
    Writes().clearLog();
    ExportRun probe = writer.run(dib);
    const size_t calls = Writes().writes.size();  // header, flushes, rest, marker, palette
    Reports().clear();
    Writes().clearLog();
    Writes().shortWrites = {calls - 1 - cut};
    ExportRun end = writer.run(dib);
    EXPECT_EQ(end.endResult, 204) << cut;
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].id, 3);
    (void)probe;
  }
}

// The coded bytes go out in writes of 2047 or 2048 bytes, the rest at the end.
TEST_F(WrpcxTest, OutputBufferFlushes) {
  Dib dib = MakeDib(997, 40, 24, 9);
  ExportRun r = writer.run(dib, 7);
  const std::vector<uint32_t> counts = Writes().counts();
  ASSERT_GT(counts.size(), 4u);
  EXPECT_EQ(counts.front(), 128u);
  for (size_t i = 1; i + 1 < counts.size(); ++i) {
    EXPECT_TRUE(counts[i] == 2047 || counts[i] == 2048) << i << ": " << counts[i];
  }
  EXPECT_LE(counts.back(), 2048u);
  // All blocks at once give the same file.
  ExportRun whole = writer.run(dib, 0, 0, "whole.pcx");
  EXPECT_EQ(whole.file, r.file);
}

// Two exports side by side keep their bytes apart.
TEST_F(WrpcxTest, TwoExportsAtOnce) {
  Dib a = MakeDib(500, 30, 8, 1);
  Dib b = MakeDib(321, 30, 24, 2);
  const Bytes aliveA = writer.run(a, 0, 0, "a1.pcx").file;
  const Bytes aliveB = writer.run(b, 0, 0, "b1.pcx").file;
  int32_t flags = 0;
  HGLOBAL ha = writer.beginWrite("a2.pcx", Writes().table(), "a2.pcx", a.header(), 0, &flags);
  HGLOBAL hb = writer.beginWrite("b2.pcx", Writes().table(), "b2.pcx", b.header(), 0, &flags);
  ASSERT_NE(ha, HGLOBAL{});
  ASSERT_NE(hb, HGLOBAL{});
  for (uint32_t y = 0; y < 30; ++y) {
    EXPECT_EQ(writer.writeBlock(ha, 1, a.stride(), a.rows[y].data(), nullptr), 1);
    EXPECT_EQ(writer.writeBlock(hb, 1, b.stride(), b.rows[y].data(), nullptr), 1);
  }
  EXPECT_EQ(writer.endWrite(ha, nullptr), 1);
  EXPECT_EQ(writer.endWrite(hb, nullptr), 1);
  EXPECT_EQ(testsupport::MemoryFiles::instance().bytes("a2.pcx"), aliveA);
  EXPECT_EQ(testsupport::MemoryFiles::instance().bytes("b2.pcx"), aliveB);
}

// A cancelled report stops the call before its row; progress counts strides.
TEST_F(WrpcxTest, ProgressAndCancellation) {
  Dib dib = MakeDib(40, 10, 8);
  int32_t flags = 0;
  HGLOBAL h = writer.beginWrite("c.pcx", Writes().table(), "c.pcx", dib.header(), 0, &flags);
  ASSERT_NE(h, HGLOBAL{});
  static int calls;
  calls = 0;
  ExportProgress progress{};
  progress.bytesTotal = 400;
  progress.interval = 30;
  progress.callback = [](int32_t, int32_t percent, uint32_t user) CALLBACK -> int32_t {
    EXPECT_EQ(user, 7u);
    EXPECT_LE(percent, 100);
    return ++calls < 2;
  };
  progress.userValue = 7;
  Bytes block(3 * 40);
  EXPECT_EQ(writer.writeBlock(h, 3, 40, block.data(), &progress), 215);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(progress.bytesDone, 80u);
  EXPECT_EQ(writer.writeBlock(h, 3, 40, block.data(), nullptr), 1);  // a null record is fine
  EXPECT_EQ(writer.endWrite(h, &progress), 1);
  EXPECT_EQ(writer.writeBlock(h, 1, 40, block.data(), nullptr), 204);  // the block is gone
}

// A stride below the padded row: nothing past it is read, its pixels are 0.
TEST_F(WrpcxTest, NarrowStrideReadsOnlyTheRow) {
  Dib dib = MakeDib(8, 4, 8);
  ExportRun r = writer.run(dib, 1, 5);
  std::vector<Bytes> lines = DecodeLines(r.file, 4, 8);
  for (size_t y = 0; y < 4; ++y) {
    Bytes want(dib.rows[y].begin(), dib.rows[y].begin() + 5);
    want.resize(8, 0);
    EXPECT_EQ(lines[y], want) << y;
  }
}

}  // namespace
}  // namespace wrpcxtest
