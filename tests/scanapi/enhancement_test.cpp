// Resolution enhancement: the spool file, the delivered lines against a
// computation of their own from the device lines, line art, bottom-up
// delivery, early stops, small buffers, and the converters at their limits.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "enhancement_fixture.h"

namespace scantest {
namespace {

TEST_F(Enhancement, OneAboveTheNativeResolutionTurnsItOn) {
  ScanParameters params = request(DATATYPE_GREY, 601, 300, 150, 60, SCANFLAG_BOTTOM_UP);
  start(params);
  const ScanParameters& sent = scanner.driver().lastParameters;
  EXPECT_EQ(sent.frame.xResolution, 600);
  EXPECT_EQ(sent.frame.yResolution, 300);
  EXPECT_EQ(sent.frame.flags & SCANFLAG_BOTTOM_UP, 0u);
  ScannerCommand query = scanner.send(CMD_GET_BUFFER_SIZE);
  EXPECT_EQ(query.result, 4u * (150u * 601 / 300));
}

TEST_F(Enhancement, GreyInBothDirectionsMatchesTheReference) {
  ScanParameters params = request(DATATYPE_GREY, 1200, 1200);
  start(params);
  EXPECT_TRUE(spoolExists() == false);  // made by the first read
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_GREY, 1200, 1200).frame);
  const ScanGeometry hw = fake::GeometryOf(scanner.driver().lastParameters.frame);
  const std::vector<Line> lines = readAll(out.bytesPerLine, 7);
  ASSERT_EQ(lines.size(), out.lineCount);
  const std::vector<Line> vertical =
      VerticalReference(deviceLines(hw, hw.lineCount), out.lineCount, true, 1200, 600, false);
  for (uint32_t y = 0; y < out.lineCount; ++y)
    ASSERT_EQ(lines[y], HorizontalReference(vertical[y], hw.pixelsPerLine, out.pixelsPerLine, 1, 1,
                                            out.bytesPerLine)) << y;
  EXPECT_TRUE(spoolOpen());
  EXPECT_EQ(std::filesystem::exists(spoolPath()), platform::kOpenSpoolKeepsItsName);
  EXPECT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_OK);
  EXPECT_FALSE(spoolExists());
}

TEST_F(Enhancement, VerticalOnlyCopiesLinesAndUnevenRatiosRepeatUnevenly) {
  ScanParameters params = request(DATATYPE_COLOUR, 300, 1000, 40, 30);
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_COLOUR, 300, 1000, 40, 30).frame);
  const ScanGeometry hw = fake::GeometryOf(scanner.driver().lastParameters.frame);
  const std::vector<Line> lines = readAll(out.bytesPerLine, 3);
  ASSERT_EQ(lines.size(), out.lineCount);
  EXPECT_EQ(lines, VerticalReference(deviceLines(hw, hw.lineCount), out.lineCount, true, 1000, 600, false));
}

TEST_F(Enhancement, SixteenBitColourMatchesTheReference) {
  ScanParameters params = request(DATATYPE_COLOUR16, 2400, 900, 20, 10);
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_COLOUR16, 2400, 900, 20, 10).frame);
  const ScanGeometry hw = fake::GeometryOf(scanner.driver().lastParameters.frame);
  const std::vector<Line> lines = readAll(out.bytesPerLine, 2);
  ASSERT_EQ(lines.size(), out.lineCount);
  const std::vector<Line> vertical =
      VerticalReference(deviceLines(hw, hw.lineCount), out.lineCount, true, 900, 600, true);
  for (uint32_t y = 0; y < out.lineCount; ++y)
    ASSERT_EQ(lines[y], HorizontalReference(vertical[y], hw.pixelsPerLine, out.pixelsPerLine, 3, 2,
                                            out.bytesPerLine)) << y;
}

TEST_F(Enhancement, LineArtIsScannedAsGreyAndThresholded) {
  ScanParameters params = request(DATATYPE_LINEART, 1200, 600, 150, 20);
  params.brightness = 28;  // threshold 100
  start(params);
  const ScanParameters& sent = scanner.driver().lastParameters;
  EXPECT_EQ(sent.frame.dataType, DATATYPE_GREY);
  EXPECT_EQ(sent.frame.flags & SCANFLAG_LINEART_AS_GREY, SCANFLAG_LINEART_AS_GREY);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_LINEART, 1200, 600, 150, 20).frame);
  const ScanGeometry hw = fake::GeometryOf(sent.frame);
  const std::vector<Line> lines = readAll(out.bytesPerLine, 4);
  ASSERT_EQ(lines.size(), out.lineCount);
  for (uint32_t y = 0; y < out.lineCount; ++y)
    ASSERT_EQ(lines[y], LineArtReference(DeviceLine(hw, y), hw.pixelsPerLine, out.pixelsPerLine, 1200,
                                         600, 100, out.bytesPerLine)) << y;
}

