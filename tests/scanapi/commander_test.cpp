// The dispatcher: unknown codes, the gates, open/close counting, the lock
// commands and the forwarded operations with the packet fields they set.
#include <cstring>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"

namespace scantest {
namespace {

ScanParameters GreyScan() {
  ScanParameters params{};
  params.frame = ScanFrame{0, 0, 0, 300, 300, 300, 300, DATATYPE_GREY, 0, 0};
  params.mapMode = MAP_MODE_BUILT_IN;
  return params;
}

class Commander : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scanner.load()); }
  // Open, lock, set parameters, start a scan.
  void startScan() {
    scanner.openAndLock();
    ScanParameters params = GreyScan();
    ASSERT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_OK);
    ASSERT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  }
  Installation scanner;
};

TEST_F(Commander, UnknownCodesAnswerCommandErrorAndReachNothing) {
  scanner.clearDriverLog();
  for (uint16_t code : {uint16_t{30}, uint16_t{47}, uint16_t{200}, uint16_t{0xFFFF}}) {
    const ScannerCommand command = scanner.send(code, nullptr, 77);
    EXPECT_EQ(command.status, SCAN_ERR_COMMAND) << code;
    EXPECT_EQ(command.value, 77u);
    EXPECT_EQ(command.result, 0u);
  }
  EXPECT_TRUE(scanner.operations().empty());
}

TEST_F(Commander, NestedOpensReachTheDriverOnceAndTheLastCloseClosesIt) {
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_OPEN_DEVICE), 1u);
  EXPECT_EQ(scanner.callsOf(DRV_GET_DEVICE_RECORD), 1u);
  EXPECT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_CLOSE_DEVICE), 0u);
  EXPECT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_CLOSE_DEVICE), 1u);
  EXPECT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);  // unmatched: nothing happens
  EXPECT_EQ(scanner.callsOf(DRV_CLOSE_DEVICE), 1u);
}

TEST_F(Commander, RefusedOpenCountsUntilTheCallersClose) {
  scanner.driver().status[DRV_OPEN_DEVICE] = 3;
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_ERR_OPEN);
  EXPECT_EQ(scanner.callsOf(DRV_GET_DEVICE_RECORD), 0u);
  EXPECT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_CLOSE_DEVICE), 1u);
  scanner.driver().status[DRV_OPEN_DEVICE] = 0;
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_OPEN_DEVICE), 2u);
}

TEST_F(Commander, FailedMapAllocationFailsTheOpenAndClosesTheDevice) {
  winport_test_fail_allocation(1);
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_ERR_RESOURCE);
  winport_test_fail_allocation(0);
  EXPECT_EQ(scanner.callsOf(DRV_CLOSE_DEVICE), 1u);
  // The maps are not marked ready: the next first open loads them.
  EXPECT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);
  scanner.clearDriverLog();
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_GET_MAP_INFO), 1u);
}

TEST_F(Commander, LockTwiceAnswersLockedAndKeepsTheHandle) {
  scanner.openAndLock();
  EXPECT_EQ(scanner.session().lockHandle, 0x1234);
  ScannerCommand second = scanner.send(CMD_LOCK);
  EXPECT_EQ(second.status, SCAN_ERR_LOCKED);
  EXPECT_EQ(scanner.callsOf(DRV_LOCK), 1u);
}

TEST_F(Commander, RefusedLockIsGivenBack) {
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  scanner.driver().status[DRV_LOCK] = -30;
  EXPECT_EQ(scanner.send(CMD_LOCK).status, -30);
  scanner.driver().status[DRV_LOCK] = 0;
  EXPECT_EQ(scanner.send(CMD_LOCK).status, SCAN_OK);
}

// Gate L: without the lock or with another handle -9, and the driver is not reached.
TEST_F(Commander, OwnerGateRefusesWithoutTheCurrentHandle) {
  const uint16_t ownerCommands[] = {CMD_FORWARD_11, CMD_FORWARD_12, CMD_FORWARD_13, CMD_FORWARD_14,
                                    CMD_SET_PARAMETERS, CMD_UNLOCK, CMD_REINITIALIZE,
                                    CMD_FORWARD_29, CMD_FORWARD_34, CMD_FORWARD_45};
  uint8_t buffer[256] = {};
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  scanner.clearDriverLog();
  for (uint16_t code : ownerCommands) EXPECT_EQ(scanner.send(code, buffer).status, SCAN_ERR_NOT_OWNER) << code;
  scanner.session().code = CMD_LOCK;
  scanner.send(scanner.session());
  scanner.clearDriverLog();
  for (uint16_t code : ownerCommands) {
    ScannerCommand command{};
    command.code = code;
    command.data = buffer;
    command.lockHandle = 0x4321;
    scanner.send(command);
    EXPECT_EQ(command.status, SCAN_ERR_NOT_OWNER) << code;
  }
  EXPECT_TRUE(scanner.operations().empty());
}

