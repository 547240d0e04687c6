// How wrbmp.DEL fails: refused images, open and allocation failures, short
// writes, bad handles and calls the contract does not allow.
#include <cstring>

#include "winport/memory.h"
#include "wrbmp_harness.h"

namespace wrbmptest {
namespace {

using testsupport::MemoryFiles;

HGLOBAL Begin(const Writer& writer, const BITMAPINFOHEADER* image, int32_t* flags,
              const char* fileName = kOutName.c_str(), HGLOBAL options = 0) {
  return writer.beginWrite(kOutName.c_str(), RecordingFiles::table(), fileName, image, options,
                           flags);
}

TEST_F(WrbmpTest, UnsupportedImagesAreRefusedBeforeTheFileIsTouched) {
  MemoryFiles::instance().put(kOutName, {1, 2, 3});
  const struct {
    const char* what;
    int32_t width, height;
    uint16_t bits;
    uint32_t compression, size;
  } cases[] = {
      {"2 bits", 4, 4, 2, BI_RGB, 40},       {"16 bits", 4, 4, 16, BI_RGB, 40},
      {"32 bits", 4, 4, 32, BI_RGB, 40},     {"0 bits", 4, 4, 0, BI_RGB, 40},
      {"width 0", 0, 4, 8, BI_RGB, 40},      {"width < 0", -3, 4, 8, BI_RGB, 40},
      {"height 0", 4, 0, 8, BI_RGB, 40},     {"top-down", 4, -4, 8, BI_RGB, 40},
      {"RLE8", 4, 4, 8, 1, 40},              {"header 12", 4, 4, 8, BI_RGB, 12},
      {"over 2 GiB", 30000, 30000, 24, BI_RGB, 40},
      {"width x bits past 32 bits", 0x7FFFFFFF, 1, 24, BI_RGB, 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reports().clear();
    Dib dib = MakeDib(4, 4, 8);
    dib.header()->biWidth = c.width;
    dib.header()->biHeight = c.height;
    dib.header()->biBitCount = c.bits;
    dib.header()->biCompression = c.compression;
    dib.header()->biSize = c.size;
    int32_t flags = -1;
    EXPECT_EQ(Begin(writer, dib.header(), &flags), HGLOBAL{});
    EXPECT_EQ(flags, static_cast<int32_t>(kFlagsTopFirst));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].id, kWriterErrorHeader);
    EXPECT_EQ(Reports()[0].module, kModuleName);
    EXPECT_EQ(Reports()[0].file, kOutName);
    EXPECT_EQ(MemoryFiles::instance().bytes(kOutName), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(MemoryFiles::instance().opens, 0);
  }
  int32_t flags = -1;
  EXPECT_EQ(Begin(writer, nullptr, &flags), HGLOBAL{});
  EXPECT_EQ(flags, static_cast<int32_t>(kFlagsTopFirst));
}

TEST_F(WrbmpTest, OpenFailureReportsError1AndStillReportsFlags) {
  MemoryFiles::instance().failOpen = true;
  const Dib dib = MakeDib(4, 4, 8);
  int32_t flags = -1;
  EXPECT_EQ(Begin(writer, dib.header(), &flags), HGLOBAL{});
  EXPECT_EQ(flags, static_cast<int32_t>(kFlagsTopFirst));
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].instance, writer.module.handle());
  EXPECT_EQ(Reports()[0].id, kWriterErrorOpen);
  EXPECT_EQ(Reports()[0].module, kModuleName);
  EXPECT_EQ(Reports()[0].file, kOutName);

  Reports().clear();
  EXPECT_EQ(writer.beginWrite(kOutName.c_str(), nullptr, "x", dib.header(), 0, nullptr), HGLOBAL{});
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{kWriterErrorOpen});
}

TEST_F(WrbmpTest, AllocationFailureClosesTheFileWithoutAReport) {
  const Dib dib = MakeDib(4, 4, 8);
  const uint32_t liveBefore = winport_test_live_global_blocks();
  winport_test_fail_allocation(1);
  int32_t flags = -1;
  const HGLOBAL handle = Begin(writer, dib.header(), &flags);
  winport_test_fail_allocation(0);
  EXPECT_EQ(handle, HGLOBAL{});
  EXPECT_EQ(flags, static_cast<int32_t>(kFlagsTopFirst));
  EXPECT_TRUE(Reports().empty());
  EXPECT_EQ(MemoryFiles::instance().opens, 1);
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  EXPECT_TRUE(MemoryFiles::instance().bytes(kOutName).empty());
  EXPECT_EQ(winport_test_live_global_blocks(), liveBefore);
}

