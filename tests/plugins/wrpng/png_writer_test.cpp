// wrpng through its exports: every depth decoded by libpng, row blocks of any
// size giving the same file, the compression option, refusals, failures and
// cancellation.
#include <algorithm>
#include <cstring>

#include "export_table_check.h"
#include "plugin/writer_module.h"
#include "wrpng_harness.h"

namespace wrpngtest {
namespace {

class WrpngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::ResetWriterHarness();
    Options().clear();
  }
  void TearDown() override { ShortWrites().clear(); }
  Writer writer;
};

// The first IDAT's zlib header: its level field (0 fastest ... 3 smallest).
int ZlibLevelField(const Bytes& file) {
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = file[at] << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
    if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) return file[at + 9] >> 6;
    at += 12 + length;
  }
  return -1;
}

TEST_F(WrpngTest, ExportTableVersionAndStrings) {
  testsupport::ExpectExportsAsTabled(writer.module.handle(), testsupport::binPath("wrpng.DEL"),
                                     std::size(writer::kWriterExports));
  for (const WinportExport& entry : writer::kWriterExports)
    EXPECT_NE(GetProcAddress(writer.module.handle(), MAKEINTRESOURCEA(entry.ordinal)), nullptr) << entry.name;
  EXPECT_STREQ(writer.module.get<OVXDLget_ver_fn>("OVXDLget_ver")(), "1.00");
  EXPECT_STREQ(writer.extension, "PNG;Portable Network Graphics (*.png)");
  EXPECT_EQ(writer.hostFlags, 504);  // top row first; may take 48-bit rows
  const char* const texts[] = {"Unable to open file.", "Error writing export file header.",
                               "Error writing export file.", "Error allocating Memory."};
  for (UINT id = 1; id <= 4; ++id) {
    char text[64] = {};
    EXPECT_GT(LoadStringA(writer.module.handle(), id, text, sizeof text), 0);
    EXPECT_STREQ(text, texts[id - 1]);
  }
}

// Each depth, colour table kind and width, written in blocks of 1, 7 and all
// rows: libpng reads the DIB's pixels and resolution back, and the block
// size does not change a byte.
TEST_F(WrpngTest, EveryDepthDecodesToTheSamePixels) {
  struct Case {
    uint16_t bits;
    bool greyRamp;
    int depth, colourType;
  };
  const Case cases[] = {{1, false, 1, 3}, {1, true, 1, 0}, {4, false, 4, 3}, {4, true, 4, 0},
                        {8, false, 8, 3}, {8, true, 8, 0}, {24, false, 8, 2}, {48, false, 16, 2}};
  uint32_t seed = 5;
  for (const Case& c : cases) {
    for (int32_t width : {1, 3, 37, 260}) {
      SCOPED_TRACE(testing::Message() << c.bits << " bits, grey " << c.greyRamp << ", width " << width);
      const Dib dib = MakeDib(width, 23, c.bits, seed++, c.greyRamp);
      const ExportRun all = writer.run(dib);
      ASSERT_NE(all.handle, 0u);
      EXPECT_EQ(all.flags, 504);
      EXPECT_EQ(all.endResult, 1);
      EXPECT_EQ(all.progress.fileSize, all.file.size());
      const Decoded png = DecodePng(all.file);
      EXPECT_TRUE(SamePixels(dib, png));
      EXPECT_EQ(png.depth, c.depth);
      EXPECT_EQ(png.colourType, c.colourType);
      EXPECT_TRUE(png.hasPhys);
      EXPECT_EQ(png.xPerMetre, 11811u);
      EXPECT_EQ(png.yPerMetre, 2835u);
      for (uint32_t rows : {1u, 7u})
        EXPECT_EQ(writer.run(dib, rows, "blocks.png").file, all.file) << rows << " rows per call";
    }
  }
  EXPECT_TRUE(Reports().empty());
}

// A tall image in one-row calls: every row goes through the deflate stream
// and the IDAT chunks, none is lost or repeated at a chunk's edge.
TEST_F(WrpngTest, TallImageAcrossManyChunks) {
  const Dib dib = MakeDib(301, 2000, 24, 77);
  const ExportRun r = writer.run(dib, 1);
  EXPECT_EQ(r.endResult, 1);
  EXPECT_GT(r.file.size(), 2u * 32767);  // several IDAT chunks
  EXPECT_TRUE(SamePixels(dib, DecodePng(r.file)));
}

TEST_F(WrpngTest, NoResolutionGivesNoPhysChunk) {
  Dib dib = MakeDib(5, 5, 8);
  dib.header()->biXPelsPerMeter = 0;
  const Decoded png = DecodePng(writer.run(dib).file);
  EXPECT_TRUE(png.ok);
  EXPECT_FALSE(png.hasPhys);
}

// PNG_COMPRESSION is a level 0-9; anything else is the default 6.
TEST_F(WrpngTest, CompressionOption) {
  const Dib dib = MakeDib(64, 64, 24, 3);
  const struct {
    const char* value;
    int field;  // zlib's level field: 0 for 0-1, 1 for 2-5, 2 for 6, 3 for 7-9
  } cases[] = {{nullptr, 2}, {"0", 0}, {"1", 0}, {"4", 1}, {" 6 ", 2}, {"9", 3},
               {"10", 2},    {"-1", 2}, {"abc", 2}, {"", 2}, {"3x", 2}};
  size_t stored = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "(absent)" : c.value);
    Options().clear();
    if (c.value != nullptr) Options()["PNG_COMPRESSION"] = c.value;
    const ExportRun r = writer.run(dib);
    EXPECT_EQ(ZlibLevelField(r.file), c.field);
    EXPECT_TRUE(SamePixels(dib, DecodePng(r.file)));
    if (c.value != nullptr && std::string(c.value) == "0") stored = r.file.size();
  }
  EXPECT_GT(stored, size_t{64} * (64 * 3 + 1));  // level 0 stores the rows
}

