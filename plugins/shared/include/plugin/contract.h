// The records and entry points shared by the image-toolkit host and the
// reader and writer plug-ins.
//
// Records keep their field order and widths; address fields (data pointers,
// callbacks) are native pointers, handle fields the platform layer's 32-bit
// handles. Every layout is pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "winport/types.h"

// ---------------------------------------------------------------------------
// DIB records (little-endian, byte-exact: they are copied to and from files).

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  uint16_t bfType;  // "BM" = 19778
  uint32_t bfSize;
  uint16_t bfReserved1;
  uint16_t bfReserved2;
  uint32_t bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36);

struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
static_assert(offsetof(BITMAPINFO, bmiColors) == 40);

inline constexpr uint32_t BI_RGB = 0;

// Bytes of one DIB row: width × bits rounded up to 32 bits. 64-bit arithmetic.
constexpr uint64_t DibRowBytes(uint64_t width, uint64_t bits) {
  return ((width * bits + 31) / 32) * 4;
}

// ---------------------------------------------------------------------------
// Host file functions, used by readers (all but write) and writers (the first five).

// Opaque to plug-ins: handed back unchanged to the host's open function. The
// imagehost stand-in passes the file's path.
using FileReference = const void*;

struct HostFileTable {
  // 1 = opened (handle written); anything else = failure.
  int32_t (*open)(FileReference file, int32_t mode, uint32_t* handle);
  int32_t (*close)(uint32_t handle);
  // Bytes read; −1 on error; fewer at end of file.
  int32_t (*read)(uint32_t handle, void* buffer, uint32_t count);
  // Bytes written.
  int32_t (*write)(uint32_t handle, const void* buffer, uint32_t count);
  // New absolute position; origin 0 start, 1 current, 2 end; −1 on failure.
  int32_t (*seek)(uint32_t handle, int32_t offset, int32_t origin);
  // Next byte in the low 8 bits (−1 at end of file).
  int32_t (*readByte)(uint32_t handle);
};

// Bytes the host shows OVDLverify_img: the file's first bytes, zero-filled past its end.
inline constexpr size_t kVerifyBytes = 512;

// ---------------------------------------------------------------------------
// Reader side.

// (word at `firstArgument`, percent, word at `thirdArgument`) → nonzero to go on, 0 to cancel.
using ReaderProgressCallback = int32_t (*)(uint32_t first, uint32_t percent, uint32_t third);

struct ProgressRecord {
  ReaderProgressCallback callback;  // null = no reporting
  uint32_t step;                    // amount that must accumulate before a report
  uint32_t total;                   // the 100 % mark
  uint32_t reported;                // updated by the reader
  uint32_t pending;                 // accumulated since the last report; updated by the reader
  uint32_t thirdArgument;
  uint32_t firstArgument;
};
static_assert(offsetof(ProgressRecord, step) == 8);
static_assert(offsetof(ProgressRecord, pending) == 20);
static_assert(offsetof(ProgressRecord, firstArgument) == 28);
static_assert(sizeof(ProgressRecord) == 32);

// The host's record for OVDLbuildDIBhead; the reader writes only bitmapInfo,
// zeroWord, width, height and (multi-page readers) pageCount.
struct ImageHeaderRecord {
  uint32_t word0;
  BITMAPINFO* bitmapInfo;  // locked address of the block the reader allocated
  uint32_t zeroWord;
  uint32_t width;
  uint32_t height;
  uint32_t words20to76[15];
  uint32_t pageCount;
};
static_assert(offsetof(ImageHeaderRecord, bitmapInfo) == 8);
static_assert(offsetof(ImageHeaderRecord, width) == 20);
static_assert(offsetof(ImageHeaderRecord, pageCount) == 88);
static_assert(sizeof(ImageHeaderRecord) == 96);

// The four fields every reader's ImageBlock begins with.
struct ImageBlockHead {
  FileReference fileReference;
  uint32_t file;  // host file handle; 0 while closed
  const HostFileTable* files;
  uint32_t imageOffset;  // offset of the image in the file; every stored offset is relative to it
};
static_assert(offsetof(ImageBlockHead, file) == 8);
static_assert(offsetof(ImageBlockHead, files) == 16);
static_assert(offsetof(ImageBlockHead, imageOffset) == 24);