TEST_F(Enhancement, BottomUpPutsTheFirstLineAtTheEndOfTheBuffer) {
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 20, SCANFLAG_BOTTOM_UP);
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_GREY, 1200, 600, 150, 20).frame);
  const ScanGeometry hw = fake::GeometryOf(scanner.driver().lastParameters.frame);
  std::vector<uint8_t> buffer(out.bytesPerLine * 3);
  ScannerCommand read = scanner.send(CMD_READ_LINES, buffer.data(), static_cast<uint32_t>(buffer.size()));
  ASSERT_EQ(read.result, 3u);
  for (uint32_t y = 0; y < 3; ++y) {
    const Line expected = HorizontalReference(DeviceLine(hw, y), hw.pixelsPerLine, out.pixelsPerLine, 1, 1,
                                              out.bytesPerLine);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin() + (2 - y) * out.bytesPerLine)) << y;
  }
}

// Spooling reads the device through the caller's buffer whatever its size: a
// driver that refuses one too small for a device line ends it with -4.
TEST_F(Enhancement, SpoolingIntoABufferTheDriverRefusesFails) {
  scanner.driver().shortBufferStatus = -31;
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 20);
  start(params);
  uint8_t tiny[16];
  const ScannerCommand read = scanner.send(CMD_READ_LINES, tiny, sizeof(tiny));  // below a device line
  EXPECT_EQ(read.status, SCAN_ERR_RESOURCE);
  EXPECT_EQ(scanner.callsOf(DRV_READ_LINES), 1u);
  EXPECT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_OK);
  EXPECT_FALSE(spoolExists());
}

TEST_F(Enhancement, SmallBuffersGetNoLinesAndNothingIsLost) {
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 20);
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_GREY, 1200, 600, 150, 20).frame);
  std::vector<uint8_t> oneDeviceLine(out.bytesPerLine - 1);  // a device line fits, an output line does not
  ScannerCommand read = scanner.send(CMD_READ_LINES, oneDeviceLine.data(), static_cast<uint32_t>(oneDeviceLine.size()));
  EXPECT_EQ(read.status, SCAN_OK);
  EXPECT_EQ(read.result, 0u);
  EXPECT_EQ(readAll(out.bytesPerLine, 5).size(), out.lineCount);
}

TEST_F(Enhancement, EarlyDeviceStopCutsTheOutputInProportion) {
  scanner.driver().stopAfterLines = 7;
  ScanParameters params = request(DATATYPE_GREY, 1200, 1000, 150, 60);
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_GREY, 1200, 1000, 150, 60).frame);
  EXPECT_EQ(readAll(out.bytesPerLine, 4).size(), 1000u * 7 / 600);
}

// Progress functions in the convention the library calls them with.
std::vector<std::pair<uint32_t, uint32_t>> g_events;
int16_t CALLBACK RecordEvent(uint32_t event, uint32_t amount) {
  g_events.emplace_back(event, amount);
  return 0;
}

std::vector<int16_t> g_answers;
size_t g_calls;
int16_t CALLBACK AnswerSpoolEvents(uint32_t event, uint32_t) {
  if (event != PROGRESS_SPOOLED) return 0;
  return g_calls < g_answers.size() ? g_answers[g_calls++] : 0;
}

TEST_F(Enhancement, ProgressEventsCountTheDeviceLines) {
  g_events.clear();
  scanner.driver().device.capabilities = DEVCAP_KEEP_CALLBACK;
  ASSERT_EQ(scanner.send(CMD_REINITIALIZE).status, SCAN_OK);
  ScannerCommand& session = scanner.session();
  session.code = CMD_SET_PROGRESS_CALLBACK;
  session.data = reinterpret_cast<void*>(&RecordEvent);
  scanner.send(session);
  scanner.driver().linesPerRead = 4;
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 10);  // 20 device lines
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_GREY, 1200, 600, 150, 10).frame);
  readAll(out.bytesPerLine, 30);
  std::vector<std::pair<uint32_t, uint32_t>> expected{{PROGRESS_SCAN_BEGINS, 20}};
  for (int i = 0; i < 5; ++i) expected.emplace_back(PROGRESS_SPOOLED, 4);
  EXPECT_EQ(g_events, expected);
}

