// The writer through its exports: module texts, the headers it writes, the
// quality option, row delivery, progress and every failure path.
#include <cstring>

#include "jpeg_tables.h"
#include "plugin/writer_frame.h"
#include "plugin/writer_module.h"
#include "winport/memory.h"
#include "wrjpeg_harness.h"

namespace wrjpegtest {
namespace {

using testsupport::MemoryFiles;

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  return std::vector<uint8_t>(list.begin(), list.end());
}

TEST_F(WrjpegTest, ModuleTextsExportsAndStrings) {
  ExportHostInfo host{0, nullptr, 0};
  EXPECT_STREQ(writer.getExt(&host), "JPG;JPEG (*.JPG)");
  EXPECT_EQ(host.flags, 248u);
  EXPECT_STREQ(writer.module.get<OVXDLget_ver_fn>("OVXDLget_ver")(), "1.00");
  for (const WinportExport& entry : writer::kWriterExports) {
    EXPECT_EQ(GetProcAddress(writer.module.handle(), MAKEINTRESOURCEA(entry.ordinal)),
              GetProcAddress(writer.module.handle(), entry.name)) << entry.name;
  }
  const char* texts[] = {"Unable to open file.", "Error writing export file header.",
                         "Error writing export file.", "Error allocating Memory."};
  char text[128];
  for (UINT id = 1; id <= 4; ++id) {
    ASSERT_GT(LoadStringA(writer.module.handle(), id, text, sizeof text), 0);
    EXPECT_STREQ(text, texts[id - 1]);
  }
  // The test program's getter again for the tests that follow.
  ExportHostInfo again{0, nullptr, GetModuleHandleA(nullptr)};
  writer.getExt(&again);
}

TEST_F(WrjpegTest, HeadersFrameTablesAndScan) {
  Dib dib = MakeDib(300, 258, 24);
  dib.header()->biYPelsPerMeter = 3937;  // 100 dpi
  const Export run = writer.run(dib, 97);
  EXPECT_EQ(run.flags, 96);
  EXPECT_EQ(run.endResult, 1);
  ASSERT_GE(run.file.size(), 39u);
  EXPECT_EQ(std::vector<uint8_t>(run.file.begin(), run.file.begin() + 39),
            Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 2, 1, 1, 44, 0, 100, 0, 0,
                   0xFF, 0xC0, 0, 17, 8, 1, 2, 1, 44, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));
  const std::vector<Segment> segments = ParseJpeg(run.file);
  std::vector<uint8_t> order;
  for (const Segment& s : segments) order.push_back(s.marker);
  EXPECT_EQ(order, Bytes({0xD8, 0xE0, 0xC0, 0xDB, 0xDB, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0x00, 0xD9}));
  EXPECT_EQ(Find(segments, 0xDA)->body, Bytes({3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
  const int ids[4] = {0x00, 0x01, 0x10, 0x11};
  for (size_t slot = 0; slot < 4; ++slot) {
    const std::vector<uint8_t>& body = Find(segments, 0xC4, slot)->body;
    const wrjpeg::HuffmanTableDef& def = wrjpeg::kHuffmanTables[slot];
    ASSERT_EQ(body.size(), 17u + def.symbolCount);
    EXPECT_EQ(body[0], ids[slot]);
    EXPECT_TRUE(std::equal(def.counts.begin(), def.counts.end(), body.begin() + 1));
    EXPECT_TRUE(std::equal(def.symbols, def.symbols + def.symbolCount, body.begin() + 17));
  }
  // Every FF in the coded data is a stuffed FF 00.
  const std::vector<uint8_t>& data = Find(segments, 0x00)->body;
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == 0xFF) {
      ASSERT_EQ(data.at(i + 1), 0) << i;
    }
  }
}

TEST_F(WrjpegTest, QualityOptionAndItsDefault) {
  const Dib dib = MakeDib(20, 20, 8);
  const struct { const char* value; uint8_t firstLuminance, firstChrominance; } cases[] = {
      {nullptr, 8, 9}, {"50", 16, 17}, {"100", 1, 1}, {"0", 255, 255}, {"1", 255, 255},
      {"-5", 1, 1}, {"250", 1, 1}, {" 90x", 3, 3}, {"abc", 255, 255}, {"99999999999", 1, 1}};
  for (const auto& c : cases) {
    Options().clear();
    if (c.value != nullptr) Options()["LOSSY_QUALITY"] = c.value;
    const std::vector<Segment> segments = ParseJpeg(writer.run(dib).file);
    ASSERT_NE(Find(segments, 0xDB, 1), nullptr);
    EXPECT_EQ(Find(segments, 0xDB, 0)->body.at(1), c.firstLuminance) << (c.value ? c.value : "absent");
    EXPECT_EQ(Find(segments, 0xDB, 1)->body.at(0), 1);
    EXPECT_EQ(Find(segments, 0xDB, 1)->body.at(1), c.firstChrominance) << (c.value ? c.value : "absent");
  }
  // Without a getter every key is absent.
  ExportHostInfo host{0, nullptr, 0};
  writer.getExt(&host);
  Options()["LOSSY_QUALITY"] = "100";
  EXPECT_EQ(Find(ParseJpeg(writer.run(dib).file), 0xDB)->body.at(1), 8);
  ExportHostInfo again{0, nullptr, GetModuleHandleA(nullptr)};
  writer.getExt(&again);
}

TEST_F(WrjpegTest, DensityBecomesDotsPerInchOrAnAspectRatio) {
  const struct { int32_t x, y; std::vector<uint8_t> fields; } cases[] = {
      {11811, 7874, Bytes({1, 1, 44, 0, 200})}, {0, 0, Bytes({0, 0, 1, 0, 1})},
      {-50, 11811, Bytes({0, 0, 1, 0, 1})}, {100000000, 39, Bytes({1, 255, 255, 0, 1})}};
  for (const auto& c : cases) {
    Dib dib = MakeDib(8, 8, 1);
    dib.header()->biXPelsPerMeter = c.x;
    dib.header()->biYPelsPerMeter = c.y;
    const std::vector<uint8_t> file = writer.run(dib).file;
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 13, file.begin() + 18), c.fields) << c.x;
  }
}