TEST_F(WrbmpTest, ShortHeaderWritesReportError2AndTheExportGoesOn) {
  const Dib dib = MakeDib(5, 4, 4);
  for (size_t failing : {0u, 1u}) {  // the file header, then the info header and colours
    SCOPED_TRACE(failing);
    testsupport::ResetWriterHarness();
    RecordingFiles::instance().shortWrites = {failing};
    RunPlan plan;
    plan.blocks = {2, 2};
    const RunResult run = RunExport(writer, dib, plan);
    ASSERT_NE(run.handle, HGLOBAL{});
    EXPECT_EQ(ReportedIds(), std::vector<int32_t>{kWriterErrorHeader});
    EXPECT_EQ(run.blockResults, (std::vector<int32_t>{kWriterOk, kWriterOk}));
    // The rows are all in place, but the file is not valid: the export fails at its end.
    const std::vector<uint8_t> expected = ExpectedBmp(dib);
    ASSERT_EQ(run.file.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin() + 118, expected.end(), run.file.begin() + 118));
    EXPECT_EQ(run.endResult, kWriterWriteFailed);
    EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  }
}

// A full disk inside the pixel area: error 3 once for the block, 204, and the
// remaining pieces are still handed to the host.
TEST_F(WrbmpTest, ShortDataWriteReportsError3AndWritesTheRemainingChunks) {
  const Dib dib = MakeDib(100, 40, 24);  // 300-byte rows, 12000 bytes of pixels
  MemoryFiles::instance().diskCapacity = 54 + 5000;
  RunPlan plan;
  plan.progress.interval = 1000;
  plan.blocks = {20, 20};
  const RunResult run = RunExport(writer, dib, plan);
  EXPECT_EQ(run.blockResults, (std::vector<int32_t>{kWriterWriteFailed, kWriterWriteFailed}));
  EXPECT_EQ(ReportedIds(), (std::vector<int32_t>{kWriterErrorWrite, kWriterErrorWrite}));
  size_t dataWrites = 0;
  for (const auto& write : RecordingFiles::instance().writes) dataWrites += write.position >= 54;
  EXPECT_EQ(dataWrites, 12u);  // every 1000-byte piece was tried
  EXPECT_EQ(run.endResult, kWriterWriteFailed);
  EXPECT_EQ(run.file.size(), 54u + 5000u);
  EXPECT_EQ(ReadLe32(run.file, 2), 54u + 5000u);
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
}

TEST_F(WrbmpTest, ShortSizePatchAtTheEndFailsTheExport) {
  const Dib dib = MakeDib(10, 3, 8);
  RunExport(writer, dib);
  const size_t patchWrite = RecordingFiles::instance().writes.size() - 1;
  ASSERT_EQ(RecordingFiles::instance().writes[patchWrite].position, 2);

  RecordingFiles::instance().reset();
  RecordingFiles::instance().shortWrites = {patchWrite};
  const uint32_t liveBefore = winport_test_live_global_blocks();
  const RunResult run = RunExport(writer, dib);
  EXPECT_EQ(run.blockResults, std::vector<int32_t>{kWriterOk});
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{kWriterErrorWrite});
  EXPECT_EQ(run.endResult, kWriterWriteFailed);
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  EXPECT_EQ(winport_test_live_global_blocks(), liveBefore);
}

TEST_F(WrbmpTest, NullErrorCallbackFailsSilently) {
  ExportHostInfo host{0, nullptr, 0};
  writer.getExt(&host);
  const Dib dib = MakeDib(100, 4, 24);
  MemoryFiles::instance().diskCapacity = 100;
  const RunResult run = RunExport(writer, dib);
  EXPECT_EQ(run.blockResults, std::vector<int32_t>{kWriterWriteFailed});
  EXPECT_EQ(run.endResult, kWriterWriteFailed);
  MemoryFiles::instance().failOpen = true;
  int32_t flags = -1;
  EXPECT_EQ(Begin(writer, dib.header(), &flags), HGLOBAL{});
  EXPECT_TRUE(Reports().empty());
}

