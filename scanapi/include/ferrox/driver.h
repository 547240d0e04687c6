// The low-level scanner driver contract: the request packet handed to the
// driver's ScannerDriverEntry, the operation numbers, and every record the
// driver fills or reads.
//
// Records keep their field order and widths; address fields are native
// pointers. Records that hold no address are byte-exact (little-endian) and
// pinned below. Offsets not named are the driver's own and pass through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ferrox/scanner_command.h"

// ---------------------------------------------------------------------------
// The request packet: one per process, reused by every call; fields a call
// does not set keep the previous call's values.

#pragma pack(push, 1)
struct DriverRequest {
  uint16_t operation;
  uint32_t param;
  void* dataAddress;  // a buffer or record of the operation
  uint32_t reply;     // written by the driver
};
#pragma pack(pop)
static_assert(sizeof(DriverRequest) == (kAddresses32 ? 14 : 18));
static_assert(offsetof(DriverRequest, param) == 2);
static_assert(offsetof(DriverRequest, dataAddress) == 6);
static_assert(offsetof(DriverRequest, reply) == (kAddresses32 ? 10 : 14));

// The driver's one export, looked up by this name, in the system's standard
// calling convention. Returns a signed 16-bit status: 0 success, negative
// failure, other values passed to the application.
using ScannerDriverEntryFn = int16_t(WINAPI*)(DriverRequest* request);
inline constexpr const char* kScannerDriverEntryName = "ScannerDriverEntry";

// Operations the library relies on (every other number is only forwarded).
enum DriverOperation : uint16_t {
  DRV_OPEN_DEVICE = 0,        // nonzero status: device not opened
  DRV_CLOSE_DEVICE = 1,
  DRV_LOCK = 2,               // reply low 16 bits: lock handle
  DRV_UNLOCK = 3,
  DRV_GET_DEVICE_RECORD = 4,  // data: DeviceRecord
  DRV_GET_LIMITS = 5,         // param: setting index | source << 16; data: LimitsRecord
  DRV_GET_MAP_INFO = 6,       // data: MapInfo
  DRV_DOWNLOAD_MAPS = 7,      // param: 0 one map, 1 three maps; data: working maps
  DRV_GET_GEOMETRY = 8,       // data: ScanGeometry (its header filled)
  DRV_FORWARD_9 = 9,
  DRV_FORWARD_10 = 10,
  DRV_FORWARD_11 = 11,
  DRV_FORWARD_12 = 12,
  DRV_FORWARD_13 = 13,
  DRV_SET_PARAMETERS = 14,    // data: ScanParameters
  DRV_START_SCAN = 15,
  DRV_READ_LINES = 16,        // param: buffer bytes; data: buffer; reply: lines; status 7 stops
  DRV_END_SCAN = 17,
  DRV_FORWARD_18 = 18,
  DRV_SET_HALFTONE = 19,      // data: the application's 64-byte pattern
  DRV_SELECT_SETTING = 20,    // param: setting index
  DRV_READY = 22,             // 0 ready; -20 ends the polling
  DRV_SCAN_CHECK_1 = 23,      // nonzero: progress event 1
  DRV_GET_WAIT = 24,          // reply: wait time in ms
  DRV_SCAN_CHECK_3 = 25,      // nonzero: progress event 3, then op 26
  DRV_SCAN_RECOVER_3 = 26,
  DRV_GET_BUFFER_SIZE = 28,   // reply: buffer size in bytes
  DRV_REINITIALIZE = 29,      // data: the caller's data
  DRV_FORWARD_30 = 30,
  DRV_FORWARD_31 = 31,
  DRV_FORWARD_32 = 32,
  DRV_FORWARD_33 = 33,
  DRV_FORWARD_34 = 34,
  DRV_FORWARD_35 = 35,
  DRV_FORWARD_36 = 36,
  DRV_FORWARD_37 = 37,
  DRV_FORWARD_38 = 38,
  DRV_FORWARD_39 = 39,
  DRV_FORWARD_40 = 40,
  DRV_FORWARD_41 = 41,
  DRV_FORWARD_42 = 42,
  DRV_CALIBRATE = 43,
  DRV_FORWARD_44 = 44,
  DRV_CLEAN = 45,
  DRV_FORWARD_46 = 46,
  DRV_FORWARD_47 = 47,
  DRV_FORWARD_48 = 48,
};

// Driver statuses the library gives a meaning to.
inline constexpr int16_t DRV_STATUS_OK = 0;
inline constexpr int16_t DRV_STATUS_NOT_READY_FINAL = -20;  // op 22: stop polling
inline constexpr int16_t DRV_STATUS_READ_STOP = 7;          // op 16: stop spooling

// ---------------------------------------------------------------------------
// Device record (op 4). 32 bytes; the library keeps a shared copy.

