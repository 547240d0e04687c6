// The Photo CD reader's entry points. Each one that takes an image handle
// locks the block for the call (a handle that is not a live image of this
// reader: 8 with id 4) and unlocks it on every exit; no exception leaves an
// export. Failures of the library give result 0: id 1 when opening, id 2
// when describing or reading.
#include <algorithm>
#include <cstring>
#include <new>

#include "pcd_reader.h"

namespace rdpcd {

namespace {

constexpr uint32_t kBytesPerPixel = 3;
constexpr int32_t kLibraryFailed = 0;  // the result of every library failure

uint32_t High16(const void* p) {
  return static_cast<uint32_t>((reinterpret_cast<uintptr_t>(p) >> 16) & 0xFFFF);
}
uint32_t Low16(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p) & 0xFFFF);
}

int32_t BadHandle() {
  StoreError(kStrBadHandle);
  return kReaderBadHandle;
}

int32_t Failed(UINT id) {
  StoreError(id);
  return kLibraryFailed;
}

template <typename Body>
int32_t Shielded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    StoreError(kStrNoMemory);
    return kReaderNoMemory;
  } catch (...) {
    return kReaderCorrupt;
  }
}

// Locks an image handle for one call. A handle that cannot be locked, or
// whose block is too small or not a live image of this reader, is invalid.
class LockedBlock {
 public:
  explicit LockedBlock(HGLOBAL handle) : handle_(handle) {
    if (handle == 0) return;
    auto* block = static_cast<PcdImageBlock*>(GlobalLock(handle));
    if (block == nullptr) return;
    if (GlobalSize(handle) < sizeof(PcdImageBlock) || block->magic != kBlockMagic) {
      GlobalUnlock(handle);
      return;
    }
    block_ = block;
  }
  ~LockedBlock() {
    if (block_ != nullptr) GlobalUnlock(handle_);
  }
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;

  explicit operator bool() const { return block_ != nullptr; }
  PcdImageBlock* operator->() const { return block_; }

  // Unlocks and frees the block; the handle is invalid afterwards.
  void destroy() {
    block_->magic = 0;
    GlobalUnlock(handle_);
    GlobalFree(handle_);
    block_ = nullptr;
  }

 private:
  HGLOBAL handle_;
  PcdImageBlock* block_ = nullptr;
};

// Called by the library during a read: reports done/total as a percentage
// through the host's callback and hands its answer back to the library.
int32_t ReportProgress(int16_t done, int16_t total, void* user) {
  const auto* progress = static_cast<const ProgressRecord*>(user);
  if (progress == nullptr || progress->callback == nullptr) return 1;
  int32_t percent = total > 0 ? int32_t{done} * 100 / total : 0;
  percent = std::clamp(percent, 0, 100);
  return progress->callback(progress->firstArgument, static_cast<uint32_t>(percent),
                            progress->thirdArgument);
}

// The library's rectangle for `rows` rows from the current row: columns from
// byte `offset` to the last whole pixel of the stride. False when the rows
// do not fit the library's 16-bit row numbers, or when rows are wanted and
// not one whole pixel fits the stride.
bool MakeRect(const PcdImageBlock& block, uint32_t rows, uint32_t stride, uint32_t offset,
              pcdlib::RowRect& rect) {
  const uint64_t endRow = uint64_t{block.currentRow} + rows;
  if (endRow > 0xFFFF) return false;
  if (rows > 0 && stride < kBytesPerPixel) return false;
  rect.firstRow = static_cast<uint16_t>(block.currentRow);
  rect.endRow = static_cast<uint16_t>(endRow);
  rect.firstColumn = static_cast<uint16_t>(std::min<uint32_t>(offset / kBytesPerPixel, 0xFFFF));
  rect.lastColumn = static_cast<uint16_t>(
      rows > 0 ? std::min<uint32_t>(stride / kBytesPerPixel - 1, 0xFFFF) : 0);
  return true;
}

