// CMD_CHECK_FRAME and the checks of CMD_SET_PARAMETERS.
#include <gtest/gtest.h>

#include "ferrox_fixture.h"

namespace scantest {
namespace {

class ScanSetUp : public ::testing::Test {
 protected:
  void SetUp() override {
    scanner.driver().device.settingCount = 2;
    ASSERT_TRUE(scanner.load());
    scanner.openAndLock();
  }
  static ScanFrame Frame(uint16_t width = 300, uint16_t height = 300, uint16_t res = 300) {
    return ScanFrame{0, 0, 0, width, height, res, res, DATATYPE_GREY, 0, 0};
  }
  int16_t checkFrame(const ScanFrame& frame) {
    ScanGeometry geometry{};
    geometry.frame = frame;
    return scanner.send(CMD_CHECK_FRAME, &geometry).status;
  }
  int16_t setParameters(const ScanFrame& frame) {
    ScanParameters params{};
    params.frame = frame;
    params.mapMode = MAP_MODE_BUILT_IN;
    return scanner.send(CMD_SET_PARAMETERS, &params).status;
  }
  Installation scanner;
};

TEST_F(ScanSetUp, FramesTooSmallOrOutsideTheBedAreRefused) {
  EXPECT_EQ(checkFrame(Frame()), SCAN_OK);
  EXPECT_EQ(checkFrame(Frame(0, 300)), SCAN_ERR_PARAM);
  EXPECT_EQ(checkFrame(Frame(2, 300, 149)), SCAN_ERR_PARAM);  // 2 x 149 < 300
  EXPECT_EQ(checkFrame(Frame(2, 300, 150)), SCAN_OK);
  EXPECT_EQ(checkFrame(Frame(2551, 300)), SCAN_ERR_PARAM);
  ScanFrame shifted = Frame(2500, 300);
  shifted.left = 51;
  EXPECT_EQ(checkFrame(shifted), SCAN_ERR_PARAM);
  shifted.left = 50;
  EXPECT_EQ(checkFrame(shifted), SCAN_OK);
  EXPECT_EQ(checkFrame(Frame(300, 300, 2401)), SCAN_ERR_PARAM);
  ScanFrame tall = Frame(300, 3508);
  tall.top = 1;
  EXPECT_EQ(checkFrame(tall), SCAN_ERR_PARAM);
}

TEST_F(ScanSetUp, CheckFrameAcceptsASettingIndexEqualToTheCountSetParametersDoesNot) {
  ScanFrame frame = Frame();
  frame.settingIndex = 2;
  EXPECT_EQ(checkFrame(frame), SCAN_OK);
  EXPECT_EQ(setParameters(frame), SCAN_ERR_PARAM);
  frame.settingIndex = 3;
  EXPECT_EQ(checkFrame(frame), SCAN_ERR_PARAM);
}

TEST_F(ScanSetUp, FailingLimitsQueryFailsTheFrameCheck) {
  scanner.driver().status[DRV_GET_LIMITS] = -6;
  EXPECT_EQ(checkFrame(Frame()), SCAN_ERR_PARAM);
  EXPECT_EQ(scanner.callsOf(DRV_GET_GEOMETRY), 0u);
}

TEST_F(ScanSetUp, CheckFrameReportsTheGeometryStatusAndSendsTheSourceAndSetting) {
  scanner.driver().status[DRV_GET_GEOMETRY] = 9;
  ScanFrame frame = Frame();
  frame.flags = SCANFLAG_NEGATIVE | SCANFLAG_ADF;
  frame.settingIndex = 1;
  EXPECT_EQ(checkFrame(frame), 9);
  const fake::DriverState& driver = scanner.driver();
  EXPECT_EQ(driver.log[driver.logCount - 2].operation, DRV_GET_LIMITS);
  EXPECT_EQ(driver.log[driver.logCount - 2].param, 1u | (uint32_t{SOURCE_NEGATIVE} << 16));
}

TEST_F(ScanSetUp, BitCodesAndDataTypes) {
  scanner.driver().device.bitCodeMask = 0x5;  // codes 1 and 3
  ASSERT_EQ(scanner.send(CMD_REINITIALIZE).status, SCAN_OK);
  ScanFrame frame = Frame();
  for (uint16_t code : {0, 1, 3}) {
    frame.bitCode = code;
    EXPECT_EQ(checkFrame(frame), SCAN_OK) << code;
    EXPECT_EQ(setParameters(frame), SCAN_OK) << code;
  }
  for (uint16_t code : {2, 4, 33, 0xFFFF}) {
    frame.bitCode = code;
    EXPECT_EQ(checkFrame(frame), SCAN_ERR_PARAM) << code;
    EXPECT_EQ(setParameters(frame), SCAN_ERR_PARAM) << code;
  }
  frame.bitCode = 0;
  frame.dataType = 5;
  EXPECT_EQ(checkFrame(frame), SCAN_ERR_PARAM);
  EXPECT_EQ(setParameters(frame), SCAN_ERR_PARAM);
}

TEST_F(ScanSetUp, RestrictedModeAllowsOnlyPlainNativeGreyOrColour) {
  ScanFrame frame = Frame();
  frame.flags = SCANFLAG_RESTRICTED;
  EXPECT_EQ(setParameters(frame), SCAN_OK);
  for (uint32_t flag : {SCANFLAG_0x8, SCANFLAG_COLOUR_ONLY, SCANFLAG_BOTTOM_UP, SCANFLAG_0x40,
                        SCANFLAG_0x8000}) {
    frame.flags = SCANFLAG_RESTRICTED | flag;
    EXPECT_EQ(setParameters(frame), SCAN_ERR_PARAM) << flag;
  }
  frame.flags = SCANFLAG_RESTRICTED;
  frame.xResolution = 1200;
  EXPECT_EQ(setParameters(frame), SCAN_ERR_PARAM);
  frame.xResolution = 300;
  frame.dataType = DATATYPE_COLOUR16;
  EXPECT_EQ(setParameters(frame), SCAN_ERR_PARAM);
  frame.dataType = DATATYPE_COLOUR;
  EXPECT_EQ(setParameters(frame), SCAN_OK);
}

TEST_F(ScanSetUp, FailedSetUpKeepsThePreviousPreparation) {
  EXPECT_EQ(setParameters(Frame()), SCAN_OK);
  EXPECT_EQ(setParameters(Frame(0, 0)), SCAN_ERR_PARAM);
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
}

TEST_F(ScanSetUp, SettingIsSentOnlyWhenItChanges) {
  scanner.clearDriverLog();
  EXPECT_EQ(setParameters(Frame()), SCAN_OK);
  EXPECT_EQ(setParameters(Frame()), SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_SELECT_SETTING), 1u);
  ScanFrame other = Frame();
  other.settingIndex = 1;
  EXPECT_EQ(setParameters(other), SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_SELECT_SETTING), 2u);
}

TEST_F(ScanSetUp, HalftoneSendsTheApplicationsPattern) {
  uint8_t pattern[64] = {1, 2, 3};
  ScanParameters params{};
  params.frame = Frame();
  params.frame.dataType = DATATYPE_HALFTONE;
  params.frame.flags = SCANFLAG_COLOUR_ONLY;
  params.mapMode = MAP_MODE_BUILT_IN;
  params.halftonePattern = pattern;
  ASSERT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_OK);
  const fake::DriverState& driver = scanner.driver();
  bool sent = false;
  for (uint32_t i = 0; i < driver.logCount; ++i)
    if (driver.log[i].operation == DRV_SET_HALFTONE) sent = driver.log[i].data == pattern;
  EXPECT_TRUE(sent);
  EXPECT_EQ(driver.lastParameters.frame.flags & SCANFLAG_COLOUR_ONLY, 0u);
  params.halftonePattern = nullptr;
  EXPECT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_ERR_PARAM);
}

}  // namespace
}  // namespace scantest
