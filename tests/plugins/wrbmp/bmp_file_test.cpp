// The files wrbmp.DEL writes: layout, row orders, the "FORWARD" option.
#include "wrbmp_harness.h"

namespace wrbmptest {
namespace {

using testsupport::MemoryFiles;

TEST_F(WrbmpTest, PixelOffsetFollowsTheBitCount) {
  const struct {
    uint16_t bits;
    uint32_t offset;
  } cases[] = {{1, 62}, {4, 118}, {8, 1078}, {24, 54}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    const Dib dib = MakeDib(5, 3, c.bits);
    const RunResult run = RunExport(writer, dib);
    ASSERT_NE(run.handle, 0u);
    EXPECT_EQ(ReadLe32(run.file, 10), c.offset);
    EXPECT_EQ(run.file, ExpectedBmp(dib));
    EXPECT_EQ(run.endResult, kWriterOk);
  }
  EXPECT_TRUE(Reports().empty());
}

TEST_F(WrbmpTest, EightBitTenByThreeIs1114Bytes) {
  const Dib dib = MakeDib(10, 3, 8);
  ASSERT_EQ(dib.rowBytes, 12u);
  const RunResult run = RunExport(writer, dib);
  EXPECT_EQ(run.flags, static_cast<int32_t>(kFlagsBottomFirst));
  EXPECT_EQ(run.blockResults, std::vector<int32_t>{kWriterOk});
  EXPECT_EQ(run.endResult, kWriterOk);
  ASSERT_EQ(run.file.size(), 1114u);
  EXPECT_EQ(run.file[0], 'B');
  EXPECT_EQ(run.file[1], 'M');
  EXPECT_EQ(ReadLe32(run.file, 2), 1114u);
  EXPECT_EQ(ReadLe32(run.file, 6), 0u);
  EXPECT_EQ(ReadLe32(run.file, 10), 1078u);
  EXPECT_EQ(run.progress.fileSize, 1114u);
  EXPECT_EQ(run.file, ExpectedBmp(dib));
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
}

// Top-first delivery with blocks placed in front of each other gives the same
// file as bottom-first appends, whatever the block sizes.
TEST_F(WrbmpTest, BothRowOrdersProduceTheSameFile) {
  OptionBlock forward("THK", "FORWARD = ON\r");
  for (uint16_t bits : {1, 4, 8, 24}) {
    SCOPED_TRACE(bits);
    const Dib dib = MakeDib(13, 10, bits);
    const std::vector<uint8_t> expected = ExpectedBmp(dib);
    for (const std::vector<uint32_t>& blocks :
         {std::vector<uint32_t>{10}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {3, 1, 4, 2}, {7, 3}}) {
      RunPlan plan;
      plan.blocks = blocks;
      const RunResult appended = RunExport(writer, dib, plan);
      EXPECT_EQ(appended.flags, static_cast<int32_t>(kFlagsBottomFirst));
      EXPECT_EQ(appended.file, expected);
      plan.options = forward.handle();
      const RunResult placed = RunExport(writer, dib, plan);
      EXPECT_EQ(placed.flags, static_cast<int32_t>(kFlagsTopFirst));
      EXPECT_EQ(placed.file, expected);
      EXPECT_EQ(placed.endResult, kWriterOk);
      EXPECT_EQ(placed.progress.fileSize, expected.size());
    }
  }
  EXPECT_TRUE(Reports().empty());
}

TEST_F(WrbmpTest, ForwardOptionIsReadFromTheOptionText) {
  // The host leaves the bytes between the signature and the lines 0.
  const std::string_view hostSignature("THK\0\0\0\0\0\0\0\0\0", kOptionLinesStart);
  const struct {
    std::string_view signature;
    const char* lines;
    uint32_t flags;
  } cases[] = {
      {"THK", "FORWARD = ON\r", kFlagsTopFirst},
      {hostSignature, "FORWARD = ON\r", kFlagsTopFirst},
      {hostSignature, "COMPRESS = OFF\rFORWARD = ON\r", kFlagsTopFirst},
      {"THK", "FORWARD = on\r", kFlagsTopFirst},
      {"THK", "FORWARD = oN", kFlagsTopFirst},  // the value runs to the end of the text
      {"THK", "COMPRESS = OFF\rFORWARD = ON\r", kFlagsTopFirst},
      {"THK", "COMPRESS = OFF\r\nFORWARD = On\r\n", kFlagsTopFirst},
      {"THK", "FORWARD = off\r", kFlagsBottomFirst},
      {"THK", "FORWARD = ONE\r", kFlagsBottomFirst},
      {"THK", "FORWARD = ON \r", kFlagsBottomFirst},
      {"THK", "FORWARD =\rON\r", kFlagsBottomFirst},
      {"THK", "FORWARD = \r", kFlagsBottomFirst},
      {"THK", "forward = ON\r", kFlagsBottomFirst},  // keys are capitals
      {"THK", "NOFORWARD = ON\r", kFlagsBottomFirst},
      {"THK", "NAME = FORWARD = ON\r", kFlagsBottomFirst},
      {"THK", "", kFlagsBottomFirst},
      {"XYZ", "FORWARD = ON\r", kFlagsBottomFirst},
      {"TH", "", kFlagsBottomFirst},
  };
  const Dib dib = MakeDib(6, 4, 4);
  const std::vector<uint8_t> expected = ExpectedBmp(dib);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.signature) + "|" + c.lines);
    OptionBlock options(c.signature, c.lines);
    RunPlan plan;
    plan.options = options.handle();
    plan.blocks = {1, 3};
    const RunResult run = RunExport(writer, dib, plan);
    EXPECT_EQ(run.flags, static_cast<int32_t>(c.flags));
    EXPECT_EQ(run.file, expected);
  }
}

