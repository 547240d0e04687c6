// The fax reader's own exports: the current page's tag record and its raw,
// still coded strip data.
//
// Policies for what the format leaves open:
//   - GetRawStripData on a page whose strips hold no bytes (no StripByteCounts
//     tag, or zero counts) writes 0 as the count, stores id 7 and returns 0:
//     there is no data to hand out;
//   - strips that reach past the end of the file, or a read that fails, give
//     id 2 and 0 (the partly filled block is freed), so a truncated file is
//     never handed out as the page's data; a total above 2^31 − 1 bytes is
//     refused the same way before anything is allocated;
//   - afterwards the frame repositions the decoder before the next row, so
//     reading rows needs no OVDLset_row first;
//   - GetTiffHeader with a null destination returns 9 and stores nothing.
#include <cstring>

#include "fax_format.h"
#include "winport/module.h"

namespace rdfax {
namespace {

constexpr uint32_t kCopyChunk = 4096;
constexpr uint64_t kLargestRawData = 0x7FFFFFFF;

// The image block of a live fax image, locked for one call (null otherwise).
class LockedFax {
 public:
  explicit LockedFax(HGLOBAL handle) : handle_(handle) {
    if (handle == 0) return;
    auto* block = static_cast<FaxImage*>(GlobalLock(handle));
    if (block == nullptr) return;
    if (GlobalSize(handle) < sizeof(FaxImage) || block->base.frame.magic != reader::kImageMagic ||
        block->base.frame.format != &reader::gReaderFormat) {
      GlobalUnlock(handle);
      return;
    }
    block_ = block;
  }
  ~LockedFax() {
    if (block_ != nullptr) GlobalUnlock(handle_);
  }
  LockedFax(const LockedFax&) = delete;
  LockedFax& operator=(const LockedFax&) = delete;

  FaxImage* get() const { return block_; }

 private:
  HGLOBAL handle_;
  FaxImage* block_ = nullptr;
};

// Byte count of strip `strip`: the array's entry, or the single value for strip 0.
uint32_t StripBytes(const tiff::TiffInfo& info, uint32_t strip) {
  if (info.stripByteCounts != 0) return tiff::ArrayValue(info.stripByteCounts, strip);
  return strip == 0 ? info.stripByteCount : 0;
}

// Strips that can hold bytes: those the byte-count array lists (a strip count
// derived from the image length may be far larger), or strip 0 alone.
uint32_t StripsWithBytes(const tiff::TiffInfo& info) {
  const uint32_t listed = info.stripByteCounts != 0 ? tiff::ArrayLength(info.stripByteCounts) : 1;
  return info.stripCount < listed ? info.stripCount : listed;
}

uint64_t TotalBytes(const tiff::TiffInfo& info) {
  uint64_t total = 0;
  for (uint32_t s = 0; s < StripsWithBytes(info); ++s) total += StripBytes(info, s);
  return total;
}

// The file's length from the image offset, or UINT64_MAX when the host cannot tell.
uint64_t BytesAfterImageOffset(const ImageBlockHead& head) {
  if (head.files == nullptr || head.files->seek == nullptr || head.file == 0) return UINT64_MAX;
  const int32_t end = head.files->seek(head.file, 0, 2);
  if (end < 0) return UINT64_MAX;
  return static_cast<uint64_t>(end) > head.imageOffset ? static_cast<uint64_t>(end) - head.imageOffset : 0;
}

bool StripsInsideFile(const ImageBlockHead& head, const tiff::TiffInfo& info) {
  const uint64_t length = BytesAfterImageOffset(head);
  for (uint32_t s = 0; s < StripsWithBytes(info); ++s) {
    const uint64_t end = static_cast<uint64_t>(tiff::StripOffset(info, s)) + StripBytes(info, s);
    if (end > length) return false;
  }
  return true;
}

// Copies every strip in order into `data` through a scratch of kCopyChunk bytes.
bool CopyStrips(const ImageBlockHead& head, const tiff::TiffInfo& info, uint8_t* data) {
  uint8_t scratch[kCopyChunk];
  for (uint32_t s = 0; s < StripsWithBytes(info); ++s) {
    uint32_t left = StripBytes(info, s);
    if (left == 0) continue;
    if (!reader::HostSeekImage(head, tiff::StripOffset(info, s))) return false;
    while (left > 0) {
      const uint32_t chunk = left < kCopyChunk ? left : kCopyChunk;
      if (!reader::HostReadExact(head, scratch, chunk)) return false;
      std::memcpy(data, scratch, chunk);
      data += chunk;
      left -= chunk;
    }
  }
  return true;
}

HGLOBAL RawStripData(FaxImage& image, DWORD* byteCount) {
  const tiff::TiffInfo& info = image.fax.info;
  const uint64_t total = TotalBytes(info);
  if (byteCount != nullptr) *byteCount = static_cast<DWORD>(total > kLargestRawData ? 0 : total);
  if (total == 0) {
    reader::StoreError(kStrBadHeader);
    return 0;
  }
  if (total > kLargestRawData || !StripsInsideFile(image.base.head, info)) {
    reader::StoreError(kStrReadFailed);
    return 0;
  }
  HGLOBAL data = GlobalAlloc(GHND, static_cast<size_t>(total));
  if (data == 0) {
    reader::StoreError(kStrNoMemory);
    return 0;
  }
  auto* bytes = static_cast<uint8_t*>(GlobalLock(data));
  const bool copied = bytes != nullptr && CopyStrips(image.base.head, info, bytes);
  if (bytes != nullptr) GlobalUnlock(data);
  // The file no longer stands where the decoder left it.
  image.base.frame.repositionNeeded = 1;
  if (!copied) {
    GlobalFree(data);
    reader::StoreError(bytes == nullptr ? kStrNoMemory : kStrReadFailed);
    return 0;
  }
  return data;
}

}  // namespace
}  // namespace rdfax

WINPORT_EXPORT HGLOBAL WINAPI GetRawStripData(HGLOBAL image, DWORD* byteCount) {
  rdfax::LockedFax fax(image);
  if (fax.get() == nullptr) {
    reader::StoreError(rdfax::kStrBadHandle);
    return 0;
  }
  return rdfax::RawStripData(*fax.get(), byteCount);
}

WINPORT_EXPORT int32_t WINAPI GetTiffHeader(HGLOBAL image, void* destination) {
  rdfax::LockedFax fax(image);
  if (fax.get() == nullptr) {
    reader::StoreError(rdfax::kStrBadHandle);
    return kReaderBadHandle;
  }
  if (destination == nullptr) return kReaderUnsupported;
  std::memcpy(destination, &fax.get()->fax.info, sizeof(tiff::TiffInfo));
  return kReaderOk;
}