struct DeviceRecord {
  uint8_t reserved0[4];
  uint16_t highestDataType;  // 4
  uint8_t reserved6[2];
  uint32_t bitCodeMask;      // 8: bit b-1 set = bit code b accepted; exactly 8 = 16-bit maps
  uint8_t capabilities;      // 12: DEVCAP_* bits
  uint8_t reserved13;
  uint8_t modelByte;         // 14: low 4 bits = model number of the MAP file names
  uint8_t reserved15[5];
  uint16_t mapsFlag;         // 20: DEVICE_NO_TONE_MAPS = the initialisation loads no maps
  uint16_t settingCount;     // 22: number of setting indices
  uint8_t reserved24[4];
  uint16_t productWord;      // 28: overwritten in the application's copy by CMD_GET_DEVICE_INFO
  uint8_t reserved30[2];
};
static_assert(sizeof(DeviceRecord) == 32);
static_assert(offsetof(DeviceRecord, highestDataType) == 4);
static_assert(offsetof(DeviceRecord, bitCodeMask) == 8);
static_assert(offsetof(DeviceRecord, capabilities) == 12);
static_assert(offsetof(DeviceRecord, modelByte) == 14);
static_assert(offsetof(DeviceRecord, mapsFlag) == 20);
static_assert(offsetof(DeviceRecord, settingCount) == 22);
static_assert(offsetof(DeviceRecord, productWord) == 28);

inline constexpr uint8_t DEVCAP_ADF = 0x01;
inline constexpr uint8_t DEVCAP_FILM_A = 0x20;
inline constexpr uint8_t DEVCAP_FILM_B = 0x40;
inline constexpr uint8_t DEVCAP_FILM = DEVCAP_FILM_A | DEVCAP_FILM_B;  // either bit: film
inline constexpr uint8_t DEVCAP_KEEP_CALLBACK = 0x80;  // progress callback kept at scan start
inline constexpr uint16_t DEVICE_NO_TONE_MAPS = 0xFFFF;
inline constexpr uint32_t BIT_CODE_MASK_16BIT_MAPS = 8;
// CMD_GET_DEVICE_INFO sets this bit of the u32 at offset 12 when DEVCAP_KEEP_CALLBACK is set.
inline constexpr uint32_t DEVICE_INFO_CALLBACK_BIT = 0x100;

// ---------------------------------------------------------------------------
// Limits record (op 5), for one setting index and scan source. 32 bytes.

struct LimitsRecord {
  uint8_t reserved0[4];
  uint16_t highestResolution;     // 4: dpi, either direction
  uint16_t nativeHorizontal;      // 6: highest horizontal resolution scanned natively
  uint8_t reserved8[6];
  uint16_t nativeVertical;        // 14
  uint8_t reserved16[4];
  uint16_t widthLimit;            // 20: 1/300 inch; left + width and width within it
  uint8_t reserved22[6];
  uint16_t heightLimit;           // 28: 1/300 inch; top + height and height within it
  uint8_t reserved30[2];
};
static_assert(sizeof(LimitsRecord) == 32);
static_assert(offsetof(LimitsRecord, highestResolution) == 4);
static_assert(offsetof(LimitsRecord, nativeHorizontal) == 6);
static_assert(offsetof(LimitsRecord, nativeVertical) == 14);
static_assert(offsetof(LimitsRecord, widthLimit) == 20);
static_assert(offsetof(LimitsRecord, heightLimit) == 28);

// Scan sources (the high half of op 5's param).
inline constexpr uint16_t SOURCE_FLATBED = 0;
inline constexpr uint16_t SOURCE_POSITIVE = 1;
inline constexpr uint16_t SOURCE_NEGATIVE = 2;
inline constexpr uint16_t SOURCE_ADF = 3;

// ---------------------------------------------------------------------------
// Tone-map information (op 6). 10 bytes.

struct MapInfo {
  uint16_t largestValue;
  uint16_t channelCount;   // 1 or 3
  uint16_t bytesPerEntry;  // 1 or 2
  uint16_t entryCount;
  uint16_t greyChannel;    // 3, 4 or 5: the colour channel whose map serves grey scans
};
static_assert(sizeof(MapInfo) == 10);

// The map format returned by CMD_GET_MAP_FORMAT. 14 bytes.
#pragma pack(push, 2)
struct MapFormat {
  uint32_t largestValue;
  uint16_t channelCount;
  uint16_t bytesPerEntry;
  uint32_t entryCount;
  uint16_t greyChannel;
};
#pragma pack(pop)
static_assert(sizeof(MapFormat) == 14);
static_assert(offsetof(MapFormat, entryCount) == 8);
static_assert(offsetof(MapFormat, greyChannel) == 12);

// Download (op 7) param: the working buffer holds one map, or three one after another.
inline constexpr uint16_t MAP_MODE_ONE = 0;
inline constexpr uint16_t MAP_MODE_THREE = 1;
inline constexpr uint16_t MAP_MODE_BUILT_IN = 2;  // in ScanParameters only

