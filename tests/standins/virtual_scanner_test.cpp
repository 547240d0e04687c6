// The virtual scanner through its export: records, scans of a known document,
// tone maps, bottom-up delivery, the feeder, fault injection and the trace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <memory>

#include "standin_fixture.h"
#include "virtscan/virtscan.h"
#include "winport/module.h"
#include "winport/system.h"

namespace {

using namespace standin_test;

class VirtualScannerTest : public ::testing::Test {
 protected:
  void configure(const KeyValues& values,
                 const std::string& parent = "Software\\Duzizaziz\\Ridezodu\\Scanners") {
    const std::string path = dir_.file("registry.reg");
    writeFile(path, registryText(values, parent));
    chmod(path.c_str(), 0644);
    env_.set("WINPORT_REGISTRY", path);
  }
  // Loads the driver and opens the device (which reads the configuration).
  std::unique_ptr<Driver> open() {
    auto driver = std::make_unique<Driver>();
    EXPECT_TRUE(*driver);
    if (*driver) {
      EXPECT_EQ(driver->call(DRV_OPEN_DEVICE), 0);
    }
    return driver;
  }
  // A key with the pattern picture as its document, at 300 dpi.
  KeyValues documentKey(const Picture& picture) {
    const std::string path = dir_.file("document.bmp");
    writeBytes(path, bmp24(picture, 300));
    KeyValues values;
    values.strings[virtscan::kValueDocument] = path;
    return values;
  }
  std::string file(const char* name) const { return dir_.file(name); }
  Environment env_;