TEST_F(WrjpegTest, RowsPerCallDoNotChangeTheFile) {
  for (uint16_t bits : {1, 4, 8, 24}) {
    const Dib dib = MakeDib(37, 41, bits);
    const std::vector<uint8_t> whole = writer.run(dib).file;
    for (uint32_t perCall : {1u, 7u, 16u}) EXPECT_EQ(writer.run(dib, perCall).file, whole) << bits;
  }
}

TEST_F(WrjpegTest, ProgressAndCancellation) {
  const Dib dib = MakeDib(100, 40, 24);
  Export run = writer.run(dib, 5);
  EXPECT_EQ(run.progress.bytesDone + run.progress.sinceLast, dib.stride() * 40);
  EXPECT_EQ(run.progress.fileSize, run.file.size());

  static int calls;
  calls = 0;
  const HGLOBAL handle = writer.beginWrite("out.jpg", MemoryFiles::table(), "out.jpg", dib.header(), 0, nullptr);
  ASSERT_NE(handle, HGLOBAL{});
  ExportProgress progress{96, 0, dib.stride() * 40, 0, 0, 0, 7,
                          [](int32_t, int32_t, uint32_t user) CALLBACK -> int32_t { return ++calls < 3 && user == 7 ? 1 : 0; }};
  std::vector<uint8_t> rows(size_t{dib.stride()} * 40);
  EXPECT_EQ(writer.writeBlock(handle, 40, dib.stride(), rows.data(), &progress), 215);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(writer.endWrite(handle, &progress), 204);  // the file lacks rows
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  EXPECT_EQ(writer.endWrite(handle, &progress), writer::kWriterBadBlock);
}

TEST_F(WrjpegTest, RefusedImagesAndRows) {
  for (uint16_t bits : {16, 32, 2}) {
    Dib dib = MakeDib(8, 8, 24);
    dib.header()->biBitCount = bits;
    EXPECT_EQ(writer.run(dib).handle, HGLOBAL{}) << bits;
  }
  Dib wide = MakeDib(8, 8, 24);
  wide.header()->biWidth = 65536;
  EXPECT_EQ(writer.run(wide).handle, HGLOBAL{});
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>(4, 2));
  EXPECT_EQ(MemoryFiles::instance().opens, 0);

  Reports().clear();
  const Dib dib = MakeDib(30, 20, 8);
  const Export extra = writer.run(dib, 0, 23);  // three rows too many
  EXPECT_EQ(extra.blockResults, std::vector<int32_t>{204});
  EXPECT_EQ(extra.endResult, 1);
  EXPECT_EQ(extra.file, writer.run(dib).file);
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{3});
  const HGLOBAL handle = writer.beginWrite("out.jpg", MemoryFiles::table(), "out.jpg", dib.header(), 0, nullptr);
  std::vector<uint8_t> rows(200);
  EXPECT_EQ(writer.writeBlock(handle, 1, 29, rows.data(), nullptr), 204);  // the row needs 32 bytes
  EXPECT_EQ(writer.endWrite(handle, nullptr), 204);
}

TEST_F(WrjpegTest, OpenHeaderAndDataWriteFailures) {
  const Dib dib = MakeDib(64, 64, 24);
  MemoryFiles::instance().failOpen = true;
  Export run = writer.run(dib);
  EXPECT_EQ(run.handle, HGLOBAL{});
  EXPECT_EQ(run.flags, 96);
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{1});

  for (int64_t capacity : {20, 500}) {  // inside the first 39 bytes, inside the tables
    MemoryFiles::instance().reset();
    MemoryFiles::instance().diskCapacity = capacity;
    Reports().clear();
    run = writer.run(dib, 16);
    EXPECT_NE(run.handle, HGLOBAL{});
    EXPECT_EQ(run.endResult, 204);
    EXPECT_EQ(ReportedIds().at(0), 2);
  }
  MemoryFiles::instance().reset();
  MemoryFiles::instance().diskCapacity = 700;  // fails in the coded data
  Reports().clear();
  run = writer.run(dib, 16);
  EXPECT_EQ(run.blockResults, (std::vector<int32_t>{1, 204, 204, 204}));
  EXPECT_EQ(run.endResult, 204);
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{3});
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
}

TEST_F(WrjpegTest, AllocationFailures) {
  const Dib dib = MakeDib(40, 40, 4);
  const uint32_t live = winport_test_live_global_blocks();
  // 1: the ExportBlock (no report); 2 to 5: row buffers, output, Y and chroma planes.
  for (uint32_t nth = 1; nth <= 5; ++nth) {
    Reports().clear();
    int32_t flags = -1;
    winport_test_fail_allocation(nth);
    EXPECT_EQ(writer.beginWrite("out.jpg", MemoryFiles::table(), "out.jpg", dib.header(), 0, &flags), HGLOBAL{});
    winport_test_fail_allocation(0);
    EXPECT_EQ(flags, nth == 1 ? 96 : -1) << nth;
    EXPECT_EQ(ReportedIds(), nth == 1 ? std::vector<int32_t>{} : std::vector<int32_t>{4}) << nth;
    EXPECT_EQ(winport_test_live_global_blocks(), live);
    EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  }
}

}  // namespace
}  // namespace wrjpegtest
