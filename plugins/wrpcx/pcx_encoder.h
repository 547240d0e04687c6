// PCX scan-line coding: the header, a DIB row split into plane lines, and the
// run-length coder with its output buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "plugin/contract.h"

namespace wrpcx {

inline constexpr uint32_t kHeaderBytes = 128;
inline constexpr uint32_t kOutputBufferBytes = 2048;
inline constexpr uint32_t kFlushAbove = 2046;  // the buffer goes out once its count passes this
static_assert(kFlushAbove + 2 <= kOutputBufferBytes, "a code of two bytes always fits");
inline constexpr uint8_t kPaletteMarker = 12;
inline constexpr uint32_t kPaletteBytes = 768;

// How a DIB of one bit count is laid out in the file.
struct PlaneLayout {
  uint32_t dibBits;       // 1, 4, 8 or 24
  uint32_t version;       // 3 (1 bit), 2 (4 bits), 5 (8 and 24 bits)
  uint32_t bitsPerPlane;  // 1 or 8
  uint32_t planes;        // 1, 4, 1, 3
  uint32_t colours;       // 2, 16, 256; 2 also for 24 bits
  uint32_t width;
  uint32_t height;
  uint32_t bytesPerLine;  // per plane, always even
  uint32_t dibRowBytes;   // the host's row, padded to 4 bytes
};

// The layout of `image`, or nothing when the file cannot hold it: a bit count
// other than 1, 4, 8 or 24; a width or height of 0 or below (rows come
// bottom-up, a top-down header would be upside down); an extent beyond the
// header's 16-bit maximum (65535) or bytes per line beyond its 16-bit field.
std::optional<PlaneLayout> LayoutFor(const BITMAPINFOHEADER& image);

// The 128 header bytes; `colourTable` holds layout.colours entries for 1, 4
// and 8 bits (only the 4-bit table goes into the header).
void BuildHeader(const PlaneLayout& layout, const BITMAPINFOHEADER& image,
                 std::span<const RGBQUAD> colourTable, std::span<uint8_t, kHeaderBytes> header);

// Dots per inch from pixels per metre, rounded half up, within 0 ... 65535.
uint16_t DotsPerInch(int32_t pixelsPerMetre);

// Splits one host row into the plane lines in the order they are coded
// (planes × bytesPerLine bytes into `lines`). Only the row's first
// min(row.size(), dibRowBytes) bytes are read; whatever the lines cover beyond
// them is 0. `invert` complements 1-bit pixels.
void SplitRow(const PlaneLayout& layout, std::span<const uint8_t> row, bool invert,
              std::span<uint8_t> lines);

// How many of the first `available` (1 or more) bytes equal the first one,
// counted from it without a gap.
size_t RunLength(const uint8_t* bytes, size_t available);
// The coded bytes, collected in a buffer that is handed to `flush` whenever
// its count passes kFlushAbove (and by drain()).
class RunCoder {
 public:
  // Writes the buffer; false when it was written short.
  using Flush = bool (*)(void* context, const uint8_t* bytes, uint32_t count);

  RunCoder(std::span<uint8_t, kOutputBufferBytes> buffer, uint32_t& count, Flush flush, void* context)
      : buffer_(buffer), count_(count), flush_(flush), context_(context) {}

  // Codes one plane line on its own; false when a flush came up short (the
  // rest of the line is then not coded).
  bool codeLine(std::span<const uint8_t> line);
  // Writes what the buffer holds; false when it came up short.
  bool drain();

 private:
  std::span<uint8_t, kOutputBufferBytes> buffer_;
  uint32_t& count_;
  Flush flush_;
  void* context_;
};

}  // namespace wrpcx
