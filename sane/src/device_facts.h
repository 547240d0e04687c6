// What the scanner says about itself, read once when a handle is opened: the
// product and device records, the limits of each scan source it has, and the
// number of halftone patterns the library hands out. The options take their
// lists and ranges from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ferrox/driver.h"
#include "ferrox/scanner_command.h"
#include "scanclient/scanner.h"

namespace ferroxsane {

struct ScanSource {
  const char* name;  // the value of the "source" option
  uint16_t code;     // SOURCE_*
  uint32_t flag;     // the ScanFrame flag that selects it (0 for the flatbed)
  LimitsRecord limits;
};

struct DeviceFacts {
  DeviceRecord device{};
  std::vector<ScanSource> sources;  // the flatbed first
  uint16_t halftoneCount = 0;

  // Colour with 16-bit samples.
  bool sixteenBit() const { return device.highestDataType >= DATATYPE_COLOUR16; }
};

// The vendor and model SANE shows for the product name: the first word is the
// vendor, the rest the model (the whole name when it is one word).
void SplitProductName(const std::string& name, std::string& vendor, std::string& model);

// Reads the facts through an open session. False (with `failure`) when the
// device cannot tell its flatbed limits.
bool ReadDeviceFacts(scanclient::Scanner& scanner, DeviceFacts& facts,
                     scanclient::ScanFailure& failure);

// The source's limits for setting index 0, read again (under the lock, before a scan).
int16_t ReadLimits(scanclient::Scanner& scanner, uint16_t source, LimitsRecord& limits);

}  // namespace ferroxsane