TEST_F(WrpngTest, ImagesThatCannotBeWrittenAreRefused) {
  for (auto [width, height, bits] : {std::tuple{8, 8, 16}, {8, 8, 32}, {8, 8, 2}, {0, 8, 8}, {8, 0, 24},
                                     {8, -8, 8}, {-1, 8, 1}}) {
    Dib dib = MakeDib(1, 1, static_cast<uint16_t>(bits == 2 || bits == 16 || bits == 32 ? 8 : bits));
    dib.header()->biBitCount = static_cast<uint16_t>(bits);
    dib.header()->biWidth = width;
    dib.header()->biHeight = height;
    Reports().clear();
    int32_t flags = 0;
    EXPECT_EQ(writer.beginWrite("r.png", testsupport::MemoryFiles::table(), "r.png", dib.header(), 0, &flags), 0u);
    EXPECT_EQ(flags, 504);
    EXPECT_EQ(ReportedIds(), std::vector<int32_t>{2});
    EXPECT_FALSE(testsupport::MemoryFiles::instance().exists("r.png"));
  }
}

TEST_F(WrpngTest, FailuresAreReported) {
  auto& files = testsupport::MemoryFiles::instance();
  const Dib dib = MakeDib(200, 300, 24, 9);
  files.failOpen = true;
  const ExportRun failed = writer.run(dib);
  files.failOpen = false;
  EXPECT_EQ(failed.handle, 0u);
  EXPECT_EQ(failed.flags, 504);
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{1});

  // A short head: error 2, and the export goes on.
  Reports().clear();
  ShortWrites() = {0};
  const ExportRun head = writer.run(dib, 10);
  EXPECT_EQ(head.endResult, 1);
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{2});

  // A short IDAT: error 3 once; that call and every later one answer 204.
  Reports().clear();
  ShortWrites() = {1};
  const ExportRun data = writer.run(dib, 10);
  const auto firstFailure = std::find(data.blockResults.begin(), data.blockResults.end(), 204);
  ASSERT_NE(firstFailure, data.blockResults.end());
  EXPECT_TRUE(std::all_of(firstFailure, data.blockResults.end(), [](int32_t r) { return r == 204; }));
  EXPECT_EQ(data.endResult, 204);
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{3});

  // IEND, the last write, written short: error 3 and 204 from end_write.
  size_t calls = 0;
  for (ShortWrites() = {0}; calls < 1000; ShortWrites() = {++calls}) {  // the first call not made
    Reports().clear();
    if (writer.run(dib).endResult == 1 && Reports().empty()) break;
  }
  ASSERT_GT(calls, 2u);
  ShortWrites() = {calls - 1};
  Reports().clear();
  EXPECT_EQ(writer.run(dib).endResult, 204);
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{3});
}

TEST_F(WrpngTest, RowsOutOfPlace) {
  const Dib dib = MakeDib(10, 4, 8);
  int32_t flags = 0;
  const HostFileTable* files = testsupport::MemoryFiles::table();
  HGLOBAL h = writer.beginWrite("x.png", files, "x.png", dib.header(), 0, &flags);
  ASSERT_NE(h, 0u);
  Bytes rows(5 * dib.stride());
  EXPECT_EQ(writer.writeBlock(h, 5, dib.stride(), rows.data(), nullptr), 204);  // beyond the height
  EXPECT_EQ(writer.writeBlock(h, 1, 9, rows.data(), nullptr), 204);             // stride below a row
  EXPECT_EQ(writer.writeBlock(h, 3, dib.stride(), rows.data(), nullptr), 1);
  ExportProgress progress{};
  EXPECT_EQ(writer.endWrite(h, &progress), 204);  // a row missing: still a readable file
  const Decoded png = DecodePng(testsupport::MemoryFiles::instance().bytes("x.png"));
  EXPECT_TRUE(png.ok) << png.error;
  EXPECT_EQ(writer.endWrite(h, nullptr), 204);   // the handle is gone
  EXPECT_EQ(writer.writeBlock(0, 1, 12, rows.data(), nullptr), 204);
}

TEST_F(WrpngTest, ProgressAndCancellation) {
  const Dib dib = MakeDib(40, 10, 8);
  int32_t flags = 0;
  HGLOBAL h = writer.beginWrite("c.png", testsupport::MemoryFiles::table(), "c.png", dib.header(), 0, &flags);
  ASSERT_NE(h, 0u);
  static int calls;
  calls = 0;
  ExportProgress progress{};
  progress.bytesTotal = 400;
  progress.interval = 30;
  progress.userValue = 7;
  progress.callback = [](int32_t, int32_t percent, uint32_t user) -> int32_t {
    EXPECT_EQ(user, 7u);
    EXPECT_LE(percent, 100);
    return ++calls < 2;
  };
  Bytes block(3 * 40);
  EXPECT_EQ(writer.writeBlock(h, 3, 40, block.data(), &progress), 215);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(progress.bytesDone, 80u);
  EXPECT_EQ(writer.writeBlock(h, 3, 40, block.data(), nullptr), 1);
  EXPECT_EQ(writer.endWrite(h, nullptr), 204);  // cancelled before every row came
}

}  // namespace
}  // namespace wrpngtest
