// Tone maps: the MAP files and how they are chosen, CMD_GET_TONE_MAP for every
// set and kind, the brightness and contrast curves against a computation of
// their own, and the working maps a scan downloads.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"

namespace scantest {
namespace {

constexpr size_t kByteSet = 3 * 256;

std::vector<uint8_t> Identity8(size_t maps) {
  std::vector<uint8_t> set(maps * 256);
  for (size_t i = 0; i < set.size(); ++i) set[i] = static_cast<uint8_t>(i % 256);
  return set;
}

// --- An independent computation of the curves, entry by entry. -------------

std::vector<int64_t> RefBrightness(std::vector<int64_t> map, int k) {
  if (k == 0) return map;
  const int64_t n = static_cast<int64_t>(map.size());
  const int64_t d = (std::abs(k) * (n - 1)) / 127;
  const int64_t top = map.back();
  const int64_t bottom = map.front();
  for (int64_t& v : map) {
    if (k > 0) v = (v < top && v + d < top) ? v + d : top;
    else v = (v > bottom && v > d && v - d > bottom) ? v - d : bottom;
  }
  return map;
}

std::vector<int64_t> RefContrast(std::vector<int64_t> map, int k, bool bytes) {
  if (k == 0) return map;
  const int64_t n = static_cast<int64_t>(map.size());
  const int64_t lo = map.front();
  const int64_t hi = map.back();
  const int64_t mid = bytes ? 128 : n / 2;
  const float c = 0.007874016f;
  std::vector<int64_t> out(map.size());
  if (k == 127) {
    for (int64_t i = 0; i < n; ++i) out[i] = i < n / 2 ? lo : hi;
  } else if (k == -127) {
    for (int64_t i = 0; i < n; ++i) out[i] = map[n / 2];
  } else if (k > 0) {
    const float g = float(127 - k) * c;
    const int64_t t = static_cast<int64_t>(float(mid) * g);
    const int64_t l = mid - t;
    for (int64_t i = 0; i < n; ++i) {
      const int64_t v = map[i];
      if (v <= l) out[i] = lo;
      else if (v <= mid) out[i] = std::max<int64_t>(lo, static_cast<int64_t>(float(v - l) / g + 0.5));
      else if (v < mid + t) out[i] = std::min<int64_t>(hi, mid + static_cast<int64_t>(float(v - mid) / g + 0.5));
      else out[i] = hi;
    }
  } else {
    const float e = float(127 + k) * c;
    for (int64_t i = 0; i < n; ++i) {
      const int64_t v = map[i];
      out[i] = v <= mid ? std::max<int64_t>(lo, static_cast<int64_t>(mid - (mid - v + 0.5) * double(e)))
                        : std::max<int64_t>(lo, mid + static_cast<int64_t>(float(v - mid) * e + 0.5));
    }
  }
  return out;
}

std::vector<int64_t> Widen8(const uint8_t* map, size_t n) { return std::vector<int64_t>(map, map + n); }
std::vector<int64_t> Widen16(const uint16_t* map, size_t n) { return std::vector<int64_t>(map, map + n); }

class ToneMaps : public ::testing::Test {
 protected:
  fake::DriverState& driver() { return scanner.driver(); }
  void open() {
    ASSERT_TRUE(scanner.load());
    ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  }
  std::vector<uint8_t> toneMap(uint16_t kind, uint16_t set, size_t bytes, int16_t expected = SCAN_OK) {
    std::vector<uint8_t> out(bytes, 0xEE);
    EXPECT_EQ(scanner.send(CMD_GET_TONE_MAP, out.data(), MakeValue(kind, set)).status, expected)
        << "kind " << kind << " set " << set;
    return out;
  }
  int16_t adjust(void* map, int brightness, int contrast) {
    ToneMapAdjustment request{map, static_cast<int16_t>(brightness), static_cast<int16_t>(contrast)};
    return scanner.send(CMD_ADJUST_TONE_MAP, &request).status;
  }
  Installation scanner;
};

TEST_F(ToneMaps, PlainNamesAreFoundWithoutRegardToCase) {
  const std::vector<uint8_t> normal = PatternedSet(kByteSet, 1);
  scanner.writeFile("Normal.map", normal);
  open();
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_NORMAL, kByteSet), normal);
  // Grey channel 4: the second map.
  const std::vector<uint8_t> grey = toneMap(TONEMAP_GREY, TONESET_NORMAL, 256);
  EXPECT_TRUE(std::equal(grey.begin(), grey.end(), normal.begin() + 256));
  for (uint16_t kind = TONEMAP_CHANNEL_1; kind <= TONEMAP_CHANNEL_3; ++kind) {
    const std::vector<uint8_t> map = toneMap(kind, TONESET_NORMAL, 256);
    EXPECT_TRUE(std::equal(map.begin(), map.end(), normal.begin() + (kind - 3) * 256)) << kind;
  }
  MapInfo info{};
  EXPECT_EQ(scanner.send(CMD_GET_MAP_INFO, &info).status, SCAN_OK);
  EXPECT_EQ(info.entryCount, 256);
  EXPECT_EQ(info.greyChannel, 4);
}

