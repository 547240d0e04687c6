// Scan set-up and the scan itself: frame checks, CMD_SET_PARAMETERS,
// CMD_START_SCAN with its readiness and wait protocol, line reading, the end
// of a scan and the buffer-size query.
#pragma once

#include "ferrox/scanner_command.h"

namespace ferrox {

void CheckFrame(ScannerCommand& command);      // CMD_CHECK_FRAME
void SetParameters(ScannerCommand& command);   // CMD_SET_PARAMETERS
void StartScan(ScannerCommand& command);       // CMD_START_SCAN
void ReadLines(ScannerCommand& command);       // CMD_READ_LINES
void EndScan(ScannerCommand& command);         // CMD_END_SCAN
void GetBufferSize(ScannerCommand& command);   // CMD_GET_BUFFER_SIZE

}  // namespace ferrox