int32_t InitImage(FileReference file, HGLOBAL* image, uint32_t hostFile, uint32_t offset,
                  const HostFileTable* files) {
  if (image == nullptr) return BadHandle();
  *image = 0;
  pcdlib::ImageHandle library = 0;
  if (Library().open(file, &library) != 0 || library == 0) return Failed(kStrOpenFailed);
  HGLOBAL handle = GlobalAlloc(GHND, sizeof(PcdImageBlock));
  auto* block = handle != 0 ? static_cast<PcdImageBlock*>(GlobalLock(handle)) : nullptr;
  if (block == nullptr) {
    if (handle != 0) GlobalFree(handle);
    Library().close(library);  // the library's image must not outlive the failed init
    StoreError(kStrNoMemory);
    return kReaderNoMemory;
  }
  block->head.fileReference = file;
  block->head.file = hostFile;
  block->head.files = files;
  block->head.imageOffset = offset;
  block->library = library;
  block->magic = kBlockMagic;
  GlobalUnlock(handle);
  *image = handle;
  return kReaderOk;
}

int32_t BuildDibHead(PcdImageBlock& block, ImageHeaderRecord* record) {
  if (record == nullptr) return kReaderUnsupported;
  HGLOBAL handle = GlobalAlloc(GHND, sizeof(BITMAPINFOHEADER));
  auto* info = handle != 0 ? static_cast<uint8_t*>(GlobalLock(handle)) : nullptr;
  if (info == nullptr) {
    if (handle != 0) GlobalFree(handle);
    StoreError(kStrNoMemory);
    return kReaderNoMemory;
  }
  int16_t size[4] = {};
  if (Library().imageSize(block.library, size) != 0 || size[pcdlib::kSizeWidth] <= 0 ||
      size[pcdlib::kSizeHeight] <= 0) {
    GlobalUnlock(handle);
    GlobalFree(handle);
    return Failed(kStrReadFailed);
  }
  block.width = static_cast<uint16_t>(size[pcdlib::kSizeWidth]);
  block.height = static_cast<uint16_t>(size[pcdlib::kSizeHeight]);
  block.dibRowBytes = static_cast<uint32_t>(DibRowBytes(block.width, 24));
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = block.width;
  header.biHeight = block.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  std::memcpy(info, &header, sizeof header);
  record->bitmapInfo = reinterpret_cast<BITMAPINFO*>(info);  // stays locked: the host's now
  record->zeroWord = 0;
  record->width = block.width;
  record->height = block.height;
  return kReaderOk;
}

int32_t ReadRows(PcdImageBlock& block, uint8_t* buffer, uint32_t rows, uint32_t stride,
                 uint32_t offset, ProgressRecord* progress) {
  const PcdLibrary& library = Library();
  pcdlib::RowRect rect{};
  if (!MakeRect(block, rows, stride, offset, rect)) return Failed(kStrReadFailed);
  const bool reporting = progress != nullptr && progress->callback != nullptr;
  if (reporting) library.setProgress(block.library, ReportProgress, progress);
  const int16_t result = library.readRows(block.library, &rect, buffer, stride);
  // The record is the host's only for this call: the library keeps no pointer to it.
  if (reporting) library.setProgress(block.library, nullptr, nullptr);
  if (result != 0) return Failed(kStrReadFailed);
  return kReaderOk;  // the current row stays: the host moves it with OVDLset_row
}

}  // namespace

}  // namespace rdpcd

using rdpcd::LockedBlock;
using rdpcd::Shielded;

WINPORT_EXPORT int32_t WINAPI OVDLset_ext(int32_t number, const char* text) {
  rdpcd::TraceHook(4, "\t%s-->set_ext(%d,%s)", rdpcd::kTraceName, number, text);
  return kReaderOk;
}

WINPORT_EXPORT int32_t WINAPI OVDLinit_image(FileReference file, HGLOBAL* image, uint32_t handle,
                                      uint32_t offset, uint32_t /*length*/,
                                      const HostFileTable* files) {
  return Shielded([&] { return rdpcd::InitImage(file, image, handle, offset, files); });
}