 private:
  testsupport::TempDir dir_;
};

DeviceRecord deviceRecord(Driver& driver) {
  DeviceRecord record{};
  EXPECT_EQ(driver.call(DRV_GET_DEVICE_RECORD, 0, &record), 0);
  return record;
}

TEST_F(VirtualScannerTest, DefaultRecordsWhenTheKeySaysNothing) {
  configure({});
  auto driver = open();
  const DeviceRecord device = deviceRecord(*driver);
  EXPECT_EQ(device.highestDataType, 4);
  EXPECT_EQ(device.bitCodeMask, 0xFFFFFFFFu);
  EXPECT_EQ(device.capabilities, 0);
  EXPECT_EQ(device.settingCount, 1);
  EXPECT_EQ(device.mapsFlag, 0);
  LimitsRecord limits{};
  ASSERT_EQ(driver->call(DRV_GET_LIMITS, 0, &limits), 0);
  EXPECT_EQ(limits.highestResolution, 2400);
  EXPECT_EQ(limits.nativeHorizontal, 600);
  EXPECT_EQ(limits.nativeVertical, 600);
  EXPECT_EQ(limits.widthLimit, 2550);
  EXPECT_EQ(limits.heightLimit, 3508);
  // No film and no feeder unless configured.
  for (uint32_t source : {SOURCE_POSITIVE, SOURCE_NEGATIVE, SOURCE_ADF}) {
    EXPECT_EQ(driver->call(DRV_GET_LIMITS, source << 16, &limits), virtscan::kStatusBadRequest);
  }
  MapInfo maps{};
  ASSERT_EQ(driver->call(DRV_GET_MAP_INFO, 0, &maps), 0);
  EXPECT_EQ(maps.largestValue, 255);
  EXPECT_EQ(maps.channelCount, 3);
  EXPECT_EQ(maps.bytesPerEntry, 1);
  EXPECT_EQ(maps.entryCount, 256);
  EXPECT_EQ(maps.greyChannel, 4);
}

TEST_F(VirtualScannerTest, ConfiguredRecords) {
  KeyValues values;
  values.dwords = {{virtscan::kValueCapabilities, 0xE1}, {virtscan::kValueBitCodes, 8},
                   {virtscan::kValueModel, 5},           {virtscan::kValueSettings, 3},
                   {virtscan::kValueHighestType, 2},     {virtscan::kValueNoToneMaps, 1},
                   {virtscan::kValueHighestDpi, 1200},   {virtscan::kValueNativeXDpi, 300},
                   {virtscan::kValueNativeYDpi, 600},    {virtscan::kValueWidthLimit, 2400},
                   {virtscan::kValueHeightLimit, 3000},  {virtscan::kValueGreyChannel, 5}};
  configure(values);
  auto driver = open();
  const DeviceRecord device = deviceRecord(*driver);
  EXPECT_EQ(device.highestDataType, 2);
  EXPECT_EQ(device.bitCodeMask, 8u);
  EXPECT_EQ(device.capabilities, 0xE1);
  EXPECT_EQ(device.modelByte & 0x0F, 5);
  EXPECT_EQ(device.mapsFlag, DEVICE_NO_TONE_MAPS);
  EXPECT_EQ(device.settingCount, 3);
  LimitsRecord limits{};
  ASSERT_EQ(driver->call(DRV_GET_LIMITS, 2u | SOURCE_ADF << 16, &limits), 0);
  EXPECT_EQ(limits.highestResolution, 1200);
  EXPECT_EQ(limits.nativeHorizontal, 300);
  EXPECT_EQ(limits.nativeVertical, 600);
  EXPECT_EQ(limits.widthLimit, 2400);
  EXPECT_EQ(limits.heightLimit, 3000);
  ASSERT_EQ(driver->call(DRV_GET_LIMITS, SOURCE_NEGATIVE << 16, &limits), 0);
  EXPECT_EQ(limits.widthLimit, virtscan::kFilmWidthLimit);
  EXPECT_EQ(limits.heightLimit, virtscan::kFilmHeightLimit);
  MapInfo maps{};
  ASSERT_EQ(driver->call(DRV_GET_MAP_INFO, 0, &maps), 0);
  EXPECT_EQ(maps.largestValue, 0xFFFF);
  EXPECT_EQ(maps.bytesPerEntry, 2);
  EXPECT_EQ(maps.greyChannel, 5);
}

TEST_F(VirtualScannerTest, KeyFoundUnderEitherParentOnlyWhenItNamesThisDriver) {
  KeyValues values;
  values.dwords[virtscan::kValueSettings] = 7;
  configure(values, "Software\\Scanner Information");
  EXPECT_EQ(deviceRecord(*open()).settingCount, 7);

  values.strings["Driver Pathname"] = file("other.dll");
  configure(values);
  EXPECT_EQ(deviceRecord(*open()).settingCount, 1);

  // A key named by the variable is taken whatever driver it names.
  env_.set(virtscan::kEnvKey, "Software\\Duzizaziz\\Ridezodu\\Scanners\\Test Scanner");
  EXPECT_EQ(deviceRecord(*open()).settingCount, 7);
}

TEST_F(VirtualScannerTest, GeometryOfAFrame) {
  configure({});
  auto driver = open();
  ScanGeometry geometry{};
  geometry.frame = makeFrame(0, 0, 2550, 3508, 600, DATATYPE_COLOUR16);
  ASSERT_EQ(driver->call(DRV_GET_GEOMETRY, 0, &geometry), 0);
  EXPECT_EQ(geometry.pixelsPerLine, 5100u);
  EXPECT_EQ(geometry.bytesPerLine, 30600u);
  EXPECT_EQ(geometry.lineCount, 7016u);
  geometry.frame = makeFrame(0, 0, 100, 10, 300, DATATYPE_LINEART);
  ASSERT_EQ(driver->call(DRV_GET_GEOMETRY, 0, &geometry), 0);
  EXPECT_EQ(geometry.bytesPerLine, 13u);
  geometry.frame.dataType = 5;
  EXPECT_EQ(driver->call(DRV_GET_GEOMETRY, 0, &geometry), virtscan::kStatusBadRequest);
}

TEST_F(VirtualScannerTest, ColourFrameSampledAtThreeResolutions) {
  const Picture picture = patternPicture(200, 150);
  configure(documentKey(picture));
  auto driver = open();
  // Frame 10, 20 (1/300 inch) on a 300 dpi document: document pixel 10, 20.
  for (uint16_t dpi : {150, 300, 600}) {
    SCOPED_TRACE(dpi);
    ASSERT_EQ(driver->start(makeFrame(10, 20, 40, 30, dpi, DATATYPE_COLOUR)), 0);
    const uint32_t width = 40u * dpi / 300;
    const uint32_t height = 30u * dpi / 300;
    int16_t status = 0;
    const std::vector<uint8_t> image = driver->readAll(width * 3, 7, &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(image.size(), uint64_t{width} * height * 3);
    for (uint32_t j = 0; j < height; ++j) {
      for (uint32_t i = 0; i < width; ++i) {
        const uint8_t* expected = picture.at(10 + i * 300 / dpi, 20 + j * 300 / dpi);
        ASSERT_EQ(0, std::memcmp(&image[(uint64_t{j} * width + i) * 3], expected, 3))
            << i << "," << j;
      }
    }
    EXPECT_EQ(driver->call(DRV_END_SCAN), 0);
  }
}

TEST_F(VirtualScannerTest, GreyFrameOnADocumentOfAnotherResolution) {
  const Picture picture = patternPicture(120, 100);
  KeyValues values = documentKey(picture);
  values.dwords[virtscan::kValueDocumentDpi] = 600;  // wins over the file's 300
  configure(values);
  auto driver = open();
  ASSERT_EQ(driver->start(makeFrame(5, 4, 50, 40, 300, DATATYPE_GREY)), 0);
  int16_t status = 0;
  const std::vector<uint8_t> image = driver->readAll(50, 64, &status);
  ASSERT_EQ(image.size(), 50u * 40u);
  for (uint32_t j = 0; j < 40; ++j) {
    for (uint32_t i = 0; i < 50; ++i) {
      ASSERT_EQ(image[j * 50 + i], greyOf(picture.at(10 + 2 * i, 8 + 2 * j))) << i << "," << j;
    }
  }
}

TEST_F(VirtualScannerTest, EachDirectionAtTheFilesOwnResolution) {
  const Picture picture = patternPicture(60, 60);
  writeBytes(file("document.bmp"), bmp24(picture, 300, 150));
  KeyValues values;
  values.strings[virtscan::kValueDocument] = file("document.bmp");
  configure(values);
  auto driver = open();
  ASSERT_EQ(driver->start(makeFrame(0, 0, 30, 60, 300, DATATYPE_GREY)), 0);
  int16_t status = 0;
  const std::vector<uint8_t> image = driver->readAll(30, 60, &status);
  ASSERT_EQ(image.size(), 30u * 60);
  for (uint32_t j = 0; j < 60; ++j) {
    for (uint32_t i = 0; i < 30; ++i) {
      ASSERT_EQ(image[j * 30 + i], greyOf(picture.at(i, j / 2))) << i << "," << j;
    }
  }
}

TEST_F(VirtualScannerTest, OutsideTheDocumentIsWhite) {
  const Picture picture = patternPicture(20, 20);
  configure(documentKey(picture));
  auto driver = open();
  ASSERT_EQ(driver->start(makeFrame(10, 0, 20, 1, 300, DATATYPE_GREY)), 0);
  std::vector<uint8_t> line(20);
  ASSERT_EQ(driver->call(DRV_READ_LINES, 20, line.data()), 0);
  EXPECT_EQ(line[9], greyOf(picture.at(19, 0)));
  EXPECT_EQ(line[10], 255);
  EXPECT_EQ(line[19], 255);
}

TEST_F(VirtualScannerTest, BottomUpDeliveryReversesEachBlock) {
  const Picture picture = patternPicture(64, 64);
  configure(documentKey(picture));
  auto driver = open();
  ASSERT_EQ(driver->start(makeFrame(0, 0, 16, 10, 300, DATATYPE_GREY)), 0);
  int16_t status = 0;
  const std::vector<uint8_t> topDown = driver->readAll(16, 4, &status);
  ASSERT_EQ(driver->start(makeFrame(0, 0, 16, 10, 300, DATATYPE_GREY, SCANFLAG_BOTTOM_UP)), 0);
  const std::vector<uint8_t> bottomUp = driver->readAll(16, 4, &status);
  ASSERT_EQ(topDown.size(), 160u);
  ASSERT_EQ(bottomUp.size(), 160u);
  // Blocks of 4, 4 and 2 lines, each with its top line last.
  const int order[10] = {3, 2, 1, 0, 7, 6, 5, 4, 9, 8};
  for (int slot = 0; slot < 10; ++slot) {
    EXPECT_EQ(0, std::memcmp(&bottomUp[slot * 16], &topDown[order[slot] * 16], 16)) << slot;
  }
}

TEST_F(VirtualScannerTest, DownloadedToneMapsAreApplied) {
  const Picture picture = patternPicture(32, 8);
  configure(documentKey(picture));
  auto driver = open();
  // One map: inverts, and serves every channel.
  std::vector<uint8_t> maps(3 * 256);
  for (int v = 0; v < 256; ++v) maps[v] = static_cast<uint8_t>(255 - v);
  ASSERT_EQ(driver->call(DRV_DOWNLOAD_MAPS, MAP_MODE_ONE, maps.data()), 0);
  ASSERT_EQ(driver->start(makeFrame(0, 0, 32, 8, 300, DATATYPE_GREY)), 0);
  int16_t status = 0;
  std::vector<uint8_t> grey = driver->readAll(32, 8, &status);
  for (uint32_t i = 0; i < 32 * 8; ++i) {
    ASSERT_EQ(grey[i], 255 - greyOf(picture.at(i % 32, i / 32))) << i;
  }
  // Three maps: red inverted, green constant, blue halved.
  for (int v = 0; v < 256; ++v) {
    maps[256 + v] = 77;
    maps[512 + v] = static_cast<uint8_t>(v / 2);
  }
  ASSERT_EQ(driver->call(DRV_DOWNLOAD_MAPS, MAP_MODE_THREE, maps.data()), 0);
  ASSERT_EQ(driver->start(makeFrame(0, 0, 32, 8, 300, DATATYPE_COLOUR)), 0);
  std::vector<uint8_t> colour = driver->readAll(96, 8, &status);
  for (uint32_t i = 0; i < 32 * 8; ++i) {
    const uint8_t* px = picture.at(i % 32, i / 32);
    ASSERT_EQ(colour[3 * i], 255 - px[0]) << i;
    ASSERT_EQ(colour[3 * i + 1], 77) << i;
    ASSERT_EQ(colour[3 * i + 2], px[2] / 2) << i;
  }
  EXPECT_EQ(driver->call(DRV_DOWNLOAD_MAPS, 2, maps.data()), virtscan::kStatusBadRequest);
}

TEST_F(VirtualScannerTest, SixteenBitSamplesThroughSixteenBitMaps) {
  const Picture picture = patternPicture(16, 4);
  KeyValues values = documentKey(picture);
  values.dwords[virtscan::kValueBitCodes] = 8;
  configure(values);
  auto driver = open();
  int16_t status = 0;
  ASSERT_EQ(driver->start(makeFrame(0, 0, 16, 4, 300, DATATYPE_COLOUR16)), 0);
  std::vector<uint8_t> identity = driver->readAll(96, 4, &status);
  ASSERT_EQ(identity.size(), 16u * 4 * 6);
  for (uint32_t s = 0; s < 16 * 4 * 3; ++s) {
    const uint32_t v = identity[2 * s] | identity[2 * s + 1] << 8;
    ASSERT_EQ(v, picture.rgb[s] * 257u) << s;
  }
  // A 65,536-entry map that halves: entry i = i / 2, looked up at v * 257.
  std::vector<uint16_t> map(65536);
  for (uint32_t i = 0; i < 65536; ++i) map[i] = static_cast<uint16_t>(i / 2);
  ASSERT_EQ(driver->call(DRV_DOWNLOAD_MAPS, MAP_MODE_ONE, map.data()), 0);
  ASSERT_EQ(driver->start(makeFrame(0, 0, 16, 4, 300, DATATYPE_COLOUR16)), 0);
  std::vector<uint8_t> halved = driver->readAll(96, 4, &status);
  for (uint32_t s = 0; s < 16 * 4 * 3; ++s) {
    const uint32_t v = halved[2 * s] | halved[2 * s + 1] << 8;
    ASSERT_EQ(v, picture.rgb[s] * 257u / 2) << s;
  }
}

TEST_F(VirtualScannerTest, LineArtAndHalftoneBits) {
  Picture picture{16, 8, std::vector<uint8_t>(16 * 8 * 3)};
  for (uint32_t i = 0; i < 16 * 8; ++i) {
    std::memset(&picture.rgb[3 * i], (i % 16) < 8 ? 20 : 200, 3);  // dark left, light right
  }
  configure(documentKey(picture));
  auto driver = open();
  int16_t status = 0;
  ASSERT_EQ(driver->start(makeFrame(0, 0, 16, 8, 300, DATATYPE_LINEART)), 0);
  std::vector<uint8_t> lineArt = driver->readAll(2, 8, &status);
  ASSERT_EQ(lineArt.size(), 16u);
  for (int row = 0; row < 8; ++row) {
    EXPECT_EQ(lineArt[2 * row], 0x00);
    EXPECT_EQ(lineArt[2 * row + 1], 0xFF);
  }
  // A pattern with thresholds 10 and 250 in a checkerboard: the dark half
  // follows it, the light half is set only where the threshold is 10.
  std::array<uint8_t, 64> pattern{};
  for (int i = 0; i < 64; ++i) pattern[i] = ((i / 8 + i % 8) % 2 == 0) ? 10 : 250;
  ASSERT_EQ(driver->call(DRV_SET_HALFTONE, 0, pattern.data()), 0);
  ASSERT_EQ(driver->start(makeFrame(0, 0, 16, 8, 300, DATATYPE_HALFTONE)), 0);
  std::vector<uint8_t> halftone = driver->readAll(2, 8, &status);
  ASSERT_EQ(halftone.size(), 16u);
  for (int row = 0; row < 8; ++row) {
    const uint8_t cells = row % 2 == 0 ? 0xAA : 0x55;
    EXPECT_EQ(halftone[2 * row], cells) << row;
    EXPECT_EQ(halftone[2 * row + 1], cells) << row;
  }
}

TEST_F(VirtualScannerTest, NegativeFilmHoldsTheNegative) {
  const Picture picture = patternPicture(40, 40);
  KeyValues values = documentKey(picture);
  values.dwords[virtscan::kValueCapabilities] = 0x40;
  configure(values);
  auto driver = open();
  ASSERT_EQ(driver->start(makeFrame(0, 0, 8, 2, 300, DATATYPE_COLOUR, SCANFLAG_NEGATIVE)), 0);
  int16_t status = 0;
  const std::vector<uint8_t> image = driver->readAll(24, 2, &status);
  ASSERT_EQ(image.size(), 48u);
  for (uint32_t s = 0; s < 48; ++s) {
    EXPECT_EQ(image[s], 255 - picture.at((s / 3) % 8, s / 24)[s % 3]) << s;
  }
  // The film area is a 35 mm frame.
  EXPECT_EQ(driver->start(makeFrame(0, 0, 451, 2, 300, DATATYPE_COLOUR, SCANFLAG_NEGATIVE)),
            virtscan::kStatusBadRequest);
}

TEST_F(VirtualScannerTest, BuiltInChartWithoutADocument) {
  configure({});
  auto driver = open();
  // The grey ramp across the top inch, inside the black border.
  ASSERT_EQ(driver->start(makeFrame(0, 150, 2550, 3, 100, DATATYPE_GREY)), 0);
  std::vector<uint8_t> line(850);
  ASSERT_EQ(driver->call(DRV_READ_LINES, 850, line.data()), 0);
  ASSERT_EQ(driver->reply(), 1u);
  EXPECT_EQ(line[0], 0);    // border
  EXPECT_EQ(line[849], 0);  // border
  for (int i = 6; i < 843; ++i) ASSERT_LE(line[i], line[i + 1]) << i;
  EXPECT_LT(line[10], 10);
  EXPECT_GT(line[840], 245);
}

TEST_F(VirtualScannerTest, RefusesOutOfOrderAndImpossibleRequests) {
  configure({});
  auto driver = open();
  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(driver->call(DRV_READ_LINES, 4096, buffer.data()), virtscan::kStatusSequence);
  EXPECT_EQ(driver->call(DRV_START_SCAN), virtscan::kStatusSequence);
  // Above the native resolution (the scanner API enhances those itself), off the bed, empty.
  EXPECT_EQ(driver->start(makeFrame(0, 0, 100, 100, 1200, DATATYPE_GREY)),
            virtscan::kStatusBadRequest);
  EXPECT_EQ(driver->start(makeFrame(2500, 0, 100, 100, 300, DATATYPE_GREY)),
            virtscan::kStatusBadRequest);
  EXPECT_EQ(driver->start(makeFrame(0, 0, 0, 100, 300, DATATYPE_GREY)),
            virtscan::kStatusBadRequest);
  EXPECT_EQ(driver->start(makeFrame(0, 0, 10, 10, 300, DATATYPE_GREY, SCANFLAG_ADF)),
            virtscan::kStatusBadRequest);
  ASSERT_EQ(driver->start(makeFrame(0, 0, 300, 10, 300, DATATYPE_GREY)), 0);
  EXPECT_EQ(driver->call(DRV_READ_LINES, 299, buffer.data()), virtscan::kStatusBufferTooSmall);
  EXPECT_EQ(driver->call(DRV_READ_LINES, 300, nullptr), virtscan::kStatusBadRequest);
  EXPECT_EQ(driver->call(DRV_END_SCAN), 0);
  EXPECT_EQ(driver->call(DRV_READ_LINES, 4096, buffer.data()), virtscan::kStatusSequence);
  EXPECT_EQ(driver->call(49), virtscan::kStatusUnknownOperation);
  EXPECT_EQ(driver->call(DRV_SELECT_SETTING, 1), virtscan::kStatusBadRequest);
  // Forwarded operations answer success.
  for (uint16_t op : {9, 10, 11, 12, 13, 18, 29, 30, 35, 43, 45, 48}) {
    EXPECT_EQ(driver->call(op), 0) << op;
  }
}

TEST_F(VirtualScannerTest, LockHandlesAreNonZeroAndChange) {
  configure({});
  auto driver = open();
  ASSERT_EQ(driver->call(DRV_LOCK), 0);
  const uint32_t first = driver->reply();
  EXPECT_NE(first & 0xFFFF, 0u);
  EXPECT_EQ(driver->call(DRV_UNLOCK), 0);
  ASSERT_EQ(driver->call(DRV_LOCK), 0);
  EXPECT_NE(driver->reply(), first);
}

TEST_F(VirtualScannerTest, FeederPagesRunOut) {
  const std::string pattern = file("page%d.bmp");
  writeBytes(file("page1.bmp"), bmp24(Picture{1, 1, {10, 10, 10}}, 300));
  writeBytes(file("page2.bmp"), bmp24(Picture{1, 1, {90, 90, 90}}, 300));
  KeyValues values;
  values.strings[virtscan::kValueDocument] = pattern;
  values.dwords = {{virtscan::kValueCapabilities, 0x01}, {virtscan::kValueAdfPages, 2}};
  configure(values);
  auto driver = open();
  const ScanFrame frame = makeFrame(0, 0, 1, 1, 300, DATATYPE_GREY, SCANFLAG_ADF);
  uint8_t sample = 0;
  for (uint8_t expected : {10, 90}) {
    ASSERT_EQ(driver->start(frame), 0);
    ASSERT_EQ(driver->call(DRV_READ_LINES, 1, &sample), 0);
    EXPECT_EQ(sample, expected);
    EXPECT_EQ(driver->call(DRV_END_SCAN), 0);
  }
  EXPECT_EQ(driver->start(frame), virtscan::kStatusFeederEmpty);
  // The flatbed still scans; a new open refills the feeder.
  EXPECT_EQ(driver->start(makeFrame(0, 0, 1, 1, 300, DATATYPE_GREY)), 0);
  ASSERT_EQ(driver->call(DRV_OPEN_DEVICE), 0);
  EXPECT_EQ(driver->start(frame), 0);
}

TEST_F(VirtualScannerTest, UnreadableDocumentFailsTheScanStart) {
  KeyValues values;
  values.strings[virtscan::kValueDocument] = file("missing.bmp");
  configure(values);
  auto driver = open();
  EXPECT_EQ(driver->start(makeFrame(0, 0, 10, 10, 300, DATATYPE_GREY)),
            virtscan::kStatusNoDocument);
}

TEST_F(VirtualScannerTest, InjectedStatusOnTheNthCallAndOnEveryCall) {
  configure({});
  env_.set(virtscan::kEnvFaults, "15:2:-5,28:*:3,0:1:9");
  Driver driver;
  EXPECT_EQ(driver.call(DRV_OPEN_DEVICE), 9);  // counts start again at every open
  const ScanFrame frame = makeFrame(0, 0, 10, 10, 300, DATATYPE_GREY);
  EXPECT_EQ(driver.start(frame), 0);
  EXPECT_EQ(driver.start(frame), -5);
  EXPECT_EQ(driver.start(frame), 0);
  EXPECT_EQ(driver.call(DRV_GET_BUFFER_SIZE), 3);
  EXPECT_EQ(driver.reply(), 0u);
  EXPECT_EQ(driver.call(DRV_GET_BUFFER_SIZE), 3);
  EXPECT_EQ(driver.call(DRV_OPEN_DEVICE), 9);
}

TEST_F(VirtualScannerTest, FaultsFromTheKey) {
  KeyValues values;
  values.strings[virtscan::kValueFaults] = "16:1:7";
  values.dwords = {{virtscan::kValueWaitMs, 1500}, {virtscan::kValueStopAfterLines, 3}};
  configure(values);
  auto driver = open();
  ASSERT_EQ(driver->call(DRV_GET_WAIT), 0);
  EXPECT_EQ(driver->reply(), 1500u);
  ASSERT_EQ(driver->start(makeFrame(0, 0, 10, 10, 300, DATATYPE_GREY)), 0);
  std::vector<uint8_t> buffer(100);
  EXPECT_EQ(driver->call(DRV_READ_LINES, 100, buffer.data()), 7);
  EXPECT_EQ(driver->reply(), 0u);
  // The device stops after 3 lines of 10.
  int16_t status = 0;
  EXPECT_EQ(driver->readAll(10, 2, &status).size(), 30u);
  EXPECT_EQ(status, 0);
}

TEST_F(VirtualScannerTest, VariablesWinOverTheKey) {
  KeyValues values;
  values.dwords = {{virtscan::kValueWaitMs, 1500}};
  configure(values);
  env_.set(virtscan::kEnvWaitMs, "250");
  auto driver = open();
  ASSERT_EQ(driver->call(DRV_GET_WAIT), 0);
  EXPECT_EQ(driver->reply(), 250u);
}

TEST_F(VirtualScannerTest, NotReadyForPollsThenForMilliseconds) {
  configure({});
  env_.set(virtscan::kEnvNotReadyPolls, "3");
  auto driver = open();
  const ScanFrame frame = makeFrame(0, 0, 10, 10, 300, DATATYPE_GREY);
  ASSERT_EQ(driver->start(frame), 0);
  for (int poll = 0; poll < 3; ++poll)
    EXPECT_EQ(driver->call(DRV_READY), virtscan::kStatusNotReady);
  EXPECT_EQ(driver->call(DRV_READY), 0);

  env_.set(virtscan::kEnvNotReadyPolls, "0");
  env_.set(virtscan::kEnvNotReadyMs, "5000");
  ASSERT_EQ(driver->call(DRV_OPEN_DEVICE), 0);
  winport_test_freeze_tick(100000);
  ASSERT_EQ(driver->start(frame), 0);
  winport_test_advance_tick(4999);
  EXPECT_EQ(driver->call(DRV_READY), virtscan::kStatusNotReady);
  winport_test_advance_tick(1);
  EXPECT_EQ(driver->call(DRV_READY), 0);
  winport_test_thaw_tick();
}

TEST_F(VirtualScannerTest, TraceRecordsEveryOperation) {
  configure({});
  env_.set(virtscan::kEnvTrace, file("trace.txt"));
  auto driver = open();
  ASSERT_EQ(driver->call(DRV_LOCK), 0);
  const uint32_t handle = driver->reply();
  ASSERT_EQ(driver->start(makeFrame(0, 0, 10, 10, 300, DATATYPE_GREY)), 0);
  std::vector<uint8_t> buffer(100);
  ASSERT_EQ(driver->call(DRV_READ_LINES, 40, buffer.data()), 0);
  EXPECT_EQ(driver->call(DRV_READ_LINES, 5, buffer.data()), virtscan::kStatusBufferTooSmall);
  const std::vector<std::string> expected = {
      "op=0 param=0 status=0 reply=0",   "op=2 param=0 status=0 reply=" + std::to_string(handle),
      "op=14 param=0 status=0 reply=0",  "op=15 param=0 status=0 reply=0",
      "op=16 param=40 status=0 reply=4", "op=16 param=5 status=-31 reply=0"};
  EXPECT_EQ(readLines(file("trace.txt")), expected);
}

TEST(VirtualScannerModule, ExportsOnlyTheDriverEntry) {
  Environment env;
  testsupport::LoadedModule module(driverPath());
  ASSERT_TRUE(module);
  const WinportModuleInfo* info = winport_module_info_of(module.handle());
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->exportCount, 1u);
  EXPECT_STREQ(info->exports[0].name, "ScannerDriverEntry");
  EXPECT_NE(module.get<ScannerDriverEntryFn>("ScannerDriverEntry"), nullptr);
}

}  // namespace
