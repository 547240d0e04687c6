// OVDLbuildDIBhead: the BITMAPINFO block handed to the host.
#include "dib_header.h"

#include <cstring>

namespace reader::detail {
namespace {

// The block: 40-byte header, then `entries` RGBQUADs.
RGBQUAD* PaletteOf(BITMAPINFO* info) {
  return reinterpret_cast<RGBQUAD*>(reinterpret_cast<uint8_t*>(info) + sizeof(BITMAPINFOHEADER));
}

void FillHeader(BITMAPINFOHEADER& h, const DibDescription& d) {
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = static_cast<int32_t>(d.width);
  h.biHeight = static_cast<int32_t>(d.height);  // positive: bottom-up rows
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(d.dibBitCount);
  h.biCompression = BI_RGB;
  // An image too large for the 32-bit size field says 0 ("not given"), as BI_RGB allows.
  uint64_t imageBytes = DibRowBytes(d.width, d.dibBitCount) * d.height;
  h.biSizeImage = imageBytes > UINT32_MAX ? 0 : static_cast<uint32_t>(imageBytes);
  h.biXPelsPerMeter = d.xPelsPerMeter;
  h.biYPelsPerMeter = d.yPelsPerMeter;
  h.biClrUsed = d.colorsUsed;
  h.biClrImportant = 0;
}

}  // namespace

// Describes the current page, allocates the header block (movable,
// zero-initialised), fills it and the host's record. On success the block stays
// locked and belongs to the host; on failure nothing is left allocated.
int32_t BuildDibHead(ImageBlockBase& image, ImageHeaderRecord* record) {
  if (record == nullptr) return kReaderUnsupported;
  DibDescription d;
  int32_t result = Describe(image, d);
  if (result != kReaderOk) return result;

  size_t bytes = sizeof(BITMAPINFOHEADER) + sizeof(RGBQUAD) * static_cast<size_t>(d.paletteEntries);
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, bytes);
  auto* info = handle != 0 ? static_cast<BITMAPINFO*>(GlobalLock(handle)) : nullptr;
  if (info == nullptr) {
    if (handle != 0) GlobalFree(handle);
    StoreError(kIdNoMemory);
    return kReaderNoMemory;
  }
  FillHeader(info->bmiHeader, d);
  if (d.paletteEntries > 0 && gReaderFormat.fillPalette != nullptr) {
    try {
      result = gReaderFormat.fillPalette(image, std::span<RGBQUAD>(PaletteOf(info), d.paletteEntries));
    } catch (...) {
      result = kReaderNoMemory;
      StoreError(kIdNoMemory);
    }
    if (result != kReaderOk) {
      GlobalUnlock(handle);
      GlobalFree(handle);
      return result;
    }
  }
  record->bitmapInfo = info;
  record->zeroWord = 0;
  record->width = d.width;
  record->height = d.height;
  if (d.writePageCount) record->pageCount = image.frame.pageCount;
  return kReaderOk;
}

}  // namespace reader::detail
