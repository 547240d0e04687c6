// The virtual scanner's configuration: its scanner key's values and the
// fault-injection variables of the environment (see virtscan/virtscan.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "virtscan/virtscan.h"
#include "winport/types.h"

namespace virtscan {

// Operation `operation` answers `status` on its call number `call` (0: every call).
struct FaultRule {
  uint16_t operation = 0;
  uint32_t call = 0;
  int16_t status = 0;
};

struct Config {
  // Device.
  uint8_t capabilities = 0;
  uint32_t bitCodes = 0xFFFFFFFFu;
  uint8_t model = 0;
  uint16_t settingCount = 1;
  uint16_t highestDataType = 4;
  bool noToneMaps = false;
  uint16_t highestDpi = kDefaultHighestDpi;
  uint16_t nativeXDpi = kDefaultNativeDpi;
  uint16_t nativeYDpi = kDefaultNativeDpi;
  uint16_t widthLimit = kDefaultWidthLimit;
  uint16_t heightLimit = kDefaultHeightLimit;
  uint16_t mapChannels = 3;
  uint16_t greyChannel = 4;
  uint32_t adfPages = 1;
  // Document.
  std::string document;      // empty: the built-in test chart
  uint32_t documentDpi = 0;  // 0: as the file states, else the default
  // Faults and trace.
  std::vector<FaultRule> faults;
  uint32_t notReadyPolls = 0;
  uint32_t notReadyMs = 0;
  uint32_t waitMs = 0;
  uint32_t maintenanceMs = 0;
  uint32_t stopAfterLines = 0;  // 0: no early stop
  std::string traceFile;

  bool hasAdf() const { return (capabilities & 0x01) != 0; }
  bool hasFilm() const { return (capabilities & 0x60) != 0; }
  bool sixteenBitMaps() const { return bitCodes == 8; }
};

// Reads the configuration: defaults, then the scanner key that names the
// driver file `ownPath` (or the key VIRTSCAN_KEY names), then the environment.
Config loadConfig(const std::string& ownPath);

// Parses "op:call:status[,...]" ("*" for every call); malformed rules are
// skipped. Returns false when any was.
bool parseFaultRules(const std::string& text, std::vector<FaultRule>& rules);

}  // namespace virtscan
