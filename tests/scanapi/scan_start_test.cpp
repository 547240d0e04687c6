// CMD_START_SCAN: readiness polling, the device wait and the progress events,
// driven through the frozen tick count; and the music around scans.
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"
#include "winport/system.h"

namespace scantest {
namespace {

using Event = std::pair<uint32_t, uint32_t>;

struct Recorder {
  std::vector<Event> events;
  uint32_t advancePerCall = 0;    // ms the tick moves on at each call
  size_t stopAtCall = 0;          // answer nonzero at this call (1-based); 0 never
};
Recorder g_recorder;

int16_t CALLBACK RecordProgress(uint32_t event, uint32_t amount) {
  g_recorder.events.emplace_back(event, amount);
  if (g_recorder.advancePerCall > 0) winport_test_advance_tick(g_recorder.advancePerCall);
  return g_recorder.events.size() == g_recorder.stopAtCall ? 1 : 0;
}

class ScanStart : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder = Recorder{};
    winport_test_freeze_tick(1000);
    scanner.driver().device.capabilities = DEVCAP_KEEP_CALLBACK;
  }
  void TearDown() override { winport_test_thaw_tick(); }
  // Loads, opens, locks, sets the callback and grey parameters.
  void prepare(uint16_t settingIndex = 0) {
    ASSERT_TRUE(scanner.load());
    scanner.openAndLock();
    ScannerCommand& session = scanner.session();
    session.code = CMD_SET_PROGRESS_CALLBACK;
    session.data = reinterpret_cast<void*>(&RecordProgress);
    scanner.send(session);
    ASSERT_EQ(session.status, SCAN_OK);
    ScanParameters params{};
    params.frame = ScanFrame{SCANFLAG_MUSIC, 0, 0, 300, 300, 300, 300, DATATYPE_GREY, 0, settingIndex};
    params.mapMode = MAP_MODE_BUILT_IN;
    ASSERT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_OK);
    scanner.clearDriverLog();
  }
  Installation scanner;
};

TEST_F(ScanStart, ReadyDeviceStartsWithOneEvent) {
  prepare();
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  EXPECT_EQ(scanner.operations(), (std::vector<uint16_t>{DRV_START_SCAN, DRV_READY, DRV_GET_WAIT,
                                                         DRV_SCAN_CHECK_3}));
  EXPECT_EQ(g_recorder.events, (std::vector<Event>{{PROGRESS_SCAN_BEGINS, 0}}));
  uint8_t line[3 * 300 + 20];  // three grey lines of 300 pixels
  ScannerCommand read = scanner.send(CMD_READ_LINES, line, sizeof(line));
  EXPECT_EQ(read.status, SCAN_OK);
  EXPECT_EQ(read.result, 3u);
  EXPECT_EQ(line[300 + 4], fake::PatternByte(1, 4));
  EXPECT_EQ(scanner.driver().log[scanner.driver().logCount - 1].param, sizeof(line));
  EXPECT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_OK);
  EXPECT_EQ(scanner.send(CMD_READ_LINES, line, sizeof(line)).status, SCAN_ERR_STATE);
}

TEST_F(ScanStart, CallbackIsDroppedUnlessTheDeviceKeepsIt) {
  scanner.driver().device.capabilities = 0;
  prepare();
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  EXPECT_TRUE(g_recorder.events.empty());
}

TEST_F(ScanStart, DeviceThatBecomesReadyIsPolledUntilItIs) {
  prepare();
  fake::DriverState& driver = scanner.driver();
  driver.notReadyPolls = 3;
  driver.notReadyStatus = -6;
  driver.tickPerReadyPoll = 100;
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_READY), 5u);  // 3 not ready, 1 ready, 1 final
  EXPECT_EQ(g_recorder.events, (std::vector<Event>{{PROGRESS_NOT_READY, 0}, {PROGRESS_SCAN_BEGINS, 0}}));
}

TEST_F(ScanStart, DeviceNeverReadyGivesUpAfterFortySeconds) {
  prepare();
  fake::DriverState& driver = scanner.driver();
  driver.notReadyPolls = 1000;
  driver.notReadyStatus = -6;
  driver.tickPerReadyPoll = 1000;
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, -6);
  // The first poll, about forty in the loop, the final one.
  EXPECT_GE(scanner.callsOf(DRV_READY), 40u);
  EXPECT_LE(scanner.callsOf(DRV_READY), 43u);
  EXPECT_EQ(scanner.callsOf(DRV_GET_WAIT), 0u);
  uint8_t line[8];
  EXPECT_EQ(scanner.send(CMD_READ_LINES, line, sizeof(line)).status, SCAN_ERR_STATE);
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, -6);  // still prepared
}

TEST_F(ScanStart, StatusMinus20EndsThePollingEarly) {
  prepare();
  fake::DriverState& driver = scanner.driver();
  driver.notReadyPolls = 1000;
  driver.notReadyStatus = DRV_STATUS_NOT_READY_FINAL;
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, DRV_STATUS_NOT_READY_FINAL);
  EXPECT_EQ(scanner.callsOf(DRV_READY), 3u);
}

TEST_F(ScanStart, RefusedStartStopsAtOnce) {
  prepare();
  scanner.driver().status[DRV_START_SCAN] = -13;
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, -13);
  EXPECT_EQ(scanner.operations(), (std::vector<uint16_t>{DRV_START_SCAN}));
  EXPECT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_ERR_STATE);
}

