// `scanapp info`: what the scanner says about itself, as key=value lines.
#include <cstdio>
#include <cstring>

#include "exit_codes.h"
#include "scan_job.h"

namespace scanapp {

namespace {

void PrintDevice(const DeviceRecord& device) {
  std::printf("device.highest_data_type=%u\n", device.highestDataType);
  std::printf("device.bit_codes=0x%08x\n", device.bitCodeMask);
  std::printf("device.capabilities=0x%02x\n", device.capabilities);
  std::printf("device.adf=%s\n", (device.capabilities & DEVCAP_ADF) != 0 ? "yes" : "no");
  std::printf("device.film=%s\n", (device.capabilities & DEVCAP_FILM) != 0 ? "yes" : "no");
  std::printf("device.model=%u\n", device.modelByte & 0x0Fu);
  std::printf("device.tone_maps=%s\n", device.mapsFlag == DEVICE_NO_TONE_MAPS ? "no" : "yes");
  std::printf("device.sixteen_bit_maps=%s\n",
              device.bitCodeMask == BIT_CODE_MASK_16BIT_MAPS ? "yes" : "no");
  std::printf("device.settings=%u\n", device.settingCount);
}

// The units of the values above, for scripts that show them.
void PrintUnits() {
  std::printf("units.resolution=dpi\n");
  std::printf("units.width=1/300 inch\n");
  std::printf("units.width_mm=mm\n");
}

void PrintLimits(const LimitsRecord& limits) {
  std::printf("limits.highest_resolution=%u\n", limits.highestResolution);
  std::printf("limits.native_x_resolution=%u\n", limits.nativeHorizontal);
  std::printf("limits.native_y_resolution=%u\n", limits.nativeVertical);
  std::printf("limits.width=%u\n", limits.widthLimit);
  std::printf("limits.height=%u\n", limits.heightLimit);
  std::printf("limits.width_mm=%.1f\n", limits.widthLimit * 25.4 / 300);
  std::printf("limits.height_mm=%.1f\n", limits.heightLimit * 25.4 / 300);
}

void PrintMaps(const MapInfo& maps) {
  std::printf("maps.largest_value=%u\n", maps.largestValue);
  std::printf("maps.channels=%u\n", maps.channelCount);
  std::printf("maps.bytes_per_entry=%u\n", maps.bytesPerEntry);
  std::printf("maps.entries=%u\n", maps.entryCount);
  std::printf("maps.grey_channel=%u\n", maps.greyChannel);
}

}  // namespace

int OpenForQuery(const std::string& programFolder, DeviceQuery& query) {
  if (std::string error; !Scanner::load(programFolder, query.scanner, error)) return Fail(error);
  ScanFailure failure;
  if (!query.scanner->openAndLock(failure)) {
    Fail(FailureText(failure, programFolder));
    return ExitCodeFor(failure.status);
  }
  alignas(8) uint8_t room[kRecordRoom] = {};
  query.scanner->send(CMD_GET_PRODUCT_INFO, &query.product);
  query.scanner->send(CMD_GET_DEVICE_INFO, room);
  std::memcpy(&query.device, room, sizeof query.device);
  query.product.productName[sizeof query.product.productName - 1] = '\0';
  return kExitOk;
}

int FinishQuery(DeviceQuery& query) {
  query.scanner->finish();
  return std::fflush(stdout) == 0 ? kExitOk : Fail("cannot write the information");
}

int RunInfo(const std::string& programFolder) {
  DeviceQuery query;
  if (const int status = OpenForQuery(programFolder, query); status != kExitOk) return status;
  Scanner& scanner = *query.scanner;
  alignas(8) uint8_t limits[kRecordRoom] = {};
  MapInfo maps{};
  if (int16_t status = scanner.send(CMD_GET_SCAN_LIMITS, limits, MakeValue(0, SOURCE_FLATBED)))
    return Fail(FailureText({status, "reading the scan limits"}, programFolder));
  if (int16_t status = scanner.send(CMD_GET_MAP_INFO, &maps))
    return Fail(FailureText({status, "reading the tone-map information"}, programFolder));

  LimitsRecord limitsRecord;
  std::memcpy(&limitsRecord, limits, sizeof limitsRecord);
  std::printf("product=%s\n", query.product.productName);
  PrintDevice(query.device);
  PrintLimits(limitsRecord);
  PrintMaps(maps);
  PrintUnits();
  MapFormat format{};
  if (scanner.send(CMD_GET_MAP_FORMAT, &format) == SCAN_OK) {
    std::printf("maps.format.largest_value=%u\n", format.largestValue);
    std::printf("maps.format.entries=%u\n", format.entryCount);
  }
  return FinishQuery(query);
}

}  // namespace scanapp
