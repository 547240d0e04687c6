// ScannerCommander: the dispatcher over the command codes, with the commands
// that open and close the device and answer from the library's own state.
#include <cstring>
#include <new>

#include "commands.h"
#include "driver_call.h"
#include "ferrox_state.h"
#include "lock.h"
#include "music.h"
#include "scan_commands.h"
#include "tone_maps.h"
#include "winport/types.h"

namespace ferrox {

namespace {

// Sets the status and answers false unless a driver is bound.
bool RequireDriver(ScannerCommand& command) {
  if (DriverBound()) return true;
  command.status = SCAN_ERR_NO_DRIVER;
  return false;
}

// Answers false (status -3) when a command that reads or writes `data` has none.
bool RequireData(ScannerCommand& command) {
  if (command.data != nullptr) return true;
  command.status = SCAN_ERR_PARAM;
  return false;
}

void GetDeviceInfo(ScannerCommand& command) {
  if (!RequireDriver(command) || !RequireData(command)) return;
  CallDriverData(DRV_GET_DEVICE_RECORD, 0, command.data);  // the status is not reported
  auto* bytes = static_cast<uint8_t*>(command.data);
  const SharedState& shared = Shared();
  if (shared.device.capabilities & DEVCAP_KEEP_CALLBACK) {
    uint32_t word;
    std::memcpy(&word, bytes + offsetof(DeviceRecord, capabilities), sizeof(word));
    word |= DEVICE_INFO_CALLBACK_BIT;
    std::memcpy(bytes + offsetof(DeviceRecord, capabilities), &word, sizeof(word));
  }
  std::memcpy(bytes + offsetof(DeviceRecord, productWord), &shared.product.productWord,
              sizeof(uint16_t));
}

void CopyOut(ScannerCommand& command, const void* source, size_t size) {
  if (RequireData(command)) std::memcpy(command.data, source, size);
}

void GetHalftone(ScannerCommand& command) {
  const uint16_t pattern = ValueLow(command);
  if (pattern >= 4) {
    command.status = SCAN_ERR_PARAM;
    return;
  }
  CopyOut(command, Shared().halftone[pattern], kHalftonePatternBytes);
}

// Not locked: op 9 with its status. Locked: op 9 only for the lock owner,
// and status 0 either way.
void Forward10(ScannerCommand& command) {
  if (!RequireDriver(command)) return;
  if (!IsLocked()) {
    command.status = CallDriver(DRV_FORWARD_9);
    return;
  }
  if (PresentsCurrentHandle(command)) CallDriver(DRV_FORWARD_9);
}

// Another application's lock: nothing is done and the status stays 0.
void Calibrate(ScannerCommand& command) {
  if (IsLocked() && !PresentsCurrentHandle(command)) return;
  if (RequireDriver(command)) command.status = CallDriver(DRV_CALIBRATE);
}

void Reinitialize(ScannerCommand& command) {
  command.status = CheckGate(Gate::Owner, command);
  if (command.status != SCAN_OK || !RequireDriver(command)) return;
  command.status = CallDriverData(DRV_REINITIALIZE, 0, command.data);
  if (command.status == SCAN_OK && !InitializeDevice()) command.status = SCAN_ERR_RESOURCE;
}

// The commands answered here (everything but the forwarded ones).
void Dispatch(ScannerCommand& command) {
  switch (command.code) {
    case CMD_OPEN: return OpenDevice(command);
    case CMD_CLOSE: return CloseDevice(command);
    case CMD_GET_DEVICE_INFO: return GetDeviceInfo(command);
    case CMD_GET_PRODUCT_INFO: return CopyOut(command, &Shared().product, sizeof(ProductRecord));
    case CMD_GET_HALFTONE: return GetHalftone(command);
    case CMD_GET_MAP_INFO: return CopyOut(command, &Shared().mapInfo, sizeof(MapInfo));
    case CMD_GET_TONE_MAP: return GetToneMap(command);
    case CMD_ADJUST_TONE_MAP: return AdjustToneMap(command);
    case CMD_CHECK_FRAME: return CheckFrame(command);
    case CMD_FORWARD_10: return Forward10(command);
    case CMD_LOCK: return Lock(command);
    case CMD_SET_PARAMETERS: return SetParameters(command);
    case CMD_START_SCAN: return StartScan(command);
    case CMD_READ_LINES: return ReadLines(command);
    case CMD_END_SCAN: return EndScan(command);
    case CMD_UNLOCK:
      command.status = CheckGate(Gate::Owner, command);
      if (command.status == SCAN_OK) Unlock(command);
      return;
    case CMD_SET_PROGRESS_CALLBACK: return SetProgressCallback(command);
    case CMD_GET_BUFFER_SIZE: return GetBufferSize(command);
    case CMD_REINITIALIZE: return Reinitialize(command);
    case CMD_CALIBRATE: return Calibrate(command);
    case CMD_GET_MAP_FORMAT: return GetMapFormat(command);
    default:
      if (!RunForwardedCommand(command)) command.status = SCAN_ERR_COMMAND;
      return;
  }
}

}  // namespace

// Reads the device record into the shared copy and, unless another process
// did so already or the device has none, loads the tone maps. On failure the
// device is closed again (op 1) and the map buffers freed.
bool InitializeDevice() {
  SharedState& shared = Shared();
  DeviceRecord device{};
  bool ok = CallDriverData(DRV_GET_DEVICE_RECORD, Process().request.param, &device) == DRV_STATUS_OK;
  if (ok) {
    shared.device = device;
    shared.mapsAre16Bit = device.bitCodeMask == BIT_CODE_MASK_16BIT_MAPS ? 1 : 0;
    shared.deviceKnown = 1;
    if (shared.mapsReady == 0 && device.mapsFlag != DEVICE_NO_TONE_MAPS) {
      ok = LoadToneMaps();
      if (ok) shared.mapsReady = 1;
    }
  }
  if (!ok) {
    CallDriver(DRV_CLOSE_DEVICE);
    FreeToneMaps();
  }
  return ok;
}

void OpenDevice(ScannerCommand& command) {
  ProcessState& process = Process();
  if (!DriverBound()) {
    command.status = SCAN_ERR_NO_DRIVER;
  } else if (process.openCount == UINT16_MAX) {
    command.status = SCAN_ERR_RESOURCE;  // the count would wrap to a first open
  } else if (++process.openCount == 1) {
    if (CallDriver(DRV_OPEN_DEVICE) != DRV_STATUS_OK) {
      command.status = SCAN_ERR_OPEN;
    } else if (!InitializeDevice()) {
      command.status = SCAN_ERR_RESOURCE;
    }
  }
  MusicOpen();
}

void CloseDevice(ScannerCommand&) {
  ProcessState& process = Process();
  if (process.openCount != 0 && --process.openCount == 0) {
    if (DriverBound()) CallDriver(DRV_CLOSE_DEVICE);
    FreeToneMaps();
  }
  MusicClose();
}

}  // namespace ferrox

// The one export. The return value repeats the status; callers read the record.
WINPORT_EXPORT int32_t WINAPI ScannerCommander(ScannerCommand* command) {
  if (command == nullptr) return SCAN_ERR_PARAM;
  command->status = SCAN_OK;
  try {
    ferrox::Dispatch(*command);
  } catch (const std::bad_alloc&) {
    command->status = SCAN_ERR_RESOURCE;
  } catch (...) {
    command->status = SCAN_ERR_RESOURCE;
  }
  return command->status;
}
