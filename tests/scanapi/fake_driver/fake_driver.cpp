// The scripted driver: answers from DriverState, records every call.
#include <unistd.h>

#include <cstring>

#include "fake_driver.h"
#include "winport/module.h"
#include "winport/system.h"

namespace {

fake::DriverState g_state;

void Record(const DriverRequest& request) {
  const uint16_t operation = request.operation;
  if (operation < fake::kOperationSlots) ++g_state.calls[operation];
  if (g_state.logCount < fake::kLogSize)
    g_state.log[g_state.logCount++] = fake::DriverCall{operation, request.param, request.dataAddress};
}

// Fills the buffer with the next lines of the scan; returns their count.
uint32_t ReadLines(uint32_t bufferBytes, uint8_t* buffer) {
  const ScanGeometry geometry = fake::GeometryOf(g_state.lastParameters.frame);
  if (buffer == nullptr || geometry.bytesPerLine == 0) return 0;
  uint32_t total = geometry.lineCount;
  if (g_state.stopAfterLines != 0 && g_state.stopAfterLines < total) total = g_state.stopAfterLines;
  uint32_t lines = bufferBytes / geometry.bytesPerLine;
  if (g_state.linesPerRead != 0 && g_state.linesPerRead < lines) lines = g_state.linesPerRead;
  if (lines > total - g_state.linesDelivered) lines = total - g_state.linesDelivered;
  for (uint32_t line = 0; line < lines; ++line) {
    uint8_t* out = buffer + size_t{line} * geometry.bytesPerLine;
    for (uint32_t i = 0; i < geometry.bytesPerLine; ++i)
      out[i] = g_state.fillLines ? g_state.fillByte : fake::PatternByte(g_state.linesDelivered + line, i);
  }
  g_state.linesDelivered += lines;
  return lines;
}

void FillRecords(DriverRequest& request) {
  void* data = request.dataAddress;
  switch (request.operation) {
    case DRV_GET_DEVICE_RECORD:
      if (data) std::memcpy(data, &g_state.device, sizeof(DeviceRecord));
      break;
    case DRV_GET_LIMITS:
      if (data) std::memcpy(data, &g_state.limits, sizeof(LimitsRecord));
      break;
    case DRV_GET_MAP_INFO:
      if (data) std::memcpy(data, &g_state.mapInfo, sizeof(MapInfo));
      break;
    case DRV_DOWNLOAD_MAPS: {
      g_state.lastDownloadMode = request.param;
      const MapInfo& info = g_state.mapInfo;
      const bool sixteen = g_state.device.bitCodeMask == 8;
      const size_t entries = sixteen ? 65536 : info.entryCount;
      const size_t bytes = entries * info.bytesPerEntry * (request.param == 1 ? 3 : 1);
      if (data && bytes <= sizeof(g_state.lastDownload)) std::memcpy(g_state.lastDownload, data, bytes);
      break;
    }
    case DRV_SET_PARAMETERS:
      if (data) std::memcpy(&g_state.lastParameters, data, kScanParametersBytes);
      g_state.linesDelivered = 0;
      break;
    case DRV_GET_GEOMETRY:
      if (data) {
        ScanGeometry geometry;
        std::memcpy(&geometry, data, sizeof(geometry));
        geometry = fake::GeometryOf(geometry.frame);
        std::memcpy(data, &geometry, sizeof(geometry));
      }
      break;
    case DRV_READ_LINES:
      request.reply = ReadLines(request.param, static_cast<uint8_t*>(data));
      break;
    default:
      break;
  }
}

int16_t DriverEntry(DriverRequest* request) {
  Record(*request);
  const uint16_t operation = request->operation;
  if (operation == DRV_LOCK && g_state.lockDelayMicros > 0) usleep(g_state.lockDelayMicros);
  if (operation == DRV_READY && g_state.tickPerReadyPoll > 0)
    winport_test_advance_tick(g_state.tickPerReadyPoll);
  if (operation == DRV_READY && g_state.notReadyPolls > 0) {
    --g_state.notReadyPolls;
    return g_state.notReadyStatus;
  }
  if (operation == DRV_READ_LINES && g_state.shortBufferStatus != 0 &&
      request->param < fake::GeometryOf(g_state.lastParameters.frame).bytesPerLine)
    return g_state.shortBufferStatus;
  const int16_t status = operation < fake::kOperationSlots ? g_state.status[operation] : 0;
  if (operation < fake::kOperationSlots && operation != DRV_READ_LINES)
    request->reply = g_state.reply[operation];
  if (status == 0) FillRecords(*request);
  return status;
}

fake::DriverState* State() { return &g_state; }

constexpr WinportExport kExports[] = {
    {"ScannerDriverEntry", 1},
    {"FakeDriverState", 2},
};

}  // namespace

WINPORT_EXPORT int16_t WINAPI ScannerDriverEntry(DriverRequest* request) { return DriverEntry(request); }
WINPORT_EXPORT fake::DriverState* FakeDriverState() { return State(); }

WINPORT_MODULE(kExports, 2, nullptr, 0, nullptr)