// Gate O runs when unlocked, refuses another application's handle when locked.
TEST_F(Commander, OwnerIfLockedGate) {
  uint8_t buffer[256] = {};
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  EXPECT_EQ(scanner.send(CMD_CLEAN, buffer).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_CLEAN), 1u);
  scanner.openAndLock();
  ScannerCommand stranger{};
  stranger.code = CMD_CLEAN;
  stranger.lockHandle = 1;
  scanner.send(stranger);
  EXPECT_EQ(stranger.status, SCAN_ERR_NOT_OWNER);
  EXPECT_EQ(scanner.send(CMD_CLEAN, buffer).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_CLEAN), 2u);
}

TEST_F(Commander, PreparedAndScanningGates) {
  scanner.openAndLock();
  uint8_t buffer[64];
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_ERR_STATE);
  EXPECT_EQ(scanner.send(CMD_GET_BUFFER_SIZE).status, SCAN_ERR_STATE);
  EXPECT_EQ(scanner.send(CMD_FORWARD_41).status, SCAN_ERR_STATE);
  EXPECT_EQ(scanner.send(CMD_READ_LINES, buffer, sizeof(buffer)).status, SCAN_ERR_STATE);
  EXPECT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_ERR_STATE);
  ScannerCommand stranger{};
  stranger.code = CMD_START_SCAN;
  stranger.lockHandle = 1;
  scanner.send(stranger);
  EXPECT_EQ(stranger.status, SCAN_ERR_NOT_OWNER);
  EXPECT_EQ(scanner.callsOf(DRV_START_SCAN), 0u);
}

TEST_F(Commander, CalibrateWithAnotherHandleDoesNothingAndReportsSuccess) {
  scanner.openAndLock();
  scanner.driver().status[DRV_CALIBRATE] = -12;
  ScannerCommand stranger{};
  stranger.code = CMD_CALIBRATE;
  stranger.lockHandle = 1;
  scanner.send(stranger);
  EXPECT_EQ(stranger.status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_CALIBRATE), 0u);
  EXPECT_EQ(scanner.send(CMD_CALIBRATE).status, -12);
  EXPECT_EQ(scanner.callsOf(DRV_CALIBRATE), 1u);
}

TEST_F(Commander, Forward10ReportsSuccessWheneverLocked) {
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  scanner.driver().status[DRV_FORWARD_9] = -6;
  EXPECT_EQ(scanner.send(CMD_FORWARD_10).status, -6);
  scanner.openAndLock();
  EXPECT_EQ(scanner.send(CMD_FORWARD_10).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_FORWARD_9), 2u);
  ScannerCommand stranger{};
  stranger.code = CMD_FORWARD_10;
  stranger.lockHandle = 1;
  scanner.send(stranger);
  EXPECT_EQ(stranger.status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_FORWARD_9), 2u);
}

TEST_F(Commander, HalftonePatterns) {
  uint8_t pattern[64];
  ASSERT_EQ(scanner.send(CMD_GET_HALFTONE, pattern, 0).status, SCAN_OK);
  EXPECT_EQ(pattern[0], 165);
  EXPECT_EQ(pattern[63], 208);
  ASSERT_EQ(scanner.send(CMD_GET_HALFTONE, pattern, 1).status, SCAN_OK);
  EXPECT_EQ(pattern[9], 208);
  ASSERT_EQ(scanner.send(CMD_GET_HALFTONE, pattern, 2).status, SCAN_OK);
  EXPECT_EQ(pattern[21], 218);
  ASSERT_EQ(scanner.send(CMD_GET_HALFTONE, pattern, 3).status, SCAN_OK);
  EXPECT_EQ(pattern[56], 81);
  std::memset(pattern, 0xEE, sizeof(pattern));
  EXPECT_EQ(scanner.send(CMD_GET_HALFTONE, pattern, 4).status, SCAN_ERR_PARAM);
  EXPECT_EQ(pattern[0], 0xEE);
  // Only the low half names the pattern.
  EXPECT_EQ(scanner.send(CMD_GET_HALFTONE, pattern, MakeValue(3, 9)).status, SCAN_OK);
  EXPECT_EQ(pattern[0], 208);
}

