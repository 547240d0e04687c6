#include "driver_call.h"

#include "ferrox_state.h"

namespace ferrox {

bool DriverBound() { return Process().driverEntry != nullptr; }

int16_t CallDriver(uint16_t operation) {
  ProcessState& process = Process();
  process.request.operation = operation;
  return process.driverEntry(&process.request);
}

int16_t CallDriverParam(uint16_t operation, uint32_t param) {
  Process().request.param = param;
  return CallDriver(operation);
}

int16_t CallDriverData(uint16_t operation, uint32_t param, void* data) {
  ProcessState& process = Process();
  process.request.param = param;
  process.request.dataAddress = data;
  return CallDriver(operation);
}

uint32_t DriverReply() { return Process().request.reply; }

}  // namespace ferrox