TEST_F(ToneMaps, NumberedNamesWinAndAMissingNumberedFileGivesIdentities) {
  driver().device.capabilities = DEVCAP_ADF | DEVCAP_FILM_A;
  driver().device.modelByte = 0x35;  // model 5 (low four bits)
  scanner.writeFile("5-nml.map", PatternedSet(kByteSet, 1));
  scanner.writeFile("5-Pos.MAP", PatternedSet(kByteSet, 2));
  scanner.writeFile("5-Neg.MAP", PatternedSet(kByteSet, 3));
  scanner.writeFile("NORMAL.MAP", PatternedSet(kByteSet, 9));
  scanner.writeFile("ADF.MAP", PatternedSet(kByteSet, 9));
  open();
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_NORMAL, kByteSet), PatternedSet(kByteSet, 1));
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_POSITIVE, kByteSet), PatternedSet(kByteSet, 2));
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_NEGATIVE, kByteSet), PatternedSet(kByteSet, 3));
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_ADF, kByteSet), Identity8(3));
}

TEST_F(ToneMaps, WrongSizedOrMissingFilesGiveIdentities) {
  driver().device.capabilities = DEVCAP_FILM_B;
  std::vector<uint8_t> tooLong = PatternedSet(kByteSet + 1, 4);
  scanner.writeFile("NORMAL.MAP", tooLong);
  scanner.writeFile("POSITIVE.MAP", PatternedSet(kByteSet - 1, 4));
  open();
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_NORMAL, kByteSet), Identity8(3));
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_POSITIVE, kByteSet), Identity8(3));
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_NEGATIVE, kByteSet), Identity8(3));
}

TEST_F(ToneMaps, AdfSetOfADeviceWithoutFilmFollowsTheNormalSet) {
  driver().device.capabilities = DEVCAP_ADF;
  scanner.writeFile("NORMAL.MAP", PatternedSet(kByteSet, 1));
  scanner.writeFile("ADF.MAP", PatternedSet(kByteSet, 6));
  open();
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_ADF, kByteSet), PatternedSet(kByteSet, 6));
  const std::vector<uint8_t> third = toneMap(TONEMAP_CHANNEL_3, TONESET_ADF, 256);
  EXPECT_TRUE(std::equal(third.begin(), third.end(), PatternedSet(kByteSet, 6).begin() + 512));
}

// Every kind and set: the sets the device lacks and the kinds that need three
// channels are refused without writing, never read past the sets present.
TEST_F(ToneMaps, EveryKindAndSetOnEachDeviceShape) {
  struct Shape { uint8_t capabilities; bool film; bool adf; };
  const Shape shapes[] = {{0, false, false}, {DEVCAP_ADF, false, true},
                          {DEVCAP_FILM_A, true, false}, {DEVCAP_FILM_B | DEVCAP_ADF, true, true}};
  for (const Shape& shape : shapes) {
    Installation scanner2;
    scanner2.driver().device.capabilities = shape.capabilities;
    ASSERT_TRUE(scanner2.load());
    ASSERT_EQ(scanner2.send(CMD_OPEN).status, SCAN_OK);
    for (uint16_t set = 0; set <= 4; ++set) {
      const bool present = set == 0 || ((set == 1 || set == 2) && shape.film) || (set == 3 && shape.adf);
      for (uint16_t kind = 0; kind <= 6; ++kind) {
        const bool kindValid = kind != 2 && kind <= 5;
        std::vector<uint8_t> out(kByteSet, 0xEE);
        const int16_t status = scanner2.send(CMD_GET_TONE_MAP, out.data(), MakeValue(kind, set)).status;
        if (present && kindValid) {
          EXPECT_EQ(status, SCAN_OK) << int(shape.capabilities) << " " << set << " " << kind;
          const size_t copied = kind == 1 ? kByteSet : 256;
          EXPECT_EQ(out[copied - 1], 255);  // identity maps end in 255
          if (copied < kByteSet) {
            EXPECT_EQ(out[copied], 0xEE);
          }
        } else {
          EXPECT_EQ(status, SCAN_ERR_PARAM) << int(shape.capabilities) << " " << set << " " << kind;
          EXPECT_EQ(out[0], 0xEE);
        }
      }
    }
  }
}

