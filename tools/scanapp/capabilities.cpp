// `scanapp -A`: what the scanner can do, in the terms of scanapp's options:
// its modes with their depths, its sources with their bed sizes, and its
// resolutions, native and enhanced in software.
#include <cstdio>
#include <cstring>
#include <string>

#include "exit_codes.h"
#include "scan_job.h"

namespace scanapp {

namespace {

struct SourceLine {
  uint16_t code;
  const char* option;
  uint8_t needs;  // DEVCAP_* bits, 0: always there
};

constexpr SourceLine kSources[] = {{SOURCE_FLATBED, "flatbed", 0},
                                   {SOURCE_POSITIVE, "positive", DEVCAP_FILM},
                                   {SOURCE_NEGATIVE, "negative", DEVCAP_FILM},
                                   {SOURCE_ADF, "adf", DEVCAP_ADF}};

constexpr const char* kModes[] = {"lineart (1 bit)", "halftone (1 bit)", "gray (8 bits)",
                                  "color (24 bits)", "color16 (48 bits)"};

std::string Mm(uint32_t units) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", units * 25.4 / 300);
  return text;
}

void PrintModes(const DeviceRecord& device) {
  std::printf("  --mode       ");
  for (uint16_t type = 0; type <= device.highestDataType && type < 5; ++type)
    std::printf("%s%s", type == 0 ? "" : ", ", kModes[type]);
  std::printf(" [color]\n");
}

}  // namespace

int RunCapabilities(const std::string& programFolder) {
  DeviceQuery query;
  if (const int status = OpenForQuery(programFolder, query); status != kExitOk) return status;
  const DeviceRecord& device = query.device;
  std::printf("Options of %s:\n", query.product.productName);
  PrintModes(device);

  LimitsRecord flatbed{};
  alignas(8) uint8_t room[kRecordRoom];
  bool first = true;
  std::string sizes;
  for (const SourceLine& source : kSources) {
    if (source.needs != 0 && (device.capabilities & source.needs) == 0) continue;
    std::memset(room, 0, sizeof room);
    if (int16_t status = query.scanner->send(CMD_GET_SCAN_LIMITS, room, MakeValue(0, source.code))) {
      Fail(FailureText({status, "reading the scan limits"}, programFolder));
      return ExitCodeFor(status);
    }
    LimitsRecord limits;
    std::memcpy(&limits, room, sizeof limits);
    if (first) flatbed = limits;
    sizes += std::string(first ? "" : "\n               ") + source.option + " " +
             Mm(limits.widthLimit) + " x " + Mm(limits.heightLimit) + " mm";
    first = false;
  }
  std::printf("  --source     %s [flatbed]\n", sizes.c_str());
  std::printf(
      "  --resolution 1..%u dpi [300]: native up to %u x %u dpi, above that enhanced in "
      "software (every mode but halftone)\n",
      flatbed.highestResolution, flatbed.nativeHorizontal, flatbed.nativeVertical);
  std::printf("  -l, -x       0..%s mm (the bed's width)\n", Mm(flatbed.widthLimit).c_str());
  std::printf("  -t, -y       0..%s mm (the bed's height)\n", Mm(flatbed.heightLimit).c_str());
  std::printf("  --brightness, --contrast -127..127 [0]\n");
  if (device.highestDataType >= DATATYPE_HALFTONE) std::printf("  --halftone   0..3 [0]\n");
  return FinishQuery(query);
}

}  // namespace scanapp