WINPORT_EXPORT int32_t WINAPI OVDLclose_image(HGLOBAL image) {
  return Shielded([&] {
    LockedBlock block(image);
    if (!block) return rdpcd::BadHandle();
    rdpcd::TraceHook(4, "\t%s-->close_image(%d)", rdpcd::kTraceName, image);
    if (block->library != 0) rdpcd::Library().close(block->library);
    block->library = 0;
    block->head.file = 0;
    block.destroy();
    return static_cast<int32_t>(kReaderOk);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLopen(HGLOBAL image, int32_t /*ignored*/) {
  return Shielded([&] {
    LockedBlock block(image);
    if (!block) return rdpcd::BadHandle();
    if (block->library != 0) return static_cast<int32_t>(kReaderOk);  // still open: kept
    pcdlib::ImageHandle library = 0;
    if (rdpcd::Library().open(block->head.fileReference, &library) != 0 || library == 0)
      return rdpcd::Failed(rdpcd::kStrOpenFailed);
    block->library = library;
    return static_cast<int32_t>(kReaderOk);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLclose_keep(HGLOBAL image) {
  return Shielded([&] {
    LockedBlock block(image);
    if (!block) return rdpcd::BadHandle();
    rdpcd::TraceHook(4, "\t%s-->close_keep(%d)", rdpcd::kTraceName, image);
    if (block->library != 0) rdpcd::Library().close(block->library);
    block->library = 0;
    return static_cast<int32_t>(kReaderOk);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLread_rows(HGLOBAL image, uint8_t* buffer, uint32_t rows,
                                     uint32_t stride, uint32_t offset, ProgressRecord* progress) {
  return Shielded([&] {
    LockedBlock block(image);
    if (!block) return rdpcd::BadHandle();
    rdpcd::TraceHook(4, "\t%s-->%s(%d, %x:%x, %u, %u, %u, %x:%x)", rdpcd::kTraceName,
                     "read_rows", image, rdpcd::High16(buffer), rdpcd::Low16(buffer), rows,
                     stride, offset, rdpcd::High16(progress), rdpcd::Low16(progress));
    return rdpcd::ReadRows(*block.operator->(), buffer, rows, stride, offset, progress);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLset_row(HGLOBAL image, uint32_t row) {
  return Shielded([&] {
    LockedBlock block(image);
    if (!block) return rdpcd::BadHandle();
    rdpcd::TraceHook(4, "\t%s-->set_row(%d,%d)", rdpcd::kTraceName, image, row);
    block->currentRow = row;
    return static_cast<int32_t>(kReaderOk);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLbuildDIBhead(HGLOBAL image, ImageHeaderRecord* header) {
  return Shielded([&] {
    LockedBlock block(image);
    if (!block) return rdpcd::BadHandle();
    rdpcd::TraceHook(4, "\t%s-->buildDIBhead(%d)", rdpcd::kTraceName, image);
    return rdpcd::BuildDibHead(*block.operator->(), header);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLprint(int32_t, int32_t, int32_t, int32_t) {
  return kReaderNoPrinting;  // no id stored
}

WINPORT_EXPORT int32_t WINAPI OVDLrender(int32_t, int32_t, int32_t, int32_t) {
  return 0;
}

// Loads the calling thread's last error id from the string table. Always 1;
// an id of 0 gives an empty text.
WINPORT_EXPORT int32_t WINAPI OVDLerror_string(char* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return kReaderOk;
  buffer[0] = '\0';
  UINT id = rdpcd::LastError();
  if (id != 0) LoadStringA(rdpcd::ModuleInstance(), id, buffer, size);
  return kReaderOk;
}

WINPORT_EXPORT const char* WINAPI OVDLget_ver() {
  return rdpcd::kVersionText;
}

WINPORT_EXPORT int32_t WINAPI OVDLimg_name(HGLOBAL image, int32_t /*ignored*/) {
  return Shielded([&] {
    LockedBlock block(image);
    return block ? static_cast<int32_t>(kReaderOk) : rdpcd::BadHandle();
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLescape(int32_t, int32_t, int32_t, int32_t) {
  return kReaderUnsupported;  // no id stored
}

// Recognition is left to the library when the image is opened: every file
// may be a Photo CD image as far as the first bytes tell.
WINPORT_EXPORT int32_t WINAPI OVDLverify_img(const uint8_t* /*firstBytes*/, int32_t, int32_t) {
  return 2;
}

WINPORT_EXPORT void WINAPI WEP(int32_t /*ignored*/) {}