TEST_F(Commander, Forward11CapsItsValueAndWritesItBack) {
  scanner.openAndLock();
  ScannerCommand& command = scanner.session();
  command.code = CMD_FORWARD_11;
  command.value = 7;
  scanner.send(command);
  EXPECT_EQ(command.status, SCAN_OK);
  EXPECT_EQ(command.value, 0u);
  const fake::DriverState& driver = scanner.driver();
  EXPECT_EQ(driver.log[driver.logCount - 1].operation, DRV_FORWARD_10);
  EXPECT_EQ(driver.log[driver.logCount - 1].param, 0u);
  command.value = 3;
  scanner.send(command);
  EXPECT_EQ(driver.log[driver.logCount - 1].param, 3u);
}

// Each forwarded command: its operation, the param and data it sets, the result it takes.
TEST_F(Commander, ForwardedCommandsSetThePacketAsTheirTableSays) {
  struct Case { uint16_t code; uint16_t op; int paramKind; bool data; bool result; };
  // paramKind: 0 keep, 1 zero, 2 value
  const Case cases[] = {
      {CMD_GET_SCAN_LIMITS, 5, 2, true, false}, {CMD_FORWARD_12, 11, 0, false, false},
      {CMD_FORWARD_13, 12, 0, false, false},    {CMD_FORWARD_14, 13, 0, false, false},
      {CMD_FORWARD_21, 18, 2, true, false},     {CMD_FORWARD_25, 30, 2, true, false},
      {CMD_FORWARD_26, 31, 0, false, true},     {CMD_FORWARD_27, 32, 1, true, false},
      {CMD_FORWARD_28, 33, 2, false, false},    {CMD_FORWARD_29, 34, 2, true, false},
      {CMD_FORWARD_31, 42, 1, true, true},      {CMD_FORWARD_32, 35, 1, true, false},
      {CMD_FORWARD_34, 37, 2, true, false},     {CMD_FORWARD_35, 38, 1, true, false},
      {CMD_FORWARD_36, 39, 0, false, false},    {CMD_FORWARD_37, 40, 0, false, false},
      {CMD_FORWARD_38, 41, 0, false, false},    {CMD_FORWARD_39, 42, 0, false, false},
      {CMD_CLEAN, 45, 1, true, false},          {CMD_FORWARD_44, 46, 0, false, false},
      {CMD_FORWARD_46, 48, 0, false, false},
  };
  scanner.openAndLock();
  fake::DriverState& driver = scanner.driver();
  uint8_t buffer[64] = {};
  uint8_t previousData[4] = {};
  for (const Case& test : cases) {
    // A call that leaves known values in the packet.
    ScannerCommand primer = scanner.send(CMD_FORWARD_21, previousData, 0xCAFE);
    ASSERT_EQ(primer.status, SCAN_OK);
    driver.reply[test.op] = 0xBEEF;
    ScannerCommand command = scanner.send(test.code, buffer, MakeValue(0x1111, 0x2222));
    EXPECT_EQ(command.status, SCAN_OK) << test.code;
    const fake::DriverCall& call = driver.log[driver.logCount - 1];
    EXPECT_EQ(call.operation, test.op) << test.code;
    const uint32_t expectedParam = test.paramKind == 0 ? 0xCAFEu : test.paramKind == 1 ? 0u : 0x22221111u;
    EXPECT_EQ(call.param, expectedParam) << test.code;
    EXPECT_EQ(call.data, test.data ? static_cast<void*>(buffer) : static_cast<void*>(previousData))
        << test.code;
    EXPECT_EQ(command.result, test.result ? 0xBEEFu : 0u) << test.code;
    driver.reply[test.op] = 0;
  }
  // A failed operation leaves result alone.
  driver.status[DRV_FORWARD_31] = -4;
  driver.reply[DRV_FORWARD_31] = 99;
  EXPECT_EQ(scanner.send(CMD_FORWARD_26).result, 0u);
}

TEST_F(Commander, Forward33ComposesItsParamAndTakesTheResultOnSuccessOrResourceFailure) {
  scanner.openAndLock();
  fake::DriverState& driver = scanner.driver();
  uint8_t buffer[8];
  scanner.send(CMD_FORWARD_21, nullptr, 0xAB000000u | 0x123456u);
  driver.reply[DRV_FORWARD_36] = 55;
  ScannerCommand command = scanner.send(CMD_FORWARD_33, buffer, MakeValue(0x7788, 0x99CC));
  EXPECT_EQ(driver.log[driver.logCount - 1].param, 0xABCC7788u);
  EXPECT_EQ(command.result, 55u);
  driver.status[DRV_FORWARD_36] = SCAN_ERR_RESOURCE;
  EXPECT_EQ(scanner.send(CMD_FORWARD_33, buffer, 1).result, 55u);
  driver.status[DRV_FORWARD_36] = -5;
  EXPECT_EQ(scanner.send(CMD_FORWARD_33, buffer, 1).result, 0u);
}

