#include "bmp_layout.h"

namespace wrbmp {

std::optional<BmpLayout> LayoutFor(const BITMAPINFOHEADER& image) {
  uint32_t colours = 0;
  switch (image.biBitCount) {
    case 1: colours = 2; break;
    case 4: colours = 16; break;
    case 8: colours = 256; break;
    case 24: colours = 0; break;
    default: return std::nullopt;
  }
  if (image.biSize != kInfoHeaderSize || image.biCompression != BI_RGB) return std::nullopt;
  if (image.biWidth <= 0 || image.biHeight <= 0) return std::nullopt;

  BmpLayout layout{};
  layout.colourTableBytes = colours * sizeof(RGBQUAD);
  layout.pixelOffset = kFileHeaderSize + kInfoHeaderSize + layout.colourTableBytes;
  const uint64_t rowBytes = DibRowBytes(static_cast<uint64_t>(image.biWidth), image.biBitCount);
  const uint64_t fileSize = layout.pixelOffset + rowBytes * static_cast<uint64_t>(image.biHeight);
  if (fileSize > kMaxFileSize) return std::nullopt;
  layout.rowBytes = static_cast<uint32_t>(rowBytes);
  layout.rows = static_cast<uint32_t>(image.biHeight);
  layout.fileSize = static_cast<uint32_t>(fileSize);
  return layout;
}

}  // namespace wrbmp