TEST_F(ToneMaps, OneChannelDevicesAnswerOnlyKindZeroWithTheSetsOwnMap) {
  driver().mapInfo = MapInfo{255, 1, 1, 256, 0};
  driver().device.capabilities = DEVCAP_FILM_A;
  scanner.writeFile("NORMAL.MAP", PatternedSet(256, 1));
  scanner.writeFile("NEGATIVE.MAP", PatternedSet(256, 5));
  open();
  EXPECT_EQ(toneMap(TONEMAP_GREY, TONESET_NORMAL, 256), PatternedSet(256, 1));
  EXPECT_EQ(toneMap(TONEMAP_GREY, TONESET_NEGATIVE, 256), PatternedSet(256, 5));
  toneMap(TONEMAP_WHOLE_SET, TONESET_NORMAL, 256, SCAN_ERR_PARAM);
  toneMap(TONEMAP_CHANNEL_1, TONESET_NORMAL, 256, SCAN_ERR_PARAM);
}

TEST_F(ToneMaps, QueriesBeforeAnyOpenAreRefused) {
  ASSERT_TRUE(scanner.load());
  toneMap(TONEMAP_GREY, TONESET_NORMAL, 256, SCAN_ERR_STATE);
}

// A process whose maps were freed by its last close loads them again on demand.
TEST_F(ToneMaps, MapsAreLoadedAgainOnDemandAfterTheLastClose) {
  scanner.writeFile("NORMAL.MAP", PatternedSet(kByteSet, 1));
  open();
  ASSERT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);
  EXPECT_EQ(toneMap(TONEMAP_WHOLE_SET, TONESET_NORMAL, kByteSet), PatternedSet(kByteSet, 1));
  winport_test_fail_allocation(0);
}

TEST_F(ToneMaps, SixteenBitMapsAndTheirFormat) {
  driver().device.bitCodeMask = BIT_CODE_MASK_16BIT_MAPS;
  driver().mapInfo = MapInfo{4095, 3, 2, 4096, 3};
  open();
  uint8_t format[14];
  ASSERT_EQ(scanner.send(CMD_GET_MAP_FORMAT, format).status, SCAN_OK);
  MapFormat parsed;
  std::memcpy(&parsed, format, sizeof(parsed));
  EXPECT_EQ(parsed.largestValue, 0xFFFFu);
  EXPECT_EQ(parsed.channelCount, 3);
  EXPECT_EQ(parsed.bytesPerEntry, 2);
  EXPECT_EQ(parsed.entryCount, 65536u);
  EXPECT_EQ(parsed.greyChannel, 3);
  const std::vector<uint8_t> grey = toneMap(TONEMAP_GREY, TONESET_NORMAL, 65536 * 2);
  std::vector<uint16_t> entries(65536);
  std::memcpy(entries.data(), grey.data(), grey.size());
  for (uint32_t i = 0; i < 65536; i += 4097) EXPECT_EQ(entries[i], i);
  EXPECT_EQ(entries[65535], 65535);
}

TEST_F(ToneMaps, MapFormatIsUnavailableForByteMaps) {
  open();
  uint8_t format[14];
  EXPECT_EQ(scanner.send(CMD_GET_MAP_FORMAT, format).status, SCAN_ERR_COMMAND);
}

TEST_F(ToneMaps, BrightnessAndContrastEdgesOnAnIdentityByteMap) {
  open();
  std::vector<uint8_t> map = Identity8(1);
  ASSERT_EQ(adjust(map.data(), 127, 0), SCAN_OK);
  EXPECT_EQ(map, std::vector<uint8_t>(256, 255));
  map = Identity8(1);
  ASSERT_EQ(adjust(map.data(), -127, 0), SCAN_OK);
  EXPECT_EQ(map, std::vector<uint8_t>(256, 0));
  map = Identity8(1);
  ASSERT_EQ(adjust(map.data(), 0, 127), SCAN_OK);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(map[i], i < 128 ? 0 : 255) << i;
  map = Identity8(1);
  ASSERT_EQ(adjust(map.data(), 0, -127), SCAN_OK);
  EXPECT_EQ(map, std::vector<uint8_t>(256, 128));
}

