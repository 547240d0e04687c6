// A checked image description: the BITMAPINFOHEADER the host hands writers,
// with its full colour table, and the row geometry derived from it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "host/api.h"
#include "host/status.h"
#include "plugin/contract.h"

namespace imagehost {

// Largest image (row bytes × rows) the host accepts. The file functions the
// plug-ins use address files with signed 32-bit offsets, so pixel data plus
// headers must stay below 2 GiB.
inline constexpr uint64_t kMaxImageBytes = 0x7FF00000u;

// Rows per block when the caller does not choose: a block of at most this many bytes.
inline constexpr uint64_t kDefaultBlockBytes = 1u << 20;

class HOST_API DibImage {
 public:
  // Checks `header` and the colour table entries that follow it (`palette`,
  // as many as are available) and builds the normalised description: height
  // positive, compression none, image size recomputed, a full table of 2, 16
  // or 256 entries (missing entries black). Refuses bit counts other than
  // 1, 4, 8 and 24, sizes that are not positive, colour counts beyond the
  // table, and images larger than kMaxImageBytes.
  static Status make(const BITMAPINFOHEADER& header, std::span<const RGBQUAD> palette,
                     DibImage& out);
  // The same for a 48-bit image (three little-endian 16-bit samples per
  // pixel, blue first), for the writers that take one (kWriterTakesWideColour).
  static Status makeWideColour(const BITMAPINFOHEADER& header, DibImage& out);

  const BITMAPINFOHEADER& header() const { return header_; }
  const std::vector<RGBQUAD>& palette() const { return palette_; }
  uint32_t width() const { return static_cast<uint32_t>(header_.biWidth); }
  uint32_t height() const { return static_cast<uint32_t>(header_.biHeight); }
  uint32_t bits() const { return header_.biBitCount; }
  // Colour table entries in use: biClrUsed, or the full table when that is 0; 0 for 24 bits.
  uint32_t colors() const;
  // Bytes of one DIB row (padded to 4 bytes) and of the whole image.
  uint32_t stride() const { return static_cast<uint32_t>(DibRowBytes(width(), bits())); }
  uint64_t imageBytes() const { return uint64_t{stride()} * height(); }
  // The header immediately followed by the colour table, as writers expect it.
  std::vector<uint8_t> packed() const;

 private:
  BITMAPINFOHEADER header_{};
  std::vector<RGBQUAD> palette_;
};

// Entries of the full colour table for a bit count: 2, 16, 256, or 0 for 24 and 48 bits.
HOST_API uint32_t FullPaletteEntries(uint32_t bits);

// Rows per block: `requested` when not 0, else as many as fit kDefaultBlockBytes;
// at least 1, at most `height`.
HOST_API uint32_t BlockRows(uint32_t requested, uint32_t stride, uint32_t height);

}  // namespace imagehost
