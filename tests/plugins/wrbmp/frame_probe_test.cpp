// The writer frame through writer_probe.DLL: the host's option getter, an
// open hook that appends, withheld flags, cancellation and the release hook.
#include <cstdio>
#include <cstring>

#include "program_export.h"
#include "wrbmp_harness.h"

namespace {

bool gProbePresent = false;
std::string gProbeValue;
bool gFillWholeBuffer = false;  // a getter that leaves no room for the NUL

}  // namespace

// The host's option getter; the test program stands in for the host library.
SUITE_PROGRAM_EXPORT int32_t CALLBACK OvgXOptBlkGet(HGLOBAL /*options*/, const char* key,
                                                    char* value) {
  if (!gProbePresent || std::strcmp(key, "PROBE") != 0) return 1;
  if (gFillWholeBuffer) {
    std::memset(value, 'v', kOptionValueSize);
  } else {
    std::snprintf(value, kOptionValueSize, "%s", gProbeValue.c_str());
  }
  return 0;
}

namespace wrbmptest {
namespace {

using testsupport::MemoryFiles;

class FrameProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::ResetWriterHarness();
    gProbePresent = false;
    gFillWholeBuffer = false;
    ASSERT_TRUE(module);
    getExt = module.get<OVXDLget_ext_fn>("OVXDLget_ext");
    beginWrite = module.get<OVXDLbegin_write_fn>("OVXDLbegin_write");
    writeBlock = module.get<OVXDLwrite_block_fn>("OVXDLwrite_block");
    endWrite = module.get<OVXDLend_write_fn>("OVXDLend_write");
    ASSERT_TRUE(getExt && beginWrite && writeBlock && endWrite);
    connect(GetModuleHandleA(nullptr));
    image.biSize = sizeof image;
    image.biWidth = 4;
    image.biHeight = 4;
    image.biBitCount = 8;
  }

  void connect(HMODULE hostInstance) {
    ExportHostInfo host{0, RecordError, hostInstance};
    EXPECT_STREQ(getExt(&host), "PRB;Frame probe (*.prb)");
    EXPECT_EQ(host.flags, 252u);
  }

  // Begins and ends an export without rows to a new file; the file's text.
  std::string beginAndEnd() {
    RecordingFiles::instance().reset();  // a new file each time: the probe appends
    int32_t flags = -1;
    const HGLOBAL block = beginWrite(kOutName.c_str(), RecordingFiles::table(), kOutName.c_str(),
                                     &image, 0, &flags);
    EXPECT_NE(block, HGLOBAL{});
    EXPECT_EQ(flags, 96);
    EXPECT_EQ(endWrite(block, nullptr), kWriterOk);
    const std::vector<uint8_t> bytes = MemoryFiles::instance().bytes(kOutName);
    return std::string(bytes.begin(), bytes.end());
  }

  testsupport::LoadedModule module{"writer_probe.DLL"};
  OVXDLget_ext_fn getExt = nullptr;
  OVXDLbegin_write_fn beginWrite = nullptr;
  OVXDLwrite_block_fn writeBlock = nullptr;
  OVXDLend_write_fn endWrite = nullptr;
  BITMAPINFOHEADER image{};
};

TEST_F(FrameProbeTest, OptionsComeFromTheHostsGetter) {
  EXPECT_EQ(beginAndEnd(), "PROBE absent;");
  gProbePresent = true;
  gProbeValue = "hello";
  EXPECT_EQ(beginAndEnd(), "PROBE=hello;");
  // A getter that fills the whole buffer: the value is cut, never read past.
  gFillWholeBuffer = true;
  EXPECT_EQ(beginAndEnd(), "PROBE=" + std::string(kOptionValueSize - 1, 'v') + ";");
}

TEST_F(FrameProbeTest, WithoutHostInstanceEveryOptionIsAbsent) {
  gProbePresent = true;
  gProbeValue = "hello";
  connect(0);
  EXPECT_EQ(beginAndEnd(), "PROBE absent;");
}

TEST_F(FrameProbeTest, FailedBeginCanWithholdTheFlagsAndReleasesEverything) {
  gProbePresent = true;
  gProbeValue = "FAIL";
  const uint32_t liveBefore = winport_test_live_global_blocks();
  int32_t flags = -1;
  EXPECT_EQ(beginWrite(kOutName.c_str(), RecordingFiles::table(), kOutName.c_str(), &image, 0,
                       &flags),
            HGLOBAL{});
  EXPECT_EQ(flags, -1);
  EXPECT_EQ(ReportedIds(), std::vector<int32_t>{kWriterErrorMemory});
  EXPECT_EQ(Reports()[0].module, "writer_probe.DLL");
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  EXPECT_EQ(winport_test_live_global_blocks(), liveBefore);
  char text[64];
  EXPECT_GT(LoadStringA(module.handle(), 4, text, sizeof text), 0);
  EXPECT_STREQ(text, "Error allocating Memory.");
}

int gProgressCalls = 0;
int32_t CALLBACK CancelOnThirdCall(int32_t, int32_t, uint32_t) {
  return ++gProgressCalls < 3 ? 1 : 0;
}

// An existing file is reopened and appended to; rows go out top first; a
// cancelled block stays valid until end_write closes and frees everything.
TEST_F(FrameProbeTest, AppendsRowsTopFirstAndStopsWhenCancelled) {
  MemoryFiles::instance().put(kOutName, {'o', 'l', 'd', ';'});
  const uint32_t liveBefore = winport_test_live_global_blocks();
  int32_t flags = -1;
  const HGLOBAL block = beginWrite(kOutName.c_str(), RecordingFiles::table(), kOutName.c_str(),
                                   &image, 0, &flags);
  ASSERT_NE(block, HGLOBAL{});
  const uint8_t rows[16] = {'0', 0, 0, 0, '1', 0, 0, 0, '2', 0, 0, 0, '3', 0, 0, 0};
  ExportProgress progress{};
  progress.bytesTotal = 16;
  progress.callback = CancelOnThirdCall;
  gProgressCalls = 0;
  EXPECT_EQ(writeBlock(block, 4, 4, rows, &progress), kWriterCancelled);
  progress.callback = nullptr;
  EXPECT_EQ(writeBlock(block, 1, 4, rows, &progress), kWriterOk);
  EXPECT_EQ(endWrite(block, &progress), kWriterOk);
  const std::vector<uint8_t> bytes = MemoryFiles::instance().bytes(kOutName);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old;PROBE absent;320");
  EXPECT_EQ(progress.fileSize, bytes.size());
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  EXPECT_EQ(winport_test_live_global_blocks(), liveBefore);
}

}  // namespace
}  // namespace wrbmptest
