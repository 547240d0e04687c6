// The built-in tone-map sets (MAP files beside the library), the working maps
// downloaded for a scan, and the tone-map commands.
#pragma once

#include <cstdint>

#include "ferrox/driver.h"
#include "ferrox/scanner_command.h"

namespace ferrox {

// Derives the shared map format from the map information (op 6 has filled it).
// False when the driver's information is unusable.
bool DeriveMapFormat();
// Op 6, then allocates this process's buffers and reads the MAP files.
// False (buffers freed) when op 6 fails, the information is unusable or an
// allocation fails; a missing or wrong-sized file only gives identity maps.
bool LoadToneMaps();
// Loads on demand when this process has no buffers yet: SCAN_OK, or the
// status a command answers (-8 before any device initialisation, -7 without
// a driver, -4 when the loading failed).
int16_t EnsureToneMaps();
void FreeToneMaps();

void GetToneMap(ScannerCommand& command);     // CMD_GET_TONE_MAP
void AdjustToneMap(ScannerCommand& command);  // CMD_ADJUST_TONE_MAP
void GetMapFormat(ScannerCommand& command);   // CMD_GET_MAP_FORMAT

// Prepares the working maps for `params` (data type, flags, map mode and
// address, brightness, contrast), reversing them once for negative film.
// Writes back the map address and mode. SCAN_OK or SCAN_ERR_PARAM.
int16_t PrepareWorkingMaps(ScanParameters& params);
// Op 7 with the prepared map mode and the working buffer.
int16_t DownloadWorkingMaps(uint16_t mapMode);

}  // namespace ferrox
