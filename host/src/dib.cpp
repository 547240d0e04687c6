#include "host/dib.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace imagehost {

uint32_t FullPaletteEntries(uint32_t bits) { return bits <= 8 ? (1u << bits) : 0u; }

uint32_t BlockRows(uint32_t requested, uint32_t stride, uint32_t height) {
  uint64_t rows = requested;
  if (rows == 0) rows = kDefaultBlockBytes / std::max<uint32_t>(stride, 1);
  rows = std::clamp<uint64_t>(rows, 1, std::max<uint32_t>(height, 1));
  return static_cast<uint32_t>(rows);
}

namespace {

Status CheckGeometry(const BITMAPINFOHEADER& h, bool wide) {
  if (h.biSize != sizeof(BITMAPINFOHEADER))
    return Status::failure("unsupported header size " + std::to_string(h.biSize));
  if (h.biBitCount != 1 && h.biBitCount != 4 && h.biBitCount != 8 && h.biBitCount != 24 &&
      !(wide && h.biBitCount == 48))
    return Status::failure("unsupported bit count " + std::to_string(h.biBitCount));
  if (h.biCompression != BI_RGB)
    return Status::failure("unsupported compression " + std::to_string(h.biCompression));
  if (h.biWidth <= 0 || h.biHeight <= 0)
    return Status::failure("invalid size " + std::to_string(h.biWidth) + " x " +
                           std::to_string(h.biHeight));
  uint64_t bytes = DibRowBytes(static_cast<uint64_t>(h.biWidth), h.biBitCount) *
                   static_cast<uint64_t>(h.biHeight);
  if (bytes > kMaxImageBytes)
    return Status::failure("image too large: " + std::to_string(h.biWidth) + " x " +
                           std::to_string(h.biHeight) + " at " + std::to_string(h.biBitCount) +
                           " bits needs " + std::to_string(bytes) + " bytes");
  return {};
}

}  // namespace

Status DibImage::makeWideColour(const BITMAPINFOHEADER& header, DibImage& out) {
  if (header.biBitCount != 48) return Status::failure("not a 48-bit image");
  if (Status geometry = CheckGeometry(header, true); !geometry) return geometry;
  DibImage image;
  image.header_ = header;
  image.header_.biClrUsed = 0;
  image.header_.biSizeImage = static_cast<uint32_t>(image.imageBytes());
  out = std::move(image);
  return {};
}

Status DibImage::make(const BITMAPINFOHEADER& header, std::span<const RGBQUAD> palette,
                      DibImage& out) {
  if (Status geometry = CheckGeometry(header, false); !geometry) return geometry;
  const uint32_t full = FullPaletteEntries(header.biBitCount);
  uint32_t used = header.biClrUsed;
  if (full == 0) {
    used = 0;  // a 24-bit image's optional table is of no use to writers
  } else if (used > full) {
    return Status::failure("colour count " + std::to_string(used) + " exceeds the " +
                           std::to_string(full) + " entries of a " +
                           std::to_string(header.biBitCount) + "-bit table");
  }
  const uint32_t needed = used != 0 ? used : full;
  if (palette.size() < needed)
    return Status::failure("colour table has " + std::to_string(palette.size()) + " entries, " +
                           std::to_string(needed) + " needed");

  DibImage image;
  image.header_ = header;
  image.header_.biClrUsed = used;
  image.header_.biSizeImage =
      static_cast<uint32_t>(DibRowBytes(static_cast<uint64_t>(header.biWidth), header.biBitCount) *
                            static_cast<uint64_t>(header.biHeight));
  image.palette_.assign(full, RGBQUAD{0, 0, 0, 0});
  std::copy_n(palette.begin(), needed, image.palette_.begin());
  out = std::move(image);
  return {};
}

uint32_t DibImage::colors() const {
  if (bits() > 8) return 0;
  return header_.biClrUsed != 0 ? header_.biClrUsed : FullPaletteEntries(bits());
}

std::vector<uint8_t> DibImage::packed() const {
  std::vector<uint8_t> bytes(sizeof(BITMAPINFOHEADER) + palette_.size() * sizeof(RGBQUAD));
  std::memcpy(bytes.data(), &header_, sizeof(BITMAPINFOHEADER));
  if (!palette_.empty())
    std::memcpy(bytes.data() + sizeof(BITMAPINFOHEADER), palette_.data(),
                palette_.size() * sizeof(RGBQUAD));
  return bytes;
}

}  // namespace imagehost
