#include "scan_commands.h"

#include <algorithm>
#include <cstring>

#include "driver_call.h"
#include "enhancement.h"
#include "ferrox_state.h"
#include "lock.h"
#include "music.h"
#include "tone_maps.h"
#include "winport/system.h"

namespace ferrox {

namespace {

constexpr DWORD kReadinessTimeoutMs = 40000;
// The pause between two polls of the device or the clock: short against
// every wait the device names, long enough that waiting costs no CPU.
constexpr DWORD kPollIntervalMs = 5;
constexpr uint64_t kFrameUnitsPerInch = 300;
constexpr uint32_t kRestrictedForbiddenFlags = SCANFLAG_0x8 | SCANFLAG_COLOUR_ONLY | SCANFLAG_BOTTOM_UP |
                                               SCANFLAG_0x40 | SCANFLAG_0x8000;

uint16_t ScanSource(uint32_t flags) {
  if (flags & SCANFLAG_POSITIVE) return SOURCE_POSITIVE;
  if (flags & SCANFLAG_NEGATIVE) return SOURCE_NEGATIVE;
  if (flags & SCANFLAG_ADF) return SOURCE_ADF;
  return SOURCE_FLATBED;
}

// Op 5 for the frame's setting and source into this process's limits, then
// the frame against them. A failing op 5 fails the check: the limits would be stale.
bool FrameFits(const ScanFrame& frame) {
  LimitsRecord& limits = Process().limits;
  const uint32_t param = frame.settingIndex | (uint32_t{ScanSource(frame.flags)} << 16);
  if (CallDriverData(DRV_GET_LIMITS, param, &limits) != DRV_STATUS_OK) return false;
  const uint64_t columns = uint64_t{frame.xResolution} * frame.width / kFrameUnitsPerInch;
  const uint64_t rows = uint64_t{frame.yResolution} * frame.height / kFrameUnitsPerInch;
  return columns >= 1 && rows >= 1 && frame.xResolution <= limits.highestResolution &&
         frame.yResolution <= limits.highestResolution &&
         uint32_t{frame.left} + frame.width <= limits.widthLimit && frame.width <= limits.widthLimit &&
         uint32_t{frame.top} + frame.height <= limits.heightLimit && frame.height <= limits.heightLimit;
}

bool BitCodeAccepted(uint16_t bitCode) {
  if (bitCode == 0) return true;
  if (bitCode > 32) return false;
  return (Shared().device.bitCodeMask >> (bitCode - 1)) & 1u;
}

// Step 2 of the set-up: every check that gives -3.
bool ParametersAcceptable(const ScanParameters& params) {
  const ScanFrame& frame = params.frame;
  const DeviceRecord& device = Shared().device;
  if (frame.settingIndex >= device.settingCount || frame.dataType > device.highestDataType ||
      params.brightness < -127 || params.brightness > 127 || params.contrast < -127 ||
      params.contrast > 127 || !FrameFits(frame))
    return false;
  if (frame.flags & SCANFLAG_RESTRICTED) {
    const LimitsRecord& limits = Process().limits;
    if ((frame.flags & (kRestrictedForbiddenFlags | SCANFLAG_ADF)) || frame.bitCode != 0 ||
        frame.xResolution > limits.nativeHorizontal || frame.yResolution > limits.nativeVertical ||
        (frame.dataType != DATATYPE_GREY && frame.dataType != DATATYPE_COLOUR))
      return false;
  }
  // Halftone above the native resolution is refused: the interpolators would
  // read the device's dithered data as grey samples.
  if (frame.dataType == DATATYPE_HALFTONE && EnhancementWanted(frame)) return false;
  return frame.dataType != DATATYPE_HALFTONE || params.halftonePattern != nullptr;
}

// Step 4: the driver receives the setting, halftone pattern, maps and parameters.
int16_t SendSetUp(ScanParameters& params) {
  SharedState& shared = Shared();
  int16_t status = DRV_STATUS_OK;
  if (params.frame.settingIndex != shared.lastSettingIndex) {
    status = CallDriverParam(DRV_SELECT_SETTING, params.frame.settingIndex);
    if (status != DRV_STATUS_OK) return status;
    shared.lastSettingIndex = params.frame.settingIndex;
  }
  if (params.frame.dataType != DATATYPE_COLOUR) params.frame.flags &= ~SCANFLAG_COLOUR_ONLY;
  if (params.frame.dataType == DATATYPE_HALFTONE) {
    status = CallDriverData(DRV_SET_HALFTONE, Process().request.param,
                            const_cast<uint8_t*>(params.halftonePattern));
    if (status != DRV_STATUS_OK) return status;
  }
  // The maps were reversed for negative film when they were prepared: once only.
  status = DownloadWorkingMaps(params.mapMode);
  if (status != DRV_STATUS_OK) return status;
  status = SetUpEnhancement(params);
  if (status != DRV_STATUS_OK) return status;
  return CallDriverData(DRV_SET_PARAMETERS, Process().request.param, &params);
}

int16_t SendEvent(uint32_t event, uint32_t amount) {
  ScanProgressFn callback = Process().progressCallback;
  return callback != nullptr ? callback(event, amount) : 0;
}

// Step 4 of the start: polls op 22 for up to 40 s while the device is not
// ready, pausing between polls.
int16_t AwaitReadiness() {
  int16_t status = CallDriver(DRV_READY);
  if (status == DRV_STATUS_OK) return status;
  SendEvent(PROGRESS_NOT_READY, 0);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kReadinessTimeoutMs) {
    status = CallDriver(DRV_READY);
    if (status == DRV_STATUS_OK || status == DRV_STATUS_NOT_READY_FINAL) break;
    Sleep(kPollIntervalMs);
  }
  return CallDriver(DRV_READY);
}

// Step 6: waits the time op 24 names. With a callback, it learns the whole
// wait, then each elapsed part, and may end the wait by answering nonzero;
// the wait also ends when it has run out. Each pass first pauses for a poll
// interval (never longer than what remains).
void AwaitDeviceWait() {
  if (CallDriver(DRV_GET_WAIT) != DRV_STATUS_OK) return;
  uint32_t remaining = DriverReply();
  if (remaining == 0) return;
  const bool withCallback = Process().progressCallback != nullptr;
  DWORD previous = GetTickCount();
  if (withCallback) SendEvent(PROGRESS_WAIT, remaining);
  while (remaining > 0) {
    Sleep(std::min<uint32_t>(kPollIntervalMs, remaining));
    const DWORD now = GetTickCount();
    const uint32_t elapsed = std::min<uint32_t>(now - previous, remaining);
    previous = now;
    remaining -= elapsed;
    if (withCallback && SendEvent(PROGRESS_WAIT, elapsed) != 0) break;
  }
}

}  // namespace