TEST_F(ToneMaps, OutOfRangeAdjustmentsChangeNothing) {
  open();
  std::vector<uint8_t> map = Identity8(1);
  EXPECT_EQ(adjust(map.data(), 128, 0), SCAN_ERR_PARAM);
  EXPECT_EQ(adjust(map.data(), 0, -128), SCAN_ERR_PARAM);
  EXPECT_EQ(adjust(nullptr, 5, 5), SCAN_ERR_PARAM);
  EXPECT_EQ(map, Identity8(1));
}

TEST_F(ToneMaps, ByteCurvesMatchAnIndependentComputation) {
  open();
  const std::vector<uint8_t> sources[] = {Identity8(1), PatternedSet(256, 40)};
  for (const std::vector<uint8_t>& source : sources) {
    for (int k = -127; k <= 127; ++k) {
      std::vector<uint8_t> bright = source;
      ASSERT_EQ(adjust(bright.data(), k, 0), SCAN_OK);
      EXPECT_EQ(Widen8(bright.data(), 256), RefBrightness(Widen8(source.data(), 256), k)) << k;
      std::vector<uint8_t> contrast = source;
      ASSERT_EQ(adjust(contrast.data(), 0, k), SCAN_OK);
      EXPECT_EQ(Widen8(contrast.data(), 256), RefContrast(Widen8(source.data(), 256), k, true)) << k;
      std::vector<uint8_t> both = source;
      ASSERT_EQ(adjust(both.data(), k / 2, -k), SCAN_OK);
      EXPECT_EQ(Widen8(both.data(), 256),
                RefContrast(RefBrightness(Widen8(source.data(), 256), k / 2), -k, true)) << k;
    }
  }
}

TEST_F(ToneMaps, SixteenBitCurvesMatchAnIndependentComputation) {
  driver().device.bitCodeMask = BIT_CODE_MASK_16BIT_MAPS;
  driver().mapInfo = MapInfo{0xFFFF, 3, 2, 0, 4};
  open();
  std::vector<uint16_t> identity(65536);
  for (uint32_t i = 0; i < identity.size(); ++i) identity[i] = static_cast<uint16_t>(i);
  for (int k : {-127, -100, -37, -1, 1, 5, 64, 126, 127}) {
    std::vector<uint16_t> bright = identity;
    ASSERT_EQ(adjust(bright.data(), k, 0), SCAN_OK);
    EXPECT_EQ(Widen16(bright.data(), 65536), RefBrightness(Widen16(identity.data(), 65536), k)) << k;
    std::vector<uint16_t> contrast = identity;
    ASSERT_EQ(adjust(contrast.data(), 0, k), SCAN_OK);
    EXPECT_EQ(Widen16(contrast.data(), 65536), RefContrast(Widen16(identity.data(), 65536), k, false)) << k;
  }
}

// --- Working maps prepared by CMD_SET_PARAMETERS and downloaded (op 7). -----

class WorkingMaps : public ToneMaps {
 protected:
  ScanParameters scan(uint16_t dataType, uint32_t flags) {
    ScanParameters params{};
    params.frame = ScanFrame{flags, 0, 0, 300, 300, 300, 300, dataType, 0, 0};
    params.mapMode = MAP_MODE_BUILT_IN;
    return params;
  }
  int16_t setParameters(ScanParameters& params) {
    return scanner.send(CMD_SET_PARAMETERS, &params).status;
  }
  std::vector<uint8_t> downloaded(size_t bytes) {
    return std::vector<uint8_t>(driver().lastDownload, driver().lastDownload + bytes);
  }
  void openFilmScanner() {
    driver().device.capabilities = DEVCAP_FILM_A;
    scanner.writeFile("NORMAL.MAP", PatternedSet(kByteSet, 1));
    scanner.writeFile("POSITIVE.MAP", PatternedSet(kByteSet, 2));
    scanner.writeFile("NEGATIVE.MAP", PatternedSet(kByteSet, 3));
    ASSERT_TRUE(scanner.load());
    scanner.openAndLock();
  }
};

TEST_F(WorkingMaps, NegativeFilmSendsTheNegativeSetAdjustedThenReversedOnce) {
  openFilmScanner();
  ScanParameters params = scan(DATATYPE_COLOUR, SCANFLAG_NEGATIVE);
  params.brightness = 20;
  params.contrast = -30;
  ASSERT_EQ(setParameters(params), SCAN_OK);
  EXPECT_EQ(driver().lastDownloadMode, MAP_MODE_THREE);
  const std::vector<uint8_t> negative = PatternedSet(kByteSet, 3);
  const std::vector<uint8_t> sent = downloaded(kByteSet);
  for (int channel = 0; channel < 3; ++channel) {
    std::vector<int64_t> expected =
        RefContrast(RefBrightness(Widen8(negative.data() + channel * 256, 256), 20), -30, true);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(Widen8(sent.data() + channel * 256, 256), expected) << channel;
  }
  EXPECT_EQ(driver().lastParameters.mapMode, MAP_MODE_THREE);
  EXPECT_EQ(driver().lastParameters.frame.flags & SCANFLAG_COLOUR_ONLY, 0u);
}

