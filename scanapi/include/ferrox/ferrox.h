/* The scanner API for applications, in C (and C++).
 *
 * An application fills a ScannerCommand (code and arguments), calls
 * ScannerCommander with its address, and reads status and the output fields
 * back. The library keeps no pointer to the record after the call.
 *
 * Calling order: CMD_OPEN (on failure CMD_CLOSE and give up) -> CMD_LOCK ->
 * information queries / CMD_SET_PROGRESS_CALLBACK -> CMD_SET_PARAMETERS ->
 * [CMD_GET_BUFFER_SIZE] -> CMD_START_SCAN -> CMD_READ_LINES until status
 * SCAN_END_OF_DATA or a line count of 0 -> CMD_END_SCAN -> CMD_UNLOCK ->
 * CMD_CLOSE.
 *
 * Build with `cc app.c $(pkg-config --cflags --libs ferrox)`: libferrox
 * provides ScannerCommander and loads the suite's FERROX.DLL, from its own
 * folder, on the first call. When that fails the call answers
 * SCAN_ERR_RESOURCE (and says why on stderr, once).
 *
 * The records below are the library's own, byte for byte: their sizes and
 * offsets are pinned here and in the library's headers alike. */
#ifndef FERROX_FERROX_H
#define FERROX_FERROX_H

#include <stddef.h>
#include <stdint.h>

/* The calling convention of ScannerCommander and of the progress function:
 * the system's standard one, where the callee removes its arguments on 32-bit
 * Windows. */
#if defined(_WIN32) && !defined(_WIN64)
#define FERROX_CALL __stdcall
#else
#define FERROX_CALL
#endif
/* Offsets past `data` move with the width of an address. */
#define FERROX_BY_ADDRESS(with32, with64) (sizeof(void*) == 4 ? (with32) : (with64))

