// The Photo CD reader: an image state block around the Photo CD library's
// image handle, the library binding, and the reader's strings.
//
// The reader decodes nothing itself. OVDLinit_image and OVDLopen open the file
// through the library (from the FileReference); OVDLread_rows hands the
// library a rectangle of rows and the host's buffer and stride. The host's
// file handle and file table are kept in the block but never used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/contract.h"
#include "plugin/reader_frame.h"
#include "rdpcd/pcd_library.h"
#include "winport/windows.h"

namespace rdpcd {

// The reader's string table.
#define RDPCD_STRINGS(X)    \
  READER_COMMON_STRINGS(X)  \
  X(kStrFilter, 1000, "Photo CD~*.pcd~")

enum StringId : UINT { RDPCD_STRINGS(READER_STRING_ID) };

inline constexpr char kVersionText[] = "PCD File Reader V1.0";
inline constexpr char kTraceName[] = "rdpcd";
inline constexpr uint32_t kBlockMagic = 0x44504352;  // "RCPD": a live image of this reader

// The image state block, zero-initialised at allocation.
struct PcdImageBlock {
  ImageBlockHead head;      // FileReference, host file handle, HostFileTable, image offset
  uint32_t dibRowBytes;     // set by OVDLbuildDIBhead
  uint32_t currentRow;      // first row of the next read; moved only by OVDLset_row
  uint16_t width;           // set by OVDLbuildDIBhead
  uint16_t height;
  pcdlib::ImageHandle library;  // 0 while the library holds no image
  uint32_t magic;           // kBlockMagic while the block is a live image
};
static_assert(offsetof(PcdImageBlock, dibRowBytes) == sizeof(ImageBlockHead));
static_assert(offsetof(PcdImageBlock, currentRow) == sizeof(ImageBlockHead) + 4);
static_assert(offsetof(PcdImageBlock, width) == sizeof(ImageBlockHead) + 8);
static_assert(offsetof(PcdImageBlock, height) == sizeof(ImageBlockHead) + 10);
static_assert(offsetof(PcdImageBlock, library) == sizeof(ImageBlockHead) + 12);
static_assert(offsetof(PcdImageBlock, magic) == sizeof(ImageBlockHead) + 16);

// The library's operations, bound once when the reader is loaded.
struct PcdLibrary {
  pcdlib::OpenFn open = nullptr;
  pcdlib::CloseFn close = nullptr;
  pcdlib::ImageSizeFn imageSize = nullptr;
  pcdlib::SetProgressFn setProgress = nullptr;
  pcdlib::ReadRowsFn readRows = nullptr;
};

// Loads the library (beside the reader first, then by the platform's search)
// and binds the five ordinals; false (nothing kept) when any is missing.
bool BindLibrary(HINSTANCE reader);
void UnbindLibrary();
const PcdLibrary& Library();

// Last-error store of the calling thread.
void StoreError(UINT id);
UINT LastError();
HINSTANCE ModuleInstance();

// The empty diagnostic routine; nothing may depend on it.
void TraceHook(int level, const char* format, ...);

}  // namespace rdpcd