// Reader results.
enum ReaderResult : int32_t {
  kReaderNotRecognised = 0,
  kReaderOk = 1,
  kReaderBadHeader = 2,
  kReaderReadFailed = 3,
  kReaderOpenFailed = 4,
  kReaderNoPrinting = 5,
  kReaderNoMemory = 6,
  kReaderBadHandle = 8,
  kReaderUnsupported = 9,
  kReaderCorrupt = 10,
  kReaderNoSuchPage = 16,
  kReaderCancelled = 23,
};

// Reader entry points, as the host binds them.
using OVDLset_ext_fn = int32_t (*)(int32_t number, const char* text);
using OVDLinit_image_fn = int32_t (*)(FileReference file, HGLOBAL* image, uint32_t handle,
                                      uint32_t offset, uint32_t length, const HostFileTable* files);
using OVDLclose_image_fn = int32_t (*)(HGLOBAL image);
using OVDLopen_fn = int32_t (*)(HGLOBAL image, int32_t ignored);
using OVDLclose_keep_fn = int32_t (*)(HGLOBAL image);
using OVDLread_rows_fn = int32_t (*)(HGLOBAL image, uint8_t* buffer, uint32_t rows,
                                     uint32_t stride, uint32_t offset, ProgressRecord* progress);
using OVDLset_row_fn = int32_t (*)(HGLOBAL image, uint32_t row);
using OVDLbuildDIBhead_fn = int32_t (*)(HGLOBAL image, ImageHeaderRecord* header);
using OVDLprint_fn = int32_t (*)(int32_t, int32_t, int32_t, int32_t);
using OVDLrender_fn = int32_t (*)(int32_t, int32_t, int32_t, int32_t);
using OVDLerror_string_fn = int32_t (*)(char* buffer, int32_t size);
using OVDLget_ver_fn = const char* (*)();
using OVDLimg_name_fn = int32_t (*)(HGLOBAL image, int32_t ignored);
using OVDLescape_fn = int32_t (*)(int32_t, int32_t, int32_t, int32_t);
using OVDLset_page_fn = int32_t (*)(HGLOBAL image, int32_t page);
using OVDLget_page_fn = int32_t (*)(HGLOBAL image, int32_t* page);
using OVDLverify_img_fn = int32_t (*)(const uint8_t* firstBytes, int32_t, int32_t);
using ReaderWEP_fn = void (*)(int32_t);

// Reader export ordinals.
inline constexpr WORD kOrdOVDLset_ext = 2;
inline constexpr WORD kOrdOVDLinit_image = 3;
inline constexpr WORD kOrdOVDLclose_image = 4;
inline constexpr WORD kOrdOVDLopen = 5;
inline constexpr WORD kOrdOVDLclose_keep = 6;
inline constexpr WORD kOrdOVDLread_rows = 7;
inline constexpr WORD kOrdOVDLset_row = 8;
inline constexpr WORD kOrdOVDLbuildDIBhead = 9;
inline constexpr WORD kOrdOVDLprint = 11;
inline constexpr WORD kOrdOVDLrender = 13;
inline constexpr WORD kOrdOVDLerror_string = 14;
inline constexpr WORD kOrdOVDLget_ver = 15;
inline constexpr WORD kOrdOVDLimg_name = 16;
inline constexpr WORD kOrdOVDLescape = 18;
inline constexpr WORD kOrdOVDLset_page = 20;
inline constexpr WORD kOrdOVDLget_page = 21;
inline constexpr WORD kOrdOVDLverify_img = 22;
inline constexpr WORD kOrdWEP = 100;

// Id of the host's file-type filter string in every reader's string table.
inline constexpr UINT kReaderFilterStringId = 1000;

// ---------------------------------------------------------------------------
// Writer side.

// (writer module instance, error id, writer module name, file name).
using ExportErrorCallback = void (*)(HINSTANCE writer, int32_t errorId, const char* moduleName,
                                     const char* fileName);

