#include "device_facts.h"

#include <cstring>

#include "debug.h"

namespace ferroxsane {

namespace {

// The driver may fill more than the part of its records we read.
constexpr size_t kRecordRoom = 512;
// CMD_GET_HALFTONE refuses the first number past the patterns it has; stop
// asking here in any case.
constexpr uint16_t kMaxHalftonePatterns = 64;

}  // namespace

void SplitProductName(const std::string& name, std::string& vendor, std::string& model) {
  const size_t gap = name.find(' ');
  if (gap == std::string::npos || gap + 1 >= name.size()) {
    vendor = name.empty() ? "Unknown" : name;
    model = name.empty() ? "scanner" : name;
    return;
  }
  vendor = name.substr(0, gap);
  model = name.substr(gap + 1);
}

int16_t ReadLimits(scanclient::Scanner& scanner, uint16_t source, LimitsRecord& limits) {
  alignas(8) uint8_t room[kRecordRoom] = {};
  const int16_t status = scanner.send(CMD_GET_SCAN_LIMITS, room, MakeValue(0, source));
  if (status == SCAN_OK) std::memcpy(&limits, room, sizeof limits);
  return status;
}

bool ReadDeviceFacts(scanclient::Scanner& scanner, DeviceFacts& facts,
                     scanclient::ScanFailure& failure) {
  alignas(8) uint8_t room[kRecordRoom] = {};
  scanner.send(CMD_GET_DEVICE_INFO, room);
  std::memcpy(&facts.device, room, sizeof facts.device);

  struct Candidate {
    const char* name;
    uint16_t code;
    uint32_t flag;
    bool present;
  };
  const uint8_t caps = facts.device.capabilities;
  const Candidate candidates[] = {
      {"Flatbed", SOURCE_FLATBED, 0, true},
      {"ADF", SOURCE_ADF, SCANFLAG_ADF, (caps & DEVCAP_ADF) != 0},
      {"Positive Film", SOURCE_POSITIVE, SCANFLAG_POSITIVE, (caps & DEVCAP_FILM) != 0},
      {"Negative Film", SOURCE_NEGATIVE, SCANFLAG_NEGATIVE, (caps & DEVCAP_FILM) != 0},
  };
  facts.sources.clear();
  for (const Candidate& candidate : candidates) {
    if (!candidate.present) continue;
    ScanSource source{candidate.name, candidate.code, candidate.flag, {}};
    if (int16_t status = ReadLimits(scanner, candidate.code, source.limits)) {
      Debug(kDebugError, "the limits of the %s: status %d", candidate.name, status);
      if (candidate.code == SOURCE_FLATBED) {
        failure = {status, "reading the scan limits"};
        return false;
      }
      continue;
    }
    if (source.limits.highestResolution == 0 || source.limits.widthLimit == 0 ||
        source.limits.heightLimit == 0) {
      Debug(kDebugError, "the %s reports no usable area or resolution", candidate.name);
      if (candidate.code == SOURCE_FLATBED) {
        failure = {SCAN_ERR_PARAM, "reading the scan limits"};
        return false;
      }
      continue;
    }
    facts.sources.push_back(source);
  }
  uint8_t pattern[kHalftonePatternBytes];
  facts.halftoneCount = 0;
  while (facts.halftoneCount < kMaxHalftonePatterns &&
         scanner.send(CMD_GET_HALFTONE, pattern, facts.halftoneCount) == SCAN_OK)
    ++facts.halftoneCount;
  Debug(kDebugInfo, "device: data types up to %u, capabilities 0x%02x, %zu sources, %u halftones",
        facts.device.highestDataType, caps, facts.sources.size(), facts.halftoneCount);
  return true;
}

}  // namespace ferroxsane
