// The records and entry points shared by the image-toolkit host and the
// reader and writer plug-ins.
//
// Records keep their field order and widths; address fields (data pointers,
// callbacks) are native pointers, handle fields the platform layer's handles.
// Every layout is pinned below: on 32-bit Windows, where addresses and handles
// are 32 bits, at the contract's byte offsets; on 64-bit Linux with each
// address field widened to 8 bytes and aligned.
//
// Calling convention: every export is WINAPI and every function a host hands
// a plug-in is CALLBACK, __stdcall on 32-bit Windows (the convention a 32-bit
// Windows host binds exported functions with: the callee removes its
// arguments); on 64-bit Linux both name the platform's only convention.
#pragma once

#include <cstddef>
#include <cstdint>

#include "winport/dib.h"
#include "winport/types.h"

// True where addresses are 32 bits (the Windows build): the records then have
// exactly the contract's layouts.
inline constexpr bool kAddress32 = sizeof(void*) == 4;

// ---------------------------------------------------------------------------
// DIB records (little-endian, byte-exact: they are copied to and from files).

// The records are the system's own (winport/dib.h on Linux); their layouts
// are pinned here on both platforms.
static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(offsetof(BITMAPINFO, bmiColors) == 40);

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
  int32_t (CALLBACK* open)(FileReference file, int32_t mode, uint32_t* handle);
  int32_t (CALLBACK* close)(uint32_t handle);
  // Bytes read; −1 on error; fewer at end of file.
  int32_t (CALLBACK* read)(uint32_t handle, void* buffer, uint32_t count);
  // Bytes written.
  int32_t (CALLBACK* write)(uint32_t handle, const void* buffer, uint32_t count);
  // New absolute position; origin 0 start, 1 current, 2 end; −1 on failure.
  int32_t (CALLBACK* seek)(uint32_t handle, int32_t offset, int32_t origin);
  // Next byte in the low 8 bits (−1 at end of file).
  int32_t (CALLBACK* readByte)(uint32_t handle);
};
static_assert(offsetof(HostFileTable, close) == (kAddress32 ? 4 : 8));
static_assert(offsetof(HostFileTable, read) == (kAddress32 ? 8 : 16));
static_assert(offsetof(HostFileTable, write) == (kAddress32 ? 12 : 24));
static_assert(offsetof(HostFileTable, seek) == (kAddress32 ? 16 : 32));
static_assert(offsetof(HostFileTable, readByte) == (kAddress32 ? 20 : 40));
static_assert(sizeof(HostFileTable) == (kAddress32 ? 24 : 48));

// Bytes the host shows OVDLverify_img: the file's first bytes, zero-filled past its end.
inline constexpr size_t kVerifyBytes = 512;

// ---------------------------------------------------------------------------
// Reader side.

// (word at `firstArgument`, percent, word at `thirdArgument`) → nonzero to go on, 0 to cancel.
using ReaderProgressCallback = int32_t(CALLBACK*)(uint32_t first, uint32_t percent,
                                                 uint32_t third);

struct ProgressRecord {
  ReaderProgressCallback callback;  // null = no reporting
  uint32_t step;                    // amount that must accumulate before a report
  uint32_t total;                   // the 100 % mark
  uint32_t reported;                // updated by the reader
  uint32_t pending;                 // accumulated since the last report; updated by the reader
  uint32_t thirdArgument;
  uint32_t firstArgument;
};
static_assert(offsetof(ProgressRecord, step) == (kAddress32 ? 4 : 8));
static_assert(offsetof(ProgressRecord, pending) == (kAddress32 ? 16 : 20));
static_assert(offsetof(ProgressRecord, firstArgument) == (kAddress32 ? 24 : 28));
static_assert(sizeof(ProgressRecord) == (kAddress32 ? 28 : 32));

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
static_assert(offsetof(ImageHeaderRecord, bitmapInfo) == (kAddress32 ? 4 : 8));
static_assert(offsetof(ImageHeaderRecord, zeroWord) == (kAddress32 ? 8 : 16));
static_assert(offsetof(ImageHeaderRecord, width) == (kAddress32 ? 12 : 20));
static_assert(offsetof(ImageHeaderRecord, height) == (kAddress32 ? 16 : 24));
static_assert(offsetof(ImageHeaderRecord, pageCount) == (kAddress32 ? 80 : 88));
static_assert(sizeof(ImageHeaderRecord) == (kAddress32 ? 84 : 96));

// The four fields every reader's ImageBlock begins with.
struct ImageBlockHead {
  FileReference fileReference;
  uint32_t file;  // host file handle; 0 while closed
  const HostFileTable* files;
  uint32_t imageOffset;  // offset of the image in the file; every stored offset is relative to it
};
static_assert(offsetof(ImageBlockHead, file) == (kAddress32 ? 4 : 8));
static_assert(offsetof(ImageBlockHead, files) == (kAddress32 ? 8 : 16));
static_assert(offsetof(ImageBlockHead, imageOffset) == (kAddress32 ? 12 : 24));
static_assert(sizeof(ImageBlockHead) == (kAddress32 ? 16 : 32));

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
using OVDLset_ext_fn = int32_t (WINAPI*)(int32_t number, const char* text);
using OVDLinit_image_fn = int32_t (WINAPI*)(FileReference file, HGLOBAL* image, uint32_t handle,
                                      uint32_t offset, uint32_t length, const HostFileTable* files);
