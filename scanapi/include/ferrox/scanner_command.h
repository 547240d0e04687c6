// The scanner API: one export, ScannerCommander, over a command record.
//
// An application fills a ScannerCommand (code and arguments), calls
// ScannerCommander with its address, and reads status and the output fields
// back. The library keeps no pointer to the record after the call. The record
// keeps its field order and widths; `data` is a native pointer, so the record
// is 20 bytes with 32-bit addresses (the Windows layout) and 32 with 64-bit ones.
//
// ScannerCommander and the application's progress function use the system's
// standard calling convention (WINAPI, CALLBACK: on 32-bit Windows the callee
// removes its arguments).
//
// Calling order: CMD_OPEN (on failure CMD_CLOSE and give up) -> CMD_LOCK ->
// information queries / CMD_SET_PROGRESS_CALLBACK -> CMD_SET_PARAMETERS ->
// [CMD_GET_BUFFER_SIZE] -> CMD_START_SCAN -> CMD_READ_LINES until status 1 or
// a line count of 0 -> CMD_END_SCAN -> CMD_UNLOCK -> CMD_CLOSE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "winport/types.h"

struct ScannerCommand {
  uint16_t code;        // CMD_*
  int16_t status;       // ScanStatus or a driver status; set to 0 on entry
  void* data;           // a caller buffer or record; meaning per command
  uint32_t value;       // a number; some commands read its halves (valueLow, valueHigh)
  uint32_t result;      // a number returned by some commands
  uint16_t lockHandle;  // written by CMD_LOCK, presented to gated commands
  uint16_t reserved;    // never read or written
};
// Offsets beyond `data` move with the address width.
inline constexpr bool kAddresses32 = sizeof(void*) == 4;
static_assert(offsetof(ScannerCommand, status) == 2);
static_assert(offsetof(ScannerCommand, data) == (kAddresses32 ? 4 : 8));
static_assert(offsetof(ScannerCommand, value) == (kAddresses32 ? 8 : 16));
static_assert(offsetof(ScannerCommand, result) == (kAddresses32 ? 12 : 20));
static_assert(offsetof(ScannerCommand, lockHandle) == (kAddresses32 ? 16 : 24));
static_assert(offsetof(ScannerCommand, reserved) == (kAddresses32 ? 18 : 26));
static_assert(sizeof(ScannerCommand) == (kAddresses32 ? 20 : 32));

inline uint16_t ValueLow(const ScannerCommand& command) {
  return static_cast<uint16_t>(command.value & 0xFFFFu);
}
inline uint16_t ValueHigh(const ScannerCommand& command) {
  return static_cast<uint16_t>(command.value >> 16);
}
inline uint32_t MakeValue(uint16_t low, uint16_t high) {
  return static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16);
}

// The export, looked up by this name.
using ScannerCommanderFn = int32_t(WINAPI*)(ScannerCommand* command);
inline constexpr const char* kScannerCommanderName = "ScannerCommander";

// ScanStatus: the library's own outcomes. Any other value is a driver status.
enum ScanStatus : int16_t {
  SCAN_OK = 0,
  SCAN_END_OF_DATA = 1,      // CMD_READ_LINES: no output lines remain
  SCAN_ERR_LOCKED = -1,      // CMD_LOCK while another lock is held
  SCAN_ERR_COMMAND = -2,     // unknown or unavailable command
  SCAN_ERR_PARAM = -3,       // argument out of range, or a scan the device cannot do
  SCAN_ERR_RESOURCE = -4,    // file or memory failure, or device initialisation failed
  SCAN_ERR_OPEN = -5,        // the driver refused to open the device
  SCAN_ERR_NO_DRIVER = -7,   // no driver is bound
  SCAN_ERR_STATE = -8,       // not in the lock state the command needs
  SCAN_ERR_NOT_OWNER = -9,   // not locked, or lockHandle is not the current handle
};