#ifdef __cplusplus
#define FERROX_STATIC_ASSERT(condition, what) static_assert(condition, what)
extern "C" {
#else
#define FERROX_STATIC_ASSERT(condition, what) _Static_assert(condition, what)
#endif

/* The command record. `data` is a native pointer. */
typedef struct ScannerCommand {
  uint16_t code;        /* CMD_* */
  int16_t status;       /* a SCAN_* status or a driver status; set to 0 on entry */
  void* data;           /* a caller buffer or record; meaning per command */
  uint32_t value;       /* a number; some commands read its low and high halves */
  uint32_t result;      /* a number returned by some commands */
  uint16_t lockHandle;  /* written by CMD_LOCK, presented to gated commands */
  uint16_t reserved;    /* never read or written */
} ScannerCommand;
FERROX_STATIC_ASSERT(offsetof(ScannerCommand, status) == 2, "ScannerCommand.status");
FERROX_STATIC_ASSERT(offsetof(ScannerCommand, data) == FERROX_BY_ADDRESS(4, 8), "ScannerCommand.data");
FERROX_STATIC_ASSERT(offsetof(ScannerCommand, value) == FERROX_BY_ADDRESS(8, 16), "ScannerCommand.value");
FERROX_STATIC_ASSERT(offsetof(ScannerCommand, result) == FERROX_BY_ADDRESS(12, 20), "ScannerCommand.result");
FERROX_STATIC_ASSERT(offsetof(ScannerCommand, lockHandle) == FERROX_BY_ADDRESS(16, 24),
                     "ScannerCommand.lockHandle");
FERROX_STATIC_ASSERT(sizeof(ScannerCommand) == FERROX_BY_ADDRESS(20, 32), "ScannerCommand size");

/* Runs one command; returns its status (also left in command->status). */
int32_t FERROX_CALL ScannerCommander(ScannerCommand* command);
typedef int32_t(FERROX_CALL* ScannerCommanderFn)(ScannerCommand* command);

/* The library's own statuses. Any other value is a driver status. */
enum {
  SCAN_OK = 0,
  SCAN_END_OF_DATA = 1,     /* CMD_READ_LINES: no output lines remain */
  SCAN_ERR_LOCKED = -1,     /* CMD_LOCK while another lock is held */
  SCAN_ERR_COMMAND = -2,    /* unknown or unavailable command */
  SCAN_ERR_PARAM = -3,      /* argument out of range, or a scan the device cannot do */
  SCAN_ERR_RESOURCE = -4,   /* file or memory failure, or device initialisation failed */
  SCAN_ERR_OPEN = -5,       /* the driver refused to open the device */
  SCAN_ERR_NO_DRIVER = -7,  /* no driver is bound */
  SCAN_ERR_STATE = -8,      /* not in the lock state the command needs */
  SCAN_ERR_NOT_OWNER = -9   /* not locked, or lockHandle is not the current handle */
};

/* Command codes. The numbers not named here are passed to the driver. */
enum {
  CMD_OPEN = 0,
  CMD_CLOSE = 1,
  CMD_GET_DEVICE_INFO = 2,
  CMD_GET_SCAN_LIMITS = 3,        /* value: setting index | source << 16; data: LimitsRecord */
  CMD_GET_PRODUCT_INFO = 4,       /* data: ProductRecord */
  CMD_GET_HALFTONE = 5,
  CMD_GET_MAP_INFO = 6,
  CMD_GET_TONE_MAP = 7,
  CMD_ADJUST_TONE_MAP = 8,
  CMD_CHECK_FRAME = 9,
  CMD_LOCK = 15,
  CMD_SET_PARAMETERS = 16,        /* data: ScanParameters */
  CMD_START_SCAN = 17,
  CMD_READ_LINES = 18,            /* data: buffer; value: its bytes; result: lines */
  CMD_END_SCAN = 19,
  CMD_UNLOCK = 20,
  CMD_SET_PROGRESS_CALLBACK = 22, /* data: a ScanProgressFn */
  CMD_GET_BUFFER_SIZE = 23,
  CMD_REINITIALIZE = 24,
  CMD_CALIBRATE = 40,
  CMD_CLEAN = 42,
  CMD_GET_MAP_FORMAT = 43
};

/* The application's progress function: event, amount -> a status. */
typedef int16_t(FERROX_CALL* ScanProgressFn)(uint32_t event, uint32_t amount);
enum {
  PROGRESS_NOT_READY = 0,    /* the first readiness query failed */
  PROGRESS_CHECK_1 = 1,
  PROGRESS_WAIT = 2,         /* waiting: the whole wait first, then elapsed ms; nonzero ends it */
  PROGRESS_CHECK_3 = 3,
  PROGRESS_SCAN_BEGINS = 4,  /* amount: device lines to spool when enhancing, else 0 */
  PROGRESS_SPOOLED = 5       /* amount: device lines just delivered while spooling */
};

/* CMD_GET_PRODUCT_INFO's record. */
typedef struct ProductRecord {
  uint16_t found;        /* 1 once a scanner key was found */
  uint16_t productWord;
  char productName[40];  /* zero-terminated */
} ProductRecord;
FERROX_STATIC_ASSERT(sizeof(ProductRecord) == 44, "ProductRecord size");

/* CMD_GET_SCAN_LIMITS's record, for one setting index and source. Lengths in 1/300 inch. */
typedef struct LimitsRecord {
  uint8_t reserved0[4];
  uint16_t highestResolution;  /* dpi, either direction */
  uint16_t nativeHorizontal;
  uint8_t reserved8[6];
  uint16_t nativeVertical;
  uint8_t reserved16[4];
  uint16_t widthLimit;
  uint8_t reserved22[6];
  uint16_t heightLimit;
  uint8_t reserved30[2];
} LimitsRecord;
FERROX_STATIC_ASSERT(sizeof(LimitsRecord) == 32, "LimitsRecord size");
FERROX_STATIC_ASSERT(offsetof(LimitsRecord, widthLimit) == 20, "LimitsRecord.widthLimit");
FERROX_STATIC_ASSERT(offsetof(LimitsRecord, heightLimit) == 28, "LimitsRecord.heightLimit");

/* Scan sources (the high half of CMD_GET_SCAN_LIMITS's value). */
enum { SOURCE_FLATBED = 0, SOURCE_POSITIVE = 1, SOURCE_NEGATIVE = 2, SOURCE_ADF = 3 };

/* The frame of a scan. Lengths in 1/300 inch. */
#pragma pack(push, 2)
typedef struct ScanFrame {
  uint32_t flags;  /* SCANFLAG_* */
  uint16_t left;
  uint16_t top;
  uint16_t width;
  uint16_t height;
  uint16_t xResolution;  /* dpi */
  uint16_t yResolution;
  uint16_t dataType;     /* DATATYPE_* */
  uint16_t bitCode;      /* 0 = none */
  uint16_t settingIndex;
} ScanFrame;
#pragma pack(pop)
FERROX_STATIC_ASSERT(sizeof(ScanFrame) == 22, "ScanFrame size");
FERROX_STATIC_ASSERT(offsetof(ScanFrame, xResolution) == 12, "ScanFrame.xResolution");
FERROX_STATIC_ASSERT(offsetof(ScanFrame, dataType) == 16, "ScanFrame.dataType");

/* Data types. Lines are not padded: line art and halftone 1 bit per pixel,
 * most significant bit first, 1 = bright; grey 1 byte; colour R, G, B bytes;
 * colour with 16-bit samples three little-endian u16 R, G, B. */
enum {
  DATATYPE_LINEART = 0,
  DATATYPE_HALFTONE = 1,
  DATATYPE_GREY = 2,
  DATATYPE_COLOUR = 3,
  DATATYPE_COLOUR16 = 4
};
/* ScanFrame.flags, among others the library passes to the driver. */
enum {
  SCANFLAG_BOTTOM_UP = 0x20,     /* each block of lines bottom-up */
  SCANFLAG_POSITIVE = 0x100,     /* positive film */
  SCANFLAG_NEGATIVE = 0x200,     /* negative film */
  SCANFLAG_MUSIC = 0x800,
  SCANFLAG_ADF = 0x20000,        /* the document feeder */
  SCANFLAG_NO_MUSIC = 0x2000000
};

/* The tone maps of a scan (ScanParameters.mapMode), unless SCANFLAG_IDENTITY_MAPS. */
enum {
  MAP_MODE_ONE = 0,      /* mapAddress: the application's one map (CMD_GET_MAP_FORMAT) */
  MAP_MODE_THREE = 1,    /* mapAddress: the application's three maps, one after another */
  MAP_MODE_BUILT_IN = 2  /* the device's own maps for the scan's source */
};
enum { SCANFLAG_IDENTITY_MAPS = 0x80 };

/* CMD_SET_PARAMETERS's record; the library keeps its own copy. */
typedef struct ScanParameters {
  const uint8_t* halftonePattern;  /* 64 bytes, for DATATYPE_HALFTONE (CMD_GET_HALFTONE) */
  void* mapAddress;                /* the application's maps, for MAP_MODE_ONE and _THREE */
  ScanFrame frame;
  uint16_t mapMode;                /* MAP_MODE_* */
  uint16_t reserved40;
  int16_t brightness;              /* -127..127 */
  int16_t contrast;                /* -127..127 */
  uint8_t driverPart[136];         /* passed to the driver as is */
} ScanParameters;
FERROX_STATIC_ASSERT(offsetof(ScanParameters, frame) == FERROX_BY_ADDRESS(8, 16), "ScanParameters.frame");
FERROX_STATIC_ASSERT(offsetof(ScanParameters, mapMode) == FERROX_BY_ADDRESS(30, 38), "ScanParameters.mapMode");
FERROX_STATIC_ASSERT(offsetof(ScanParameters, brightness) == FERROX_BY_ADDRESS(34, 42),
                     "ScanParameters.brightness");
FERROX_STATIC_ASSERT(offsetof(ScanParameters, driverPart) == FERROX_BY_ADDRESS(38, 46),
                     "ScanParameters.driverPart");
FERROX_STATIC_ASSERT(sizeof(ScanParameters) == FERROX_BY_ADDRESS(176, 184), "ScanParameters size");

#ifdef __cplusplus
}
#endif
#undef FERROX_STATIC_ASSERT
#undef FERROX_BY_ADDRESS

#endif /* FERROX_FERROX_H */