TEST_F(WrbmpTest, HandlesThatAreNotLiveBlocksAreRefused) {
  const Dib dib = MakeDib(4, 2, 8);
  ExportProgress progress{};
  const uint8_t rows[8] = {};
  EXPECT_EQ(writer.writeBlock(0, 1, 4, rows, &progress), kWriterWriteFailed);
  EXPECT_EQ(writer.endWrite(0, &progress), kWriterWriteFailed);
  EXPECT_EQ(writer.writeBlock(testsupport::HandleFromNumber(0xDEADBEEF), 1, 4, rows, &progress), kWriterWriteFailed);

  // Someone else's block, whatever its size, is left alone.
  for (size_t size = 1; size <= 400; ++size) {
    const HGLOBAL foreign = GlobalAlloc(GHND, size);
    ASSERT_NE(foreign, HGLOBAL{});
    EXPECT_EQ(writer.writeBlock(foreign, 1, 4, rows, &progress), kWriterWriteFailed);
    EXPECT_EQ(writer.endWrite(foreign, &progress), kWriterWriteFailed);
    EXPECT_EQ(GlobalSize(foreign), size);
    EXPECT_EQ(GlobalLockCount(foreign), 0u);
    GlobalFree(foreign);
  }

  // A block after end_write.
  int32_t flags = 0;
  const HGLOBAL handle = Begin(writer, dib.header(), &flags);
  ASSERT_NE(handle, HGLOBAL{});
  EXPECT_EQ(writer.writeBlock(handle, 2, 4, dib.rows.data(), &progress), kWriterOk);
  EXPECT_EQ(writer.endWrite(handle, &progress), kWriterOk);
  EXPECT_EQ(writer.writeBlock(handle, 1, 4, rows, &progress), kWriterWriteFailed);
  EXPECT_EQ(writer.endWrite(handle, &progress), kWriterWriteFailed);
  EXPECT_EQ(MemoryFiles::instance().closes, 1);
  EXPECT_TRUE(Reports().empty());
}

TEST_F(WrbmpTest, BlocksTheFileCannotHoldAreRefused) {
  OptionBlock forward("THK", "FORWARD = ON\r");
  const Dib dib = MakeDib(8, 4, 8);
  const std::vector<uint8_t> tooMany(8 * 6, 0x77);
  for (HGLOBAL options : {HGLOBAL{0}, forward.handle()}) {
    Reports().clear();
    int32_t flags = 0;
    const HGLOBAL handle = Begin(writer, dib.header(), &flags, kOutName.c_str(), options);
    ASSERT_NE(handle, HGLOBAL{});
    ExportProgress progress{};
    progress.flags = static_cast<uint32_t>(flags);
    EXPECT_EQ(writer.writeBlock(handle, 3, 8, tooMany.data(), &progress), kWriterOk);
    EXPECT_EQ(writer.writeBlock(handle, 2, 8, tooMany.data(), &progress), kWriterWriteFailed);
    EXPECT_EQ(writer.writeBlock(handle, 1, 7, tooMany.data(), &progress), kWriterWriteFailed);
    EXPECT_EQ(writer.writeBlock(handle, 0, 8, tooMany.data(), &progress), kWriterOk);
    EXPECT_EQ(writer.writeBlock(handle, 1, 8, nullptr, &progress), kWriterWriteFailed);
    EXPECT_EQ(writer.endWrite(handle, &progress), kWriterWriteFailed);
    EXPECT_EQ(ReportedIds(), (std::vector<int32_t>{kWriterErrorWrite, kWriterErrorWrite}));
    // Headers and colour table untouched by the refused rows.
    const std::vector<uint8_t> file = MemoryFiles::instance().bytes(kOutName);
    const std::vector<uint8_t> expected = ExpectedBmp(dib);
    ASSERT_GE(file.size(), 1078u);
    EXPECT_TRUE(std::equal(expected.begin() + 6, expected.begin() + 1078, file.begin() + 6));
  }
}

// The host stopped early: no row is refused, but the file is not complete.
TEST_F(WrbmpTest, EndBeforeEveryRowFailsWithoutAReport) {
  const Dib dib = MakeDib(8, 4, 8);
  RunPlan plan;
  plan.blocks = {3};
  const RunResult run = RunExport(writer, dib, plan);
  EXPECT_EQ(run.blockResults, std::vector<int32_t>{kWriterOk});
  EXPECT_EQ(run.endResult, kWriterWriteFailed);
  EXPECT_TRUE(Reports().empty());
}

TEST_F(WrbmpTest, LongFileNamesAreCutToTheField) {
  const Dib dib = MakeDib(4, 4, 8);
  MemoryFiles::instance().failOpen = true;
  const std::string ascii(150, 'a');
  std::string utf8(98, 'b');
  utf8 += "\xC3\xA9\xC3\xA9";  // two 2-byte characters: the first would be split at 99
  int32_t flags = 0;
  EXPECT_EQ(Begin(writer, dib.header(), &flags, ascii.c_str()), HGLOBAL{});
  EXPECT_EQ(Begin(writer, dib.header(), &flags, utf8.c_str()), HGLOBAL{});
  EXPECT_EQ(Begin(writer, dib.header(), &flags, nullptr), HGLOBAL{});
  ASSERT_EQ(Reports().size(), 3u);
  EXPECT_EQ(Reports()[0].file, std::string(99, 'a'));
  EXPECT_EQ(Reports()[1].file, std::string(98, 'b'));
  EXPECT_EQ(Reports()[2].file, "");
}

}  // namespace
}  // namespace wrbmptest