// Event 5 answers: 0 keeps a chunk, another positive value (not 7) drops it
// and spooling reads on; 7 or a negative value ends the read with it.
TEST_F(Enhancement, SpoolEventAnswersKeepDropOrStop) {
  scanner.driver().device.capabilities = DEVCAP_KEEP_CALLBACK;
  ASSERT_EQ(scanner.send(CMD_REINITIALIZE).status, SCAN_OK);
  ScannerCommand& session = scanner.session();
  session.code = CMD_SET_PROGRESS_CALLBACK;
  session.data = reinterpret_cast<void*>(&AnswerSpoolEvents);
  scanner.send(session);
  scanner.driver().linesPerRead = 4;
  const ScanParameters wanted = request(DATATYPE_GREY, 600, 1200, 150, 10);  // 20 device lines
  const ScanGeometry out = fake::GeometryOf(wanted.frame);
  struct Case {
    std::vector<int16_t> answers;
    int16_t firstStatus;
    uint32_t spooledLines;  // device lines kept: the output is cut in proportion
  };
  const Case cases[] = {
      {{0, 3, 0, 1, 0}, SCAN_OK, 12},   // chunks 2 and 4 dropped
      {{0, 7}, 7, 0},
      {{-2}, -2, 0},
      {{0, 1, 0, 0, 0, 9}, 9, 16},      // lines remain after a drop: the 0-line event's answer is returned
  };
  for (const Case& c : cases) {
    g_answers = c.answers;
    g_calls = 0;
    ScanParameters params = wanted;
    start(params);
    std::vector<uint8_t> buffer(size_t{out.bytesPerLine} * 64);
    const ScannerCommand read = scanner.send(CMD_READ_LINES, buffer.data(), static_cast<uint32_t>(buffer.size()));
    EXPECT_EQ(read.status, c.firstStatus) << c.answers.size();
    if (c.firstStatus == SCAN_OK) {
      EXPECT_EQ(read.result, 1200u * c.spooledLines / 600);
      // Each spooled line is delivered twice, the second time as itself:
      // output 9 is spooled line 4, which is device line 8 (4-7 were dropped).
      const Line ninth(buffer.begin() + 9 * out.bytesPerLine, buffer.begin() + 10 * out.bytesPerLine);
      EXPECT_EQ(ninth, DeviceLine(out, 8));
    }
    ASSERT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_OK);
  }
}

TEST_F(Enhancement, UnlockDuringAScanRemovesTheSpoolFile) {
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 10);
  start(params);
  std::vector<uint8_t> buffer(4096);
  ASSERT_EQ(scanner.send(CMD_READ_LINES, buffer.data(), 4096).status, SCAN_OK);
  ASSERT_TRUE(spoolExists());
  EXPECT_EQ(scanner.send(CMD_UNLOCK).status, SCAN_OK);
  EXPECT_FALSE(spoolExists());
}

TEST_F(Enhancement, UnloadingDuringAScanRemovesTheSpoolFile) {
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 10);
  start(params);
  std::vector<uint8_t> buffer(4096);
  ASSERT_EQ(scanner.send(CMD_READ_LINES, buffer.data(), 4096).status, SCAN_OK);
  ASSERT_TRUE(spoolExists());
  scanner.unload();
  EXPECT_FALSE(spoolExists());
}

TEST_F(Enhancement, SpoolThatCannotBeCreatedFailsWithNothingLeft) {
  std::filesystem::create_directory(spoolPath());  // the name is taken by a folder
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 10);
  start(params);
  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(scanner.send(CMD_READ_LINES, buffer.data(), 4096).status, SCAN_ERR_RESOURCE);
  std::filesystem::remove(spoolPath());
  winport_test_fail_allocation(1);  // the two-line buffer
  EXPECT_EQ(scanner.send(CMD_READ_LINES, buffer.data(), 4096).status, SCAN_ERR_RESOURCE);
  winport_test_fail_allocation(0);
  EXPECT_FALSE(spoolExists());
}

TEST_F(Enhancement, HalftoneAboveTheNativeResolutionIsRefused) {
  uint8_t pattern[64] = {};
  ScanParameters params = request(DATATYPE_HALFTONE, 1200, 600);
  params.halftonePattern = pattern;
  EXPECT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_ERR_PARAM);
  params.frame.xResolution = 600;
  EXPECT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_OK);
}

TEST_F(Enhancement, SecondScanOfTheSameSetUpSpoolsAfresh) {
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 10);
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_GREY, 1200, 600, 150, 10).frame);
  const std::vector<Line> first = readAll(out.bytesPerLine, 8);
  ASSERT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_OK);
  scanner.driver().linesDelivered = 0;  // the device scans the page again
  ASSERT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  EXPECT_EQ(readAll(out.bytesPerLine, 8), first);
}

// 48-bit colour at 4800 dpi across 8.5 in: 40,800 output pixels of samples
// up to 65,535, whose products with the pixel counts need more than 32 bits.
TEST_F(Enhancement, WideSixteenBitLinesInterpolateWithoutOverflow) {
  scanner.driver().limits.highestResolution = 4800;
  scanner.driver().fillLines = true;
  scanner.driver().fillByte = 0xFF;
  ScanParameters params = request(DATATYPE_COLOUR16, 4800, 600, 2550, 1);
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_COLOUR16, 4800, 600, 2550, 1).frame);
  const ScanGeometry hw = fake::GeometryOf(scanner.driver().lastParameters.frame);
  ASSERT_EQ(out.pixelsPerLine, 40800u);
  const std::vector<Line> lines = readAll(out.bytesPerLine, 1);
  ASSERT_EQ(lines.size(), out.lineCount);
  const Line white(hw.bytesPerLine, 0xFF);
  for (const Line& line : lines) {
    EXPECT_EQ(line, HorizontalReference(white, hw.pixelsPerLine, out.pixelsPerLine, 3, 2, out.bytesPerLine));
    for (size_t i = 0; i < line.size(); i += 2) ASSERT_GE(line[i] | line[i + 1] << 8, 65534) << i;
  }
}

}  // namespace
}  // namespace scantest
