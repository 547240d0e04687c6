// Pieces handed to the host and the progress they report.
#include "wrbmp_harness.h"

namespace wrbmptest {
namespace {

struct ProgressCall {
  int32_t zero;
  int32_t percent;
  uint32_t user;
};
std::vector<ProgressCall> gCalls;
int32_t gAnswer = 1;

int32_t CALLBACK RecordProgress(int32_t zero, int32_t percent, uint32_t user) {
  gCalls.push_back({zero, percent, user});
  return gAnswer;
}

std::vector<uint32_t> DataWriteSizes(uint32_t pixelOffset) {
  std::vector<uint32_t> sizes;
  for (const auto& write : RecordingFiles::instance().writes) {
    if (write.position >= pixelOffset) sizes.push_back(write.count);
  }
  return sizes;
}

class WrbmpProgressTest : public WrbmpTest {
 protected:
  void SetUp() override {
    WrbmpTest::SetUp();
    gCalls.clear();
    gAnswer = 1;
  }
};

TEST_F(WrbmpProgressTest, PiecesAreAtMost32767Bytes) {
  const Dib dib = MakeDib(1000, 40, 24);  // 120000 bytes of pixels in one block
  const RunResult run = RunExport(writer, dib);
  EXPECT_EQ(DataWriteSizes(54), (std::vector<uint32_t>{32767, 32767, 32767, 21699}));
  EXPECT_EQ(run.file, ExpectedBmp(dib));
}

TEST_F(WrbmpProgressTest, PiecesFollowTheIntervalAndReportOnceItIsPassed) {
  const Dib dib = MakeDib(1000, 10, 24);  // 3000-byte rows, 30000 bytes
  RunPlan plan;
  plan.progress.interval = 6000;
  plan.progress.bytesTotal = 30000;
  plan.progress.userValue = 0xC0FFEE;
  plan.progress.callback = RecordProgress;
  plan.blocks = {4, 6};
  const RunResult run = RunExport(writer, dib, plan);
  // 12000 bytes in the first block (6000 + 6000), 18000 in the second.
  EXPECT_EQ(DataWriteSizes(54), (std::vector<uint32_t>{6000, 6000, 6000, 6000, 6000}));
  ASSERT_EQ(gCalls.size(), 2u);
  EXPECT_EQ(gCalls[0].zero, 0);
  EXPECT_EQ(gCalls[0].percent, 40);
  EXPECT_EQ(gCalls[0].user, 0xC0FFEEu);
  EXPECT_EQ(gCalls[1].percent, 80);
  EXPECT_EQ(run.progress.bytesDone, 24000u);
  EXPECT_EQ(run.progress.sinceLast, 6000u);
  EXPECT_EQ(run.file, ExpectedBmp(dib));

  // Without a callback the counters move the same way.
  gCalls.clear();
  plan.progress.callback = nullptr;
  const RunResult silent = RunExport(writer, dib, plan);
  EXPECT_TRUE(gCalls.empty());
  EXPECT_EQ(silent.progress.bytesDone, 24000u);
  EXPECT_EQ(silent.progress.sinceLast, 6000u);
}

TEST_F(WrbmpProgressTest, CancelAnswerIsIgnored) {
  gAnswer = 0;
  const Dib dib = MakeDib(100, 10, 8);
  RunPlan plan;
  plan.progress.bytesTotal = 1000;
  plan.progress.callback = RecordProgress;
  plan.blocks = {5, 5};
  const RunResult run = RunExport(writer, dib, plan);
  EXPECT_EQ(run.blockResults, (std::vector<int32_t>{kWriterOk, kWriterOk}));
  EXPECT_EQ(run.endResult, kWriterOk);
  EXPECT_EQ(gCalls.size(), 2u);
  EXPECT_EQ(run.file, ExpectedBmp(dib));
}

// bytes done x 100 passes 32 bits long before the byte counts do.
TEST_F(WrbmpProgressTest, PercentIsComputedIn64Bits) {
  const Dib dib = MakeDib(4, 1, 8);
  RunPlan plan;
  plan.progress.bytesDone = 2'000'000'000u;
  plan.progress.bytesTotal = 4'000'000'000u;
  plan.progress.callback = RecordProgress;
  RunExport(writer, dib, plan);
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0].percent, 50);

  // A total below the bytes done is reported as 100, never more.
  gCalls.clear();
  plan.progress.bytesDone = 0xFFFFFFFEu;
  plan.progress.bytesTotal = 10;
  const RunResult run = RunExport(writer, dib, plan);
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0].percent, 100);
  EXPECT_EQ(run.progress.bytesDone, 0xFFFFFFFFu);  // saturates instead of wrapping
}

TEST_F(WrbmpProgressTest, ZeroTotalCallsNothing) {
  const Dib dib = MakeDib(100, 10, 8);
  RunPlan plan;
  plan.progress.callback = RecordProgress;
  plan.progress.bytesTotal = 0;
  const RunResult run = RunExport(writer, dib, plan);
  EXPECT_TRUE(gCalls.empty());
  EXPECT_EQ(run.progress.bytesDone, 1000u);
  EXPECT_EQ(run.endResult, kWriterOk);
}

}  // namespace
}  // namespace wrbmptest
