// Our own encoders for the sample and test images: GEM IMG files (monochrome)
// and uncompressed BMP files of 1, 4, 8 and 24 bits in either row order.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "plugin/contract.h"

namespace samples {

// A monochrome image: rows of (width + 7) / 8 bytes, top row first, the
// first pixel in the high bit, a set bit black (the GEM and PBM convention).
struct MonoImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bits;

  uint32_t rowBytes() const { return (width + 7) / 8; }
  bool black(uint32_t x, uint32_t y) const {
    return (bits[uint64_t{y} * rowBytes() + x / 8] >> (7 - x % 8)) & 1;
  }
  void setBlack(uint32_t x, uint32_t y) {
    bits[uint64_t{y} * rowBytes() + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
};

MonoImage BlankMono(uint32_t width, uint32_t height);

struct GemOptions {
  uint16_t patternLength = 2;  // bytes per pattern run (header word 3)
  bool patternRuns = true;     // use pattern runs for repeating byte groups
  bool replicate = true;       // use vertical replication for repeated lines
};

// Encodes `image` as a GEM IMG file: solid runs of 0x00 and 0xFF bytes, bit
// strings, and (by option) pattern runs and vertical replication.
std::vector<uint8_t> EncodeGem(const MonoImage& image, const GemOptions& options = {});
// The pieces, for files too large to hold: the 16-byte header, and the items
// of one line (pattern runs by option; no replication) appended to `out`.
std::vector<uint8_t> GemHeader(uint32_t width, uint32_t height, uint16_t patternLength);
void EncodeGemLine(std::span<const uint8_t> line, const GemOptions& options,
                   std::vector<uint8_t>& out);

struct BmpFormat {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 8;     // 1, 4, 8 or 24
  bool topDown = false;  // negative biHeight: the file's first row is the top
  std::vector<RGBQUAD>
      palette;  // written as given (up to 2, 16 or 256 entries; biClrUsed = its size)
  int32_t pixelsPerMetre = 2835;

  uint32_t stride() const { return static_cast<uint32_t>(DibRowBytes(width, bits)); }
};

// Fills image row `y` (0 = top) in DIB layout (stride bytes, padding zero).
using RowFiller = std::function<void(uint32_t y, std::span<uint8_t> row)>;

// Writes a BMP file row by row (never the whole image in memory). False on an I/O error.
bool WriteBmp(const std::string& path, const BmpFormat& format, const RowFiller& fill);
// The same file as bytes.
std::vector<uint8_t> EncodeBmp(const BmpFormat& format, const RowFiller& fill);

// A grey ramp of 2^bits entries and a colourful 256-entry table.
std::vector<RGBQUAD> GreyPalette(uint16_t bits);
std::vector<RGBQUAD> ColourPalette(uint32_t entries);

// Sets pixel x of a packed DIB row of 1, 4 or 8 bits to palette index `index`,
// or of a 24-bit row to blue, green, red taken from `index`'s low three bytes.
void SetPixel(std::span<uint8_t> row, uint16_t bits, uint32_t x, uint32_t index);

}  // namespace samples