enum ScannerCommandCode : uint16_t {
  CMD_OPEN = 0,
  CMD_CLOSE = 1,
  CMD_GET_DEVICE_INFO = 2,
  CMD_GET_SCAN_LIMITS = 3,
  CMD_GET_PRODUCT_INFO = 4,
  CMD_GET_HALFTONE = 5,
  CMD_GET_MAP_INFO = 6,
  CMD_GET_TONE_MAP = 7,
  CMD_ADJUST_TONE_MAP = 8,
  CMD_CHECK_FRAME = 9,
  CMD_FORWARD_10 = 10,
  CMD_FORWARD_11 = 11,
  CMD_FORWARD_12 = 12,
  CMD_FORWARD_13 = 13,
  CMD_FORWARD_14 = 14,
  CMD_LOCK = 15,
  CMD_SET_PARAMETERS = 16,
  CMD_START_SCAN = 17,
  CMD_READ_LINES = 18,
  CMD_END_SCAN = 19,
  CMD_UNLOCK = 20,
  CMD_FORWARD_21 = 21,
  CMD_SET_PROGRESS_CALLBACK = 22,
  CMD_GET_BUFFER_SIZE = 23,
  CMD_REINITIALIZE = 24,
  CMD_FORWARD_25 = 25,
  CMD_FORWARD_26 = 26,
  CMD_FORWARD_27 = 27,
  CMD_FORWARD_28 = 28,
  CMD_FORWARD_29 = 29,
  CMD_UNUSED_30 = 30,  // answers SCAN_ERR_COMMAND
  CMD_FORWARD_31 = 31,
  CMD_FORWARD_32 = 32,
  CMD_FORWARD_33 = 33,
  CMD_FORWARD_34 = 34,
  CMD_FORWARD_35 = 35,
  CMD_FORWARD_36 = 36,
  CMD_FORWARD_37 = 37,
  CMD_FORWARD_38 = 38,
  CMD_FORWARD_39 = 39,
  CMD_CALIBRATE = 40,
  CMD_FORWARD_41 = 41,
  CMD_CLEAN = 42,
  CMD_GET_MAP_FORMAT = 43,
  CMD_FORWARD_44 = 44,
  CMD_FORWARD_45 = 45,
  CMD_FORWARD_46 = 46,
};
inline constexpr uint16_t kScannerCommandCount = 47;

// The application's progress function: event, amount -> a status.
using ScanProgressFn = int16_t(CALLBACK*)(uint32_t event, uint32_t amount);
enum ScanProgressEvent : uint32_t {
  PROGRESS_NOT_READY = 0,    // the first readiness query failed
  PROGRESS_CHECK_1 = 1,      // driver op 23 reported nonzero
  PROGRESS_WAIT = 2,         // waiting: the whole wait first, then elapsed ms; nonzero ends it
  PROGRESS_CHECK_3 = 3,      // driver op 25 reported nonzero
  PROGRESS_SCAN_BEGINS = 4,  // amount: device lines to spool when enhancing, else 0
  PROGRESS_SPOOLED = 5,      // amount: device lines just delivered while spooling
};

// ProductRecord, returned whole by CMD_GET_PRODUCT_INFO. 44 bytes.
struct ProductRecord {
  uint16_t found;          // 1 once a scanner key was found (522 before)
  uint16_t productWord;    // 1 once a scanner key was found (0 before)
  char productName[40];    // zero-terminated; zeros when missing
};
static_assert(sizeof(ProductRecord) == 44);
inline constexpr uint16_t kProductNotFound = 522;

// CMD_ADJUST_TONE_MAP's record.
struct ToneMapAdjustment {
  void* map;          // one map of the current map format, adjusted in place
  int16_t brightness;  // -127..127
  int16_t contrast;    // -127..127
};
static_assert(offsetof(ToneMapAdjustment, brightness) == sizeof(void*));
static_assert(offsetof(ToneMapAdjustment, contrast) == sizeof(void*) + 2);

// CMD_GET_TONE_MAP kinds (valueLow) and sets (valueHigh).
enum ToneMapKind : uint16_t {
  TONEMAP_GREY = 0,        // the map grey scans use
  TONEMAP_WHOLE_SET = 1,   // three channels only
  TONEMAP_CHANNEL_1 = 3,   // kinds 3, 4, 5: channel kind - 2; three channels only
  TONEMAP_CHANNEL_2 = 4,
  TONEMAP_CHANNEL_3 = 5,
};
enum ToneMapSet : uint16_t {
  TONESET_NORMAL = 0,
  TONESET_POSITIVE = 1,
  TONESET_NEGATIVE = 2,
  TONESET_ADF = 3,
};

// Registry parents searched for the scanner key, in this order.
inline constexpr const char* kScannerParentKeys[] = {
    "Software\\Duzizaziz\\Ridezodu\\Scanners",
    "Software\\Scanner Information",
};
