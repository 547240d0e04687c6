// The command handlers of ScannerCommander, by group.
#pragma once

#include "ferrox/scanner_command.h"

namespace ferrox {

// Commands forwarded to the driver as one operation after their gate (the
// table in forwarding.cpp). False when `command.code` is not one of them.
bool RunForwardedCommand(ScannerCommand& command);

// Open, close and the device initialisation they share with CMD_REINITIALIZE.
void OpenDevice(ScannerCommand& command);
void CloseDevice(ScannerCommand& command);
bool InitializeDevice();

}  // namespace ferrox