TEST_F(WorkingMaps, GreyScanSendsTheGreyChannelOfTheChosenSet) {
  openFilmScanner();
  ScanParameters params = scan(DATATYPE_GREY, SCANFLAG_POSITIVE | SCANFLAG_NEGATIVE);
  ASSERT_EQ(setParameters(params), SCAN_OK);  // positive wins, nothing reversed
  EXPECT_EQ(driver().lastDownloadMode, MAP_MODE_ONE);
  const std::vector<uint8_t> positive = PatternedSet(kByteSet, 2);
  EXPECT_EQ(downloaded(256), std::vector<uint8_t>(positive.begin() + 256, positive.begin() + 512));
}

TEST_F(WorkingMaps, FilmOrFeederSetsTheDeviceLacksAreRefused) {
  ASSERT_TRUE(scanner.load());
  scanner.openAndLock();
  for (uint32_t flag : {SCANFLAG_POSITIVE, SCANFLAG_NEGATIVE, SCANFLAG_ADF}) {
    ScanParameters params = scan(DATATYPE_GREY, flag);
    EXPECT_EQ(setParameters(params), SCAN_ERR_PARAM) << flag;
  }
  EXPECT_EQ(scanner.callsOf(DRV_DOWNLOAD_MAPS), 0u);
  EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_ERR_STATE);
}

TEST_F(WorkingMaps, FeederScansUseTheFeederSet) {
  driver().device.capabilities = DEVCAP_ADF;
  scanner.writeFile("ADF.MAP", PatternedSet(kByteSet, 8));
  ASSERT_TRUE(scanner.load());
  scanner.openAndLock();
  ScanParameters params = scan(DATATYPE_COLOUR, SCANFLAG_ADF);
  ASSERT_EQ(setParameters(params), SCAN_OK);
  EXPECT_EQ(downloaded(kByteSet), PatternedSet(kByteSet, 8));
}

TEST_F(WorkingMaps, IdentityFlagApplicationMapsAndLineArt) {
  scanner.writeFile("NORMAL.MAP", PatternedSet(kByteSet, 1));
  ASSERT_TRUE(scanner.load());
  scanner.openAndLock();
  ScanParameters identity = scan(DATATYPE_COLOUR, SCANFLAG_IDENTITY_MAPS | SCANFLAG_NEGATIVE);
  driver().device.capabilities = 0;
  identity.frame.flags = SCANFLAG_IDENTITY_MAPS;
  identity.brightness = 50;  // identities are not adjusted
  ASSERT_EQ(setParameters(identity), SCAN_OK);
  EXPECT_EQ(downloaded(kByteSet), Identity8(3));
  EXPECT_EQ(driver().lastDownloadMode, MAP_MODE_THREE);

  std::vector<uint8_t> application = PatternedSet(kByteSet, 77);
  ScanParameters colour = scan(DATATYPE_COLOUR, 0);
  colour.mapMode = MAP_MODE_THREE;
  colour.mapAddress = application.data();
  colour.brightness = 50;  // the application's maps are sent unchanged
  ASSERT_EQ(setParameters(colour), SCAN_OK);
  EXPECT_EQ(downloaded(kByteSet), application);
  colour.mapMode = MAP_MODE_ONE;  // one map for a three-channel device
  EXPECT_EQ(setParameters(colour), SCAN_ERR_PARAM);
  colour.mapMode = MAP_MODE_THREE;
  colour.mapAddress = nullptr;
  EXPECT_EQ(setParameters(colour), SCAN_ERR_PARAM);

  ScanParameters grey = scan(DATATYPE_GREY, 0);
  grey.mapMode = MAP_MODE_ONE;
  grey.mapAddress = application.data() + 256;
  ASSERT_EQ(setParameters(grey), SCAN_OK);
  EXPECT_EQ(downloaded(256), std::vector<uint8_t>(application.begin() + 256, application.begin() + 512));
  EXPECT_EQ(driver().lastDownloadMode, MAP_MODE_ONE);

  ScanParameters lineArt = scan(DATATYPE_LINEART, 0);
  ASSERT_EQ(setParameters(lineArt), SCAN_OK);
  EXPECT_EQ(downloaded(256), Identity8(1));
}

}  // namespace
}  // namespace scantest
