// The ImageBlock: allocation at init, locking per call, geometry, row state.
#include <cstring>
#include <limits>

#include "frame_internal.h"

namespace reader {

ImageBlockBase* InitContext::allocate(size_t bytes) {
  if (block_ != nullptr || bytes < sizeof(ImageBlockBase)) return nullptr;
  handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, bytes);
  if (handle_ == 0) return nullptr;
  block_ = static_cast<ImageBlockBase*>(GlobalLock(handle_));
  if (block_ == nullptr) {
    GlobalFree(handle_);
    handle_ = 0;
    return nullptr;
  }
  block_->head = ImageBlockHead{fileReference, file, files, imageOffset};
  block_->frame.format = &gReaderFormat;
  block_->frame.magic = kImageMagic;
  block_->frame.imageLength = imageLength;
  block_->frame.pageCount = 1;
  return block_;
}

namespace detail {

LockedImage::LockedImage(HGLOBAL handle) : handle_(handle) {
  if (handle == 0) return;
  auto* block = static_cast<ImageBlockBase*>(GlobalLock(handle));
  if (block == nullptr) return;
  if (GlobalSize(handle) < sizeof(ImageBlockBase) || block->frame.magic != kImageMagic ||
      block->frame.format != &gReaderFormat) {
    GlobalUnlock(handle);
    return;
  }
  block_ = block;
}

LockedImage::~LockedImage() {
  if (block_ != nullptr) GlobalUnlock(handle_);
}

void LockedImage::destroy() {
  if (block_ == nullptr) return;
  block_->frame.magic = 0;
  block_->frame.format = nullptr;
  block_ = nullptr;
  GlobalUnlock(handle_);
  GlobalFree(handle_);
}

int32_t BadHandle() {
  StoreError(kIdBadHandle);
  return kReaderBadHandle;
}

namespace {

constexpr uint64_t kMaxDecodedRowBytes = 1ull << 28;

bool ValidDibBits(uint32_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// A geometry the frame can serve: fits a BITMAPINFOHEADER, rows within limits.
bool Servable(const DibDescription& d) {
  constexpr uint64_t kMaxInt = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
  return d.width <= kMaxInt && d.height <= kMaxInt && ValidDibBits(d.dibBitCount) &&
         d.decodedBits > 0 && DibRowBytes(d.width, d.dibBitCount) <= kMaxInt &&
         d.decodedRowBytes <= kMaxDecodedRowBytes && d.paletteEntries <= 256;
}

}  // namespace

int32_t Describe(ImageBlockBase& image, DibDescription& out) {
  out = DibDescription{};
  int32_t result = gReaderFormat.describe(image, out);
  if (result != kReaderOk) return result;
  if (!Servable(out)) return kReaderUnsupported;
  ReaderFrameState& frame = image.frame;
  frame.width = out.width;
  frame.height = out.height;
  frame.dibBitCount = out.dibBitCount;
  frame.dibRowBytes = static_cast<uint32_t>(DibRowBytes(out.width, out.dibBitCount));
  frame.decodedBits = out.decodedBits;
  frame.decodedRowBytes = out.decodedRowBytes;
  frame.described = 1;
  return kReaderOk;
}

int32_t EnsureDescribed(ImageBlockBase& image) {
  if (image.frame.described != 0) return kReaderOk;
  DibDescription ignored;
  return Describe(image, ignored);
}

void ResetRowState(ImageBlockBase& image) {
  image.frame.currentRow = 0;
  image.frame.carriedRows = 0;
  image.frame.repositionNeeded = 1;
  image.frame.described = 0;
}

void FreeRowBuffer(ImageBlockBase& image) {
  if (image.frame.rowBuffer != 0) GlobalFree(image.frame.rowBuffer);
  image.frame.rowBuffer = 0;
  image.frame.rowBufferBytes = 0;
  image.frame.carriedRows = 0;
}

}  // namespace detail
}  // namespace reader