// No gate, but the check needs an open device: it compares the frame with the
// device record the device initialisation of CMD_OPEN read, and sends ops 5
// and 8 to the driver, which this process must have opened first. Without an
// open in this process: -8.
void CheckFrame(ScannerCommand& command) {
  if (!DriverBound()) {
    command.status = SCAN_ERR_NO_DRIVER;
    return;
  }
  if (command.data == nullptr || Process().openCount == 0 || Shared().deviceKnown == 0) {
    command.status = command.data == nullptr ? SCAN_ERR_PARAM : SCAN_ERR_STATE;
    return;
  }
  ScanGeometry geometry;
  std::memcpy(&geometry, command.data, sizeof(geometry));
  const ScanFrame& frame = geometry.frame;
  const DeviceRecord& device = Shared().device;
  if (frame.dataType > device.highestDataType || frame.settingIndex > device.settingCount ||
      (frame.dataType >= DATATYPE_GREY && !BitCodeAccepted(frame.bitCode)) || !FrameFits(frame)) {
    command.status = SCAN_ERR_PARAM;
    return;
  }
  command.status = CallDriverData(DRV_GET_GEOMETRY, Process().request.param, command.data);
}

void SetParameters(ScannerCommand& command) {
  command.status = CheckGate(Gate::Owner, command);
  if (command.status != SCAN_OK) return;
  ProcessState& process = Process();
  if (!DriverBound() || command.data == nullptr || Shared().deviceKnown == 0) {
    command.status = !DriverBound() ? SCAN_ERR_NO_DRIVER
                     : command.data == nullptr ? SCAN_ERR_PARAM : SCAN_ERR_STATE;
    return;
  }
  std::memcpy(&process.params, command.data, kScanParametersBytes);
  ScanParameters& params = process.params;
  if (!ParametersAcceptable(params)) {
    command.status = SCAN_ERR_PARAM;
    return;
  }
  int16_t status = PrepareWorkingMaps(params);
  if (status == SCAN_OK && params.frame.dataType >= DATATYPE_HALFTONE &&
      params.frame.dataType <= DATATYPE_COLOUR16 && !BitCodeAccepted(params.frame.bitCode))
    status = SCAN_ERR_PARAM;
  if (status == SCAN_OK) status = SendSetUp(params);
  if (status != SCAN_OK) {
    command.status = status;
    return;
  }
  MusicRefresh(params.frame.flags);
  process.paramsPrepared = true;
  SetLockBits(LOCK_PREPARED);
}

