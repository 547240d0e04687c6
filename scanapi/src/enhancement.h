// Software resolution enhancement: when a scan asks for more than the device
// scans natively, the device scans at its native resolution, the whole scan
// is spooled to "NVKTEMP.TMP" in this user's private temporary folder, and
// CMD_READ_LINES then delivers lines interpolated (or thresholded, for line
// art) to the requested resolution.
//
// All of it stays with the process that scans: the spool file handle, the
// line buffer and the geometry mean nothing in another process.
#pragma once

#include <cstdint>

#include "ferrox/driver.h"
#include "ferrox/scanner_command.h"

namespace ferrox {

// Whether `frame` needs enhancement against the limits the frame check read.
bool EnhancementWanted(const ScanFrame& frame);
// Decides enhancement for the parameters (step 4 of the set-up, before op 14):
// off, or on with `params` changed to what the device scans. SCAN_OK, -3 for
// a geometry the driver describes inconsistently, or a driver status.
int16_t SetUpEnhancement(ScanParameters& params);
bool EnhancementActive();
// Device lines the spool will hold (progress event 4), 0 when off.
uint32_t EnhancementDeviceLines();
// 4 x the output line length, 0 when off (CMD_GET_BUFFER_SIZE's floor).
uint64_t EnhancementBufferFloor();
// CMD_READ_LINES with enhancement on: spools on the first call, then delivers.
void ReadEnhancedLines(ScannerCommand& command);
// Closes and deletes the spool file and frees the line buffer, if they exist.
void RemoveSpool();
// Enhancement off and its resources gone (a new set-up, unlock, detach).
void EndEnhancement();

// The converters, exposed for their own tests. N output pixels from M
// hardware pixels; `channels` samples per pixel (1 or 3) of `sampleBytes` (1 or 2).
void InterpolateLine(const uint8_t* source, uint32_t sourcePixels, uint8_t* output,
                     uint32_t outputPixels, uint32_t channels, uint32_t sampleBytes);
void ThresholdLine(const uint8_t* source, uint32_t sourcePixels, uint8_t* output,
                   uint32_t outputPixels, uint32_t outputResolution, uint32_t sourceResolution,
                   uint8_t threshold);

}  // namespace ferrox
