#include "fault_names.h"

#include <cstdlib>

#include "ferrox/driver.h"
#include "virtscan/virtscan.h"

namespace virtscan {

namespace {

struct OperationName {
  const char* name;
  uint16_t operation;
};

constexpr OperationName kOperations[] = {
    {"open", DRV_OPEN_DEVICE},
    {"close", DRV_CLOSE_DEVICE},
    {"lock", DRV_LOCK},
    {"unlock", DRV_UNLOCK},
    {"device-info", DRV_GET_DEVICE_RECORD},
    {"limits", DRV_GET_LIMITS},
    {"map-info", DRV_GET_MAP_INFO},
    {"maps", DRV_DOWNLOAD_MAPS},
    {"geometry", DRV_GET_GEOMETRY},
    {"parameters", DRV_SET_PARAMETERS},
    {"start", DRV_START_SCAN},
    {"read", DRV_READ_LINES},
    {"end", DRV_END_SCAN},
    {"halftone", DRV_SET_HALFTONE},
    {"setting", DRV_SELECT_SETTING},
    {"ready", DRV_READY},
    {"wait", DRV_GET_WAIT},
    {"buffer-size", DRV_GET_BUFFER_SIZE},
    {"reinitialize", DRV_REINITIALIZE},
    {"calibrate", 43},
    {"clean", 45},
};

struct StatusName {
  const char* name;
  int16_t status;
};

constexpr StatusName kStatuses[] = {
    {"ok", 0},
    {"io-error", kStatusIoError},
    {"stopped", DRV_STATUS_READ_STOP},
    {"jammed", DRV_STATUS_READ_STOP},
    {"feeder-empty", kStatusFeederEmpty},
    {"not-ready", kStatusNotReady},
    {"not-ready-final", DRV_STATUS_NOT_READY_FINAL},
    {"no-memory", kStatusNoMemory},
    {"bad-request", kStatusBadRequest},
    {"sequence", kStatusSequence},
    {"no-document", kStatusNoDocument},
    {"buffer-too-small", kStatusBufferTooSmall},
};

bool Decimal(const std::string& text, long low, long high, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0' && value >= low && value <= high;
}

}  // namespace

bool operationByName(const std::string& name, uint16_t& operation) {
  for (const OperationName& entry : kOperations) {
    if (name == entry.name) {
      operation = entry.operation;
      return true;
    }
  }
  long value = 0;
  if (!Decimal(name, 0, 0xFFFF, value)) return false;
  operation = static_cast<uint16_t>(value);
  return true;
}

bool statusByName(const std::string& name, int16_t& status) {
  for (const StatusName& entry : kStatuses) {
    if (name == entry.name) {
      status = entry.status;
      return true;
    }
  }
  long value = 0;
  if (!Decimal(name, -32768, 32767, value)) return false;
  status = static_cast<int16_t>(value);
  return true;
}

std::string faultNameList() {
  std::string operations;
  for (const OperationName& entry : kOperations)
    operations += (operations.empty() ? "" : ", ") + std::string(entry.name) + "=" +
                  std::to_string(entry.operation);
  std::string statuses;
  for (const StatusName& entry : kStatuses)
    statuses += (statuses.empty() ? "" : ", ") + std::string(entry.name) + "=" +
                std::to_string(entry.status);
  return "operations " + operations + "; statuses " + statuses;
}

}  // namespace virtscan