struct ExportHostInfo {
  uint32_t flags;                     // written by the writer: its WriterFlags
  ExportErrorCallback errorCallback;  // may be null
  HMODULE hostInstance;               // may be 0; only used to find OvgXOptBlkGet
};
static_assert(offsetof(ExportHostInfo, errorCallback) == 8);
static_assert(offsetof(ExportHostInfo, hostInstance) == 16);

// WriterFlags bit 0: the writer wants the bottom row of the image first.
inline constexpr uint32_t kWriterBottomFirst = 1;

// (0, percent, user value) → 0 asks for cancellation.
using ExportProgressCallback = int32_t (*)(int32_t zero, int32_t percent, uint32_t user);

struct ExportProgress {
  uint32_t flags;       // WriterFlags from OVXDLbegin_write, passed back by the host
  uint32_t bytesDone;   // bytes reported so far
  uint32_t bytesTotal;  // bytes of the whole image
  uint32_t fileSize;    // written by OVXDLend_write
  uint32_t interval;    // report once more than this many bytes passed
  uint32_t sinceLast;   // bytes since the last report
  uint32_t userValue;
  ExportProgressCallback callback;  // may be null
};
static_assert(offsetof(ExportProgress, userValue) == 24);
static_assert(offsetof(ExportProgress, callback) == 32);
static_assert(sizeof(ExportProgress) == 40);

// The host's option lookup: 0 = present (value written NUL-terminated), else absent.
using OvgXOptBlkGet_fn = int32_t (*)(HGLOBAL optionBlock, const char* key, char* value);
// Size of the value buffer writers hand to OvgXOptBlkGet; longer values are cut.
inline constexpr size_t kOptionValueSize = 256;
// An OptionBlock: "THK", then from this byte on "KEY = value\r" lines.
inline constexpr size_t kOptionLinesStart = 12;

// Writer open modes (OpenFile values).
inline constexpr int32_t kOpenCreate = 0x1000;
inline constexpr int32_t kOpenExist = 0x4000;
inline constexpr int32_t kOpenReadWrite = 0x0002;

// Writer results.
inline constexpr int32_t kWriterOk = 1;
inline constexpr int32_t kWriterWriteFailed = 204;
inline constexpr int32_t kWriterCancelled = 215;

// Writer error ids (keys into the writer's string table).
inline constexpr int32_t kWriterErrorOpen = 1;
inline constexpr int32_t kWriterErrorHeader = 2;
inline constexpr int32_t kWriterErrorWrite = 3;
inline constexpr int32_t kWriterErrorMemory = 4;

// Length of the file name field of every ExportBlock, NUL included.
inline constexpr size_t kExportFileNameSize = 100;

// The head of every writer's ExportBlock.
struct ExportBlockHead {
  char fileName[kExportFileNameSize];
  uint32_t file;  // host file handle
  const HostFileTable* files;
};
static_assert(offsetof(ExportBlockHead, file) == 100);
static_assert(offsetof(ExportBlockHead, files) == 104);

using OVXDLget_ext_fn = const char* (*)(ExportHostInfo* host);
using OVXDLbegin_write_fn = HGLOBAL (*)(FileReference file, const HostFileTable* files,
                                        const char* fileName, const BITMAPINFOHEADER* image,
                                        HGLOBAL options, int32_t* flags);
using OVXDLwrite_block_fn = int32_t (*)(HGLOBAL block, uint32_t rows, uint32_t stride,
                                        const uint8_t* data, ExportProgress* progress);
using OVXDLend_write_fn = int32_t (*)(HGLOBAL block, ExportProgress* progress);
using OVXDLget_ver_fn = const char* (*)();
using WriterWEP_fn = int32_t (*)(int32_t);

// Writer export ordinals.
inline constexpr WORD kOrdOVXDLget_ext = 1;
inline constexpr WORD kOrdOVXDLbegin_write = 2;
inline constexpr WORD kOrdOVXDLwrite_block = 3;
inline constexpr WORD kOrdOVXDLend_write = 4;
inline constexpr WORD kOrdOVXDLget_ver = 5;