TEST_F(ScanStart, SeveralSettingsSelectTheScansSettingAgain) {
  scanner.driver().device.settingCount = 3;
  prepare(2);
  scanner.driver().status[DRV_SCAN_CHECK_1] = 1;
  scanner.driver().status[DRV_SCAN_CHECK_3] = 1;
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  EXPECT_EQ(scanner.operations(),
            (std::vector<uint16_t>{DRV_START_SCAN, DRV_READY, DRV_SCAN_CHECK_1, DRV_SELECT_SETTING,
                                   DRV_GET_WAIT, DRV_SCAN_CHECK_3, DRV_SCAN_RECOVER_3}));
  const fake::DriverState& driver = scanner.driver();
  EXPECT_EQ(driver.log[3].param, 2u);
  EXPECT_EQ(g_recorder.events, (std::vector<Event>{{PROGRESS_CHECK_1, 0}, {PROGRESS_CHECK_3, 0},
                                                   {PROGRESS_SCAN_BEGINS, 0}}));
}

TEST_F(ScanStart, WaitReportsTheWholeWaitThenElapsedPartsCappedAtWhatRemains) {
  prepare();
  scanner.driver().reply[DRV_GET_WAIT] = 5000;
  g_recorder.advancePerCall = 2000;
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  EXPECT_EQ(g_recorder.events, (std::vector<Event>{{PROGRESS_WAIT, 5000}, {PROGRESS_WAIT, 2000},
                                                   {PROGRESS_WAIT, 2000}, {PROGRESS_WAIT, 1000},
                                                   {PROGRESS_SCAN_BEGINS, 0}}));
}

TEST_F(ScanStart, CallbackEndsTheWaitEarly) {
  prepare();
  scanner.driver().reply[DRV_GET_WAIT] = 60000;
  g_recorder.advancePerCall = 10;
  g_recorder.stopAtCall = 3;
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  EXPECT_EQ(g_recorder.events, (std::vector<Event>{{PROGRESS_WAIT, 60000}, {PROGRESS_WAIT, 10},
                                                   {PROGRESS_WAIT, 10}, {PROGRESS_SCAN_BEGINS, 0}}));
}

TEST_F(ScanStart, WaitWithoutCallbackRunsOut) {
  scanner.driver().device.capabilities = 0;
  prepare();
  winport_test_thaw_tick();  // a real 30 ms wait
  scanner.driver().reply[DRV_GET_WAIT] = 30;
  const DWORD before = GetTickCount();
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  EXPECT_GE(GetTickCount() - before, 30u);
}

TEST_F(ScanStart, BufferSizeComesFromTheDriver) {
  prepare();
  scanner.driver().reply[DRV_GET_BUFFER_SIZE] = 65536;
  ScannerCommand query = scanner.send(CMD_GET_BUFFER_SIZE);
  EXPECT_EQ(query.status, SCAN_OK);
  EXPECT_EQ(query.result, 65536u);
}

// --- Music around scans. -----------------------------------------------------

class Music : public ScanStart {
 protected:
  void SetUp() override {
    ScanStart::SetUp();
    scanner.installMusic();
  }
  std::vector<std::pair<uint32_t, uint32_t>> calls() {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    fake::MusicState* music = scanner.music();
    for (uint32_t i = 0; i < music->logCount; ++i) out.emplace_back(music->log[i].slot, music->log[i].mode);
    return out;
  }
  void scanOnce() {
    ASSERT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
    ASSERT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_OK);
  }
};

TEST_F(Music, TwoScansInARowStopTheEndTuneWhenTheNextScanStarts) {
  prepare();
  scanner.music()->logCount = 0;
  scanOnce();
  scanOnce();
  EXPECT_EQ(calls(), (std::vector<std::pair<uint32_t, uint32_t>>{
                         {3, MUSIC_MODE_SCAN}, {4, 0}, {3, MUSIC_MODE_END_SCAN},
                         {4, 0}, {3, MUSIC_MODE_SCAN}, {4, 0}, {3, MUSIC_MODE_END_SCAN}}));
  EXPECT_STREQ(scanner.music()->log[0].path, "scan.wav");
  EXPECT_STREQ(scanner.music()->log[2].path, "stop.wav");
  ScannerCommand& session = scanner.session();
  session.code = CMD_CLOSE;
  scanner.send(session);
  EXPECT_EQ(calls().back().first, 1u);
}

TEST_F(Music, PlayMusicOtherThanOnePlaysNothing) {
  ScannerKey key;
  key.musicValues = "\"PlayMusic\"=dword:00000002\n\"StopMusic\"=dword:00000000\n";
  scanner.writeRegistry({key});
  prepare();
  scanner.music()->logCount = 0;
  scanOnce();
  EXPECT_TRUE(calls().empty());
}

TEST_F(Music, ScanWithoutTheMusicFlagPlaysNothing) {
  prepare();
  ScanParameters params{};
  params.frame = ScanFrame{0, 0, 0, 300, 300, 300, 300, DATATYPE_GREY, 0, 0};
  params.mapMode = MAP_MODE_BUILT_IN;
  ASSERT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_OK);
  scanner.music()->logCount = 0;
  scanOnce();
  params.frame.flags = SCANFLAG_MUSIC | SCANFLAG_NO_MUSIC;
  ASSERT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_OK);
  scanOnce();
  EXPECT_TRUE(calls().empty());
}

TEST_F(Music, NestedOpensOpenTheMusicEachTimeAndRefusedOpenIsNotClosed) {
  ASSERT_TRUE(scanner.load());
  fake::MusicState* music = scanner.music();
  music->openResult = 0;
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  ASSERT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);
  music->openResult = 5;  // refused: no close follows
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  ASSERT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);
  EXPECT_EQ(calls(), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {0, 0}, {1, 0}, {0, 0}}));
}

}  // namespace
}  // namespace scantest