TEST_F(Commander, Forward45SendsTheWordAtOffset30) {
  scanner.openAndLock();
  uint8_t record[40] = {};
  record[30] = 0x34;
  record[31] = 0x12;
  EXPECT_EQ(scanner.send(CMD_FORWARD_45, record).status, SCAN_OK);
  const fake::DriverState& driver = scanner.driver();
  EXPECT_EQ(driver.log[driver.logCount - 1].operation, DRV_FORWARD_47);
  EXPECT_EQ(driver.log[driver.logCount - 1].param, 0x1234u);
  EXPECT_EQ(scanner.send(CMD_FORWARD_45, nullptr).status, SCAN_ERR_PARAM);
}

TEST_F(Commander, DeviceInfoMarksTheCallbackBitAndTheProductWord) {
  fake::DriverState& driver = scanner.driver();
  driver.device.capabilities = DEVCAP_KEEP_CALLBACK;
  driver.device.productWord = 0x7777;
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  driver.status[DRV_GET_DEVICE_RECORD] = -3;  // ignored: the status stays 0
  DeviceRecord record{};
  EXPECT_EQ(scanner.send(CMD_GET_DEVICE_INFO, &record).status, SCAN_OK);
  uint32_t word;
  std::memcpy(&word, reinterpret_cast<uint8_t*>(&record) + 12, sizeof(word));
  EXPECT_EQ(word & DEVICE_INFO_CALLBACK_BIT, DEVICE_INFO_CALLBACK_BIT);
  EXPECT_EQ(record.productWord, 1);
  driver.status[DRV_GET_DEVICE_RECORD] = 0;
  EXPECT_EQ(scanner.send(CMD_GET_DEVICE_INFO, &record).status, SCAN_OK);
  EXPECT_EQ(record.capabilities, DEVCAP_KEEP_CALLBACK);
  EXPECT_EQ(record.productWord, 1);
}

TEST_F(Commander, ProgressCallbackNeedsTheLock) {
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  EXPECT_EQ(scanner.send(CMD_SET_PROGRESS_CALLBACK).status, SCAN_ERR_STATE);
  scanner.openAndLock();
  ScannerCommand stranger{};
  stranger.code = CMD_SET_PROGRESS_CALLBACK;
  stranger.lockHandle = 1;
  scanner.send(stranger);
  EXPECT_EQ(stranger.status, SCAN_ERR_NOT_OWNER);
  EXPECT_EQ(scanner.send(CMD_SET_PROGRESS_CALLBACK).status, SCAN_OK);
}

TEST_F(Commander, UnlockDuringAScanEndsItInTheDriverFirstAndClearsEveryBit) {
  startScan();
  scanner.clearDriverLog();
  EXPECT_EQ(scanner.send(CMD_UNLOCK).status, SCAN_OK);
  EXPECT_EQ(scanner.operations(), (std::vector<uint16_t>{DRV_END_SCAN, DRV_UNLOCK}));
  uint8_t buffer[64];
  EXPECT_EQ(scanner.send(CMD_READ_LINES, buffer, sizeof(buffer)).status, SCAN_ERR_NOT_OWNER);
  // Locked afresh, nothing is prepared.
  EXPECT_EQ(scanner.send(CMD_LOCK).status, SCAN_OK);
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_ERR_STATE);
}

TEST_F(Commander, UnlockReportsTheDriverStatusAndUnlocksAnyway) {
  scanner.openAndLock();
  scanner.driver().status[DRV_UNLOCK] = -11;
  EXPECT_EQ(scanner.send(CMD_UNLOCK).status, -11);
  EXPECT_EQ(scanner.send(CMD_LOCK).status, SCAN_OK);
}

TEST_F(Commander, ReinitializeRunsTheInitialisationAgain) {
  scanner.openAndLock();
  scanner.clearDriverLog();
  uint8_t data[4];
  EXPECT_EQ(scanner.send(CMD_REINITIALIZE, data).status, SCAN_OK);
  EXPECT_EQ(scanner.operations(), (std::vector<uint16_t>{DRV_REINITIALIZE, DRV_GET_DEVICE_RECORD}));
  scanner.driver().status[DRV_REINITIALIZE] = -2;
  EXPECT_EQ(scanner.send(CMD_REINITIALIZE, data).status, -2);
  scanner.driver().status[DRV_REINITIALIZE] = 0;
  scanner.driver().status[DRV_GET_DEVICE_RECORD] = -1;
  EXPECT_EQ(scanner.send(CMD_REINITIALIZE, data).status, SCAN_ERR_RESOURCE);
}

}  // namespace
}  // namespace scantest