// ---------------------------------------------------------------------------
// Scan frame: 22 bytes, part of ScanParameters and ScanGeometry.

#pragma pack(push, 2)
struct ScanFrame {
  uint32_t flags;         // SCANFLAG_*
  uint16_t left;          // left, top, width, height in 1/300 inch
  uint16_t top;
  uint16_t width;
  uint16_t height;
  uint16_t xResolution;   // dpi
  uint16_t yResolution;
  uint16_t dataType;      // DATATYPE_*
  uint16_t bitCode;       // 0 = none
  uint16_t settingIndex;
};
#pragma pack(pop)
static_assert(sizeof(ScanFrame) == 22);
static_assert(offsetof(ScanFrame, xResolution) == 12);
static_assert(offsetof(ScanFrame, dataType) == 16);
static_assert(offsetof(ScanFrame, settingIndex) == 20);

inline constexpr uint16_t DATATYPE_LINEART = 0;
inline constexpr uint16_t DATATYPE_HALFTONE = 1;
inline constexpr uint16_t DATATYPE_GREY = 2;
inline constexpr uint16_t DATATYPE_COLOUR = 3;
inline constexpr uint16_t DATATYPE_COLOUR16 = 4;

inline constexpr uint32_t SCANFLAG_0x8 = 0x8;
inline constexpr uint32_t SCANFLAG_COLOUR_ONLY = 0x10;    // cleared unless data type 3
inline constexpr uint32_t SCANFLAG_BOTTOM_UP = 0x20;
inline constexpr uint32_t SCANFLAG_0x40 = 0x40;
inline constexpr uint32_t SCANFLAG_IDENTITY_MAPS = 0x80;
inline constexpr uint32_t SCANFLAG_POSITIVE = 0x100;
inline constexpr uint32_t SCANFLAG_NEGATIVE = 0x200;
inline constexpr uint32_t SCANFLAG_MUSIC = 0x800;
inline constexpr uint32_t SCANFLAG_0x8000 = 0x8000;
inline constexpr uint32_t SCANFLAG_ADF = 0x20000;
inline constexpr uint32_t SCANFLAG_RESTRICTED = 0x800000;
inline constexpr uint32_t SCANFLAG_LINEART_AS_GREY = 0x1000000;
inline constexpr uint32_t SCANFLAG_NO_MUSIC = 0x2000000;

// ---------------------------------------------------------------------------
// Scan parameters (CMD_SET_PARAMETERS; op 14 receives the library's copy).

struct ScanParameters {
  const uint8_t* halftonePattern;  // 0: the application's 64-byte pattern (data type 1)
  void* mapAddress;                // 8: application maps; written by the library
  ScanFrame frame;                 // 16
  uint16_t mapMode;                // 38: MAP_MODE_*; written by the library
  uint16_t reserved40;             // 40: not interpreted
  int16_t brightness;              // 42: -127..127
  int16_t contrast;                // 44: -127..127
  uint8_t driverPart[136];         // 46: passed to the driver as is
};
static_assert(offsetof(ScanParameters, mapAddress) == sizeof(void*));
static_assert(offsetof(ScanParameters, frame) == 2 * sizeof(void*));
static_assert(offsetof(ScanParameters, mapMode) == 2 * sizeof(void*) + 22);
static_assert(offsetof(ScanParameters, brightness) == 2 * sizeof(void*) + 26);
static_assert(offsetof(ScanParameters, contrast) == 2 * sizeof(void*) + 28);
static_assert(offsetof(ScanParameters, driverPart) == 2 * sizeof(void*) + 30);
static_assert(sizeof(ScanParameters) == (kAddresses32 ? 176 : 184));
// The bytes of the record an application hands over: up to the end of
// driverPart (174 with 32-bit addresses). The compiler's tail padding is not
// part of it, so nothing past these bytes is ever read from the caller.
inline constexpr size_t kScanParametersBytes = offsetof(ScanParameters, driverPart) + 136;
static_assert(kScanParametersBytes == (kAddresses32 ? 174 : 182));

// ---------------------------------------------------------------------------
// Scan geometry (op 8): the driver fills the first 20 bytes for the frame. 42 bytes.

#pragma pack(push, 2)
struct ScanGeometry {
  uint32_t pixelsPerLine;
  uint32_t bytesPerLine;
  uint32_t lineCount;
  uint8_t driverPart[8];  // not read by the library
  ScanFrame frame;        // 20
};
#pragma pack(pop)
static_assert(sizeof(ScanGeometry) == 42);
static_assert(offsetof(ScanGeometry, frame) == 20);

// Halftone patterns are 8 x 8 thresholds, rows in order.
inline constexpr size_t kHalftonePatternBytes = 64;