TEST_F(WrbmpTest, MissingOrInvalidOptionBlockMeansBottomFirst) {
  const Dib dib = MakeDib(6, 4, 24);
  HGLOBAL freed = GlobalAlloc(GHND, 64);
  GlobalFree(freed);
  for (HGLOBAL options : {HGLOBAL{0}, freed}) {
    RunPlan plan;
    plan.options = options;
    const RunResult run = RunExport(writer, dib, plan);
    EXPECT_EQ(run.flags, static_cast<int32_t>(kFlagsBottomFirst));
    EXPECT_EQ(run.file, ExpectedBmp(dib));
  }
}

// A stride wider than the padded row: each row's padded bytes go to the file.
TEST_F(WrbmpTest, WiderStrideWritesThePaddedRows) {
  OptionBlock forward("THK", "FORWARD = ON\r");
  const Dib dib = MakeDib(7, 5, 8);
  for (HGLOBAL options : {HGLOBAL{0}, forward.handle()}) {
    RunPlan plan;
    plan.stride = dib.rowBytes + 12;
    plan.blocks = {2, 3};
    plan.options = options;
    const RunResult run = RunExport(writer, dib, plan);
    EXPECT_EQ(run.blockResults, (std::vector<int32_t>{kWriterOk, kWriterOk}));
    EXPECT_EQ(run.endResult, kWriterOk);
    EXPECT_EQ(run.file, ExpectedBmp(dib));
  }
}

TEST_F(WrbmpTest, ExistingFileIsReplaced) {
  MemoryFiles::instance().put(kOutName, std::vector<uint8_t>(50000, 0x5A));
  const Dib dib = MakeDib(3, 2, 1);
  const RunResult run = RunExport(writer, dib);
  EXPECT_EQ(run.file, ExpectedBmp(dib));
}

TEST_F(WrbmpTest, NullProgressRecordStillWritesTheFile) {
  const Dib dib = MakeDib(9, 4, 24);
  RunPlan plan;
  plan.withProgress = false;
  plan.blocks = {1, 3};
  const RunResult run = RunExport(writer, dib, plan);
  EXPECT_EQ(run.endResult, kWriterOk);
  EXPECT_EQ(run.file, ExpectedBmp(dib));
}

TEST_F(WrbmpTest, TextsFlagsAndVersion) {
  EXPECT_STREQ(writer.getVer(), "1.00");
  EXPECT_EQ(writer.wep(0), 0);
  EXPECT_STREQ(writer.getExt(nullptr), "BMP;Windows Bitmap (*.bmp)");
  ExportHostInfo host{0, nullptr, 0};
  writer.getExt(&host);
  EXPECT_EQ(host.flags, kFlagsBottomFirst);
}

}  // namespace
}  // namespace wrbmptest