void StartScan(ScannerCommand& command) {
  command.status = CheckGate(Gate::Prepared, command);
  if (command.status != SCAN_OK) return;
  ProcessState& process = Process();
  if (!DriverBound() || !process.paramsPrepared) {
    command.status = !DriverBound() ? SCAN_ERR_NO_DRIVER : SCAN_ERR_STATE;
    return;
  }
  command.status = CallDriver(DRV_START_SCAN);
  if (command.status != SCAN_OK) return;
  SetLockBits(LOCK_SCANNING);
  const DeviceRecord& device = Shared().device;
  if ((device.capabilities & DEVCAP_KEEP_CALLBACK) == 0) process.progressCallback = nullptr;
  command.status = AwaitReadiness();
  if (command.status != SCAN_OK) {
    ClearLockBits(LOCK_SCANNING);
    return;
  }
  if (device.settingCount > 1) {
    if (CallDriver(DRV_SCAN_CHECK_1) != DRV_STATUS_OK) SendEvent(PROGRESS_CHECK_1, 0);
    CallDriverParam(DRV_SELECT_SETTING, process.params.frame.settingIndex);
  }
  AwaitDeviceWait();
  if (CallDriver(DRV_SCAN_CHECK_3) != DRV_STATUS_OK) {
    SendEvent(PROGRESS_CHECK_3, 0);
    CallDriver(DRV_SCAN_RECOVER_3);
  }
  SendEvent(PROGRESS_SCAN_BEGINS, EnhancementDeviceLines());
  MusicStartScanTune();
}

void ReadLines(ScannerCommand& command) {
  command.status = CheckGate(Gate::Scanning, command);
  if (command.status != SCAN_OK) return;
  if (!DriverBound() || command.data == nullptr) {
    command.status = !DriverBound() ? SCAN_ERR_NO_DRIVER : SCAN_ERR_PARAM;
    return;
  }
  if (EnhancementActive()) {
    ReadEnhancedLines(command);
    return;
  }
  command.status = CallDriverData(DRV_READ_LINES, command.value, command.data);
  if (command.status >= 0) command.result = DriverReply();
}

void EndScan(ScannerCommand& command) {
  command.status = CheckGate(Gate::Scanning, command);
  if (command.status != SCAN_OK) return;
  if (!DriverBound()) {
    command.status = SCAN_ERR_NO_DRIVER;
    return;
  }
  command.status = CallDriver(DRV_END_SCAN);
  ClearLockBits(LOCK_SCANNING);
  RemoveSpool();
  MusicEndScanTune();
}

void GetBufferSize(ScannerCommand& command) {
  command.status = CheckGate(Gate::Prepared, command);
  if (command.status != SCAN_OK) return;
  if (!DriverBound()) {
    command.status = SCAN_ERR_NO_DRIVER;
    return;
  }
  command.status = CallDriver(DRV_GET_BUFFER_SIZE);
  if (command.status == SCAN_OK) command.result = DriverReply();
  // Enhanced lines are delivered whole: at least four of them per call.
  const uint64_t floor = EnhancementBufferFloor();
  if (floor > command.result) command.result = static_cast<uint32_t>(std::min<uint64_t>(floor, UINT32_MAX));
}

}  // namespace ferrox
