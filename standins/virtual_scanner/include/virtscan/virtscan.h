// The virtual scanner: a low-level scanner driver that scans a document held in
// a file (or a built-in test chart) instead of paper, for running and testing
// the scanner side without hardware.
//
// Configuration. The driver reads the values below from its scanner key: the
// subkey of "HKEY_LOCAL_MACHINE\Software\Duzizaziz\Ridezodu\Scanners" (searched
// first) or "HKEY_LOCAL_MACHINE\Software\Scanner Information" whose "Driver
// Pathname" names this driver's own file (same file, compared as canonical
// paths); the highest enumeration index wins, as in the scanner API's search.
// The variable VIRTSCAN_KEY names another key instead (a path under
// HKEY_LOCAL_MACHINE). The configuration is read when the driver is loaded and
// again at every device open (operation 0). A value missing from the key keeps
// its default.
//
// Fault injection and the trace come from the key's values or from the
// environment variables named below; a variable, when set, wins over the key.
#pragma once

#include <cstdint>

namespace virtscan {

// The file name the build gives the driver (in build/bin).
inline constexpr const char* kDriverFileName = "virtscan.dll";

// Registry values of the scanner key (DWORD unless marked as a string):
//   "Document" (string)        the BMP file scanned; a "%d" in it is the feeder
//                              page number (1 for the other sources)
//   "Document Resolution"      dots per inch of the file (default: its header)
//   "Capabilities"             bit 0 ADF, bits 5/6 film, bit 7 callback kept
//   "Bit Codes"                bit-code mask (8 alone: 16-bit tone maps)
//   "Model Number"             0..15;  "Setting Count" number of setting indices
//   "Highest Data Type"        0..4;   "No Tone Maps" 1: the device needs none
//   "Highest Resolution", "Native X Resolution", "Native Y Resolution" (dpi)
//   "Width Limit", "Height Limit" (1/300 inch, flatbed and feeder)
//   "Map Channels" 1 or 3;  "Grey Channel" 3, 4 or 5
//   "ADF Pages"                pages in the feeder at each device open
inline constexpr const char* kValueDocument = "Document";
inline constexpr const char* kValueDocumentDpi = "Document Resolution";
inline constexpr const char* kValueCapabilities = "Capabilities";
inline constexpr const char* kValueBitCodes = "Bit Codes";
inline constexpr const char* kValueModel = "Model Number";
inline constexpr const char* kValueSettings = "Setting Count";
inline constexpr const char* kValueHighestType = "Highest Data Type";
inline constexpr const char* kValueNoToneMaps = "No Tone Maps";
inline constexpr const char* kValueHighestDpi = "Highest Resolution";
inline constexpr const char* kValueNativeXDpi = "Native X Resolution";
inline constexpr const char* kValueNativeYDpi = "Native Y Resolution";
inline constexpr const char* kValueWidthLimit = "Width Limit";
inline constexpr const char* kValueHeightLimit = "Height Limit";
inline constexpr const char* kValueMapChannels = "Map Channels";
inline constexpr const char* kValueGreyChannel = "Grey Channel";
inline constexpr const char* kValueAdfPages = "ADF Pages";
// Fault injection and trace, as the variables below.
inline constexpr const char* kValueFaults = "Faults";  // string, as VIRTSCAN_FAULTS
inline constexpr const char* kValueNotReadyPolls = "Not Ready Polls";
inline constexpr const char* kValueNotReadyMs = "Not Ready Milliseconds";
inline constexpr const char* kValueWaitMs = "Wait Milliseconds";
inline constexpr const char* kValueMaintenanceMs = "Maintenance Milliseconds";
inline constexpr const char* kValueStopAfterLines = "Stop After Lines";
inline constexpr const char* kValueTraceFile = "Trace File";  // string

// Environment variables.
inline constexpr const char* kEnvKey = "VIRTSCAN_KEY";
// "op:call:status[,op:call:status...]": operation `op` answers `status` on its
// call number `call` (1 = the first after the configuration was read), or on
// every call when `call` is "*". An injected status replaces the operation: it
// does nothing else and its reply is 0. `op` and `status` are numbers or
// names: operations open, close, lock, unlock, device-info, limits, map-info,
// maps, geometry, parameters, start, read, end, halftone, setting, ready,
// wait, buffer-size, reinitialize, calibrate, clean; statuses ok, io-error
// (-36), stopped and jammed (7, which ends a read), feeder-empty (-30),
// not-ready (-22), not-ready-final (-20), no-memory (-4), bad-request (-33),
// sequence (-32), no-document (-34), buffer-too-small (-31). So
// "read:3:io-error" is "16:3:-36".
inline constexpr const char* kEnvFaults = "VIRTSCAN_FAULTS";
inline constexpr const char* kEnvNotReadyPolls = "VIRTSCAN_NOT_READY_POLLS";  // readiness polls
inline constexpr const char* kEnvNotReadyMs = "VIRTSCAN_NOT_READY_MS";  // ms after the scan start
inline constexpr const char* kEnvWaitMs = "VIRTSCAN_WAIT_MS";           // reply of operation 24
// How long a calibration (operation 43) or a cleaning (45) takes, as on a
// real device; 0 (the default): at once.
inline constexpr const char* kEnvMaintenanceMs = "VIRTSCAN_MAINTENANCE_MS";
inline constexpr const char* kEnvStopAfterLines = "VIRTSCAN_STOP_AFTER_LINES";  // lines per scan
inline constexpr const char* kEnvTrace = "VIRTSCAN_TRACE";                      // trace file path

// Defaults.
inline constexpr uint16_t kDefaultHighestDpi = 2400;
inline constexpr uint16_t kDefaultNativeDpi = 600;
inline constexpr uint16_t kDefaultWidthLimit = 2550;   // 8.5 inch
inline constexpr uint16_t kDefaultHeightLimit = 3508;  // 297 mm
inline constexpr uint16_t kFilmWidthLimit = 450;       // a 35 mm frame, 1.5 x 1 inch
inline constexpr uint16_t kFilmHeightLimit = 300;
inline constexpr uint16_t kDefaultDocumentDpi = 300;  // a file that states none
inline constexpr uint16_t kChartDpi = 600;            // the built-in test chart

// Driver statuses of the virtual scanner's own (the scanner API passes them through).
inline constexpr int16_t kStatusFeederEmpty = -30;     // scan start with no page in the feeder
inline constexpr int16_t kStatusBufferTooSmall = -31;  // line read into a buffer under one line
inline constexpr int16_t kStatusSequence = -32;        // operation out of order (read before start)
inline constexpr int16_t kStatusBadRequest = -33;      // a record or parameter the device cannot do
inline constexpr int16_t kStatusNoDocument = -34;      // the document file cannot be read
inline constexpr int16_t kStatusUnknownOperation = -35;
inline constexpr int16_t kStatusIoError = -36;  // injected only: the device failed to transfer
inline constexpr int16_t kStatusNotReady = -22;  // readiness query while warming up
inline constexpr int16_t kStatusNoMemory = -4;

// Trace: one line per operation, appended to the trace file:
//   "op=<operation> param=<param> status=<status> reply=<reply>"   (decimal)
// The music stand-in writes "music slot=<n> ..." lines in the same way.

// Line layout delivered by operation 16: line art and halftone 1 bit per pixel,
// most significant bit first, 1 = bright; grey 1 byte; colour 3 bytes R, G, B;
// colour with 16-bit samples 3 little-endian u16 R, G, B. Lines are not padded.

}  // namespace virtscan