using OVDLclose_image_fn = int32_t (WINAPI*)(HGLOBAL image);
using OVDLopen_fn = int32_t (WINAPI*)(HGLOBAL image, int32_t ignored);
using OVDLclose_keep_fn = int32_t (WINAPI*)(HGLOBAL image);
using OVDLread_rows_fn = int32_t (WINAPI*)(HGLOBAL image, uint8_t* buffer, uint32_t rows,
                                     uint32_t stride, uint32_t offset, ProgressRecord* progress);
using OVDLset_row_fn = int32_t (WINAPI*)(HGLOBAL image, uint32_t row);
using OVDLbuildDIBhead_fn = int32_t (WINAPI*)(HGLOBAL image, ImageHeaderRecord* header);
using OVDLprint_fn = int32_t (WINAPI*)(int32_t, int32_t, int32_t, int32_t);
using OVDLrender_fn = int32_t (WINAPI*)(int32_t, int32_t, int32_t, int32_t);
using OVDLerror_string_fn = int32_t (WINAPI*)(char* buffer, int32_t size);
using OVDLget_ver_fn = const char* (WINAPI*)();
using OVDLimg_name_fn = int32_t (WINAPI*)(HGLOBAL image, int32_t ignored);
using OVDLescape_fn = int32_t (WINAPI*)(int32_t, int32_t, int32_t, int32_t);
using OVDLset_page_fn = int32_t (WINAPI*)(HGLOBAL image, int32_t page);
using OVDLget_page_fn = int32_t (WINAPI*)(HGLOBAL image, int32_t* page);
using OVDLverify_img_fn = int32_t (WINAPI*)(const uint8_t* firstBytes, int32_t, int32_t);
using ReaderWEP_fn = void (WINAPI*)(int32_t);

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
using ExportErrorCallback = void(CALLBACK*)(HINSTANCE writer, int32_t errorId,
                                            const char* moduleName, const char* fileName);

struct ExportHostInfo {
  uint32_t flags;                     // written by the writer: its WriterFlags
  ExportErrorCallback errorCallback;  // may be null
  HMODULE hostInstance;               // may be 0; only used to find OvgXOptBlkGet
};
static_assert(offsetof(ExportHostInfo, errorCallback) == (kAddress32 ? 4 : 8));
static_assert(offsetof(ExportHostInfo, hostInstance) == (kAddress32 ? 8 : 16));
static_assert(sizeof(ExportHostInfo) == (kAddress32 ? 12 : 24));

// WriterFlags bit 0: the writer wants the bottom row of the image first.
inline constexpr uint32_t kWriterBottomFirst = 1;

// (0, percent, user value) → 0 asks for cancellation.
using ExportProgressCallback = int32_t (CALLBACK*)(int32_t zero, int32_t percent, uint32_t user);

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
static_assert(offsetof(ExportProgress, callback) == (kAddress32 ? 28 : 32));
static_assert(sizeof(ExportProgress) == (kAddress32 ? 32 : 40));

// The host's option lookup: 0 = present (value written NUL-terminated), else absent.
using OvgXOptBlkGet_fn = int32_t (CALLBACK*)(HGLOBAL optionBlock, const char* key, char* value);
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
static_assert(sizeof(ExportBlockHead) == (kAddress32 ? 108 : 112));

using OVXDLget_ext_fn = const char* (WINAPI*)(ExportHostInfo* host);
using OVXDLbegin_write_fn = HGLOBAL (WINAPI*)(FileReference file, const HostFileTable* files,
                                        const char* fileName, const BITMAPINFOHEADER* image,
                                        HGLOBAL options, int32_t* flags);
using OVXDLwrite_block_fn = int32_t (WINAPI*)(HGLOBAL block, uint32_t rows, uint32_t stride,
                                        const uint8_t* data, ExportProgress* progress);
using OVXDLend_write_fn = int32_t (WINAPI*)(HGLOBAL block, ExportProgress* progress);
using OVXDLget_ver_fn = const char* (WINAPI*)();
using WriterWEP_fn = int32_t (WINAPI*)(int32_t);

// Writer export ordinals.
inline constexpr WORD kOrdOVXDLget_ext = 1;
inline constexpr WORD kOrdOVXDLbegin_write = 2;
inline constexpr WORD kOrdOVXDLwrite_block = 3;
inline constexpr WORD kOrdOVXDLend_write = 4;
inline constexpr WORD kOrdOVXDLget_ver = 5;
