// Calls into the bound driver through this process's one request packet.
#pragma once

#include <cstdint>

#include "ferrox/driver.h"

namespace ferrox {

bool DriverBound();

// Sends `operation` with whatever param and data the packet holds from earlier
// calls. The caller has checked DriverBound().
int16_t CallDriver(uint16_t operation);
// The same after setting param, or param and data.
int16_t CallDriverParam(uint16_t operation, uint32_t param);
int16_t CallDriverData(uint16_t operation, uint32_t param, void* data);
// The driver's reply to the last call.
uint32_t DriverReply();

}  // namespace ferrox
