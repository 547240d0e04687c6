#include "png_rows.h"

#include <cstdlib>
#include <cstring>

namespace wrpng {
namespace {

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c) {
  const int p = int{a} + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Applies one filter; returns the sum of the filtered bytes taken as signed,
// the usual measure of how well a row will compress.
uint64_t Apply(Filter filter, const PngLayout& layout, const uint8_t* row, const uint8_t* up,
               uint8_t* out) {
  const uint32_t n = layout.rowBytes;
  const uint32_t bpp = layout.pixelBytes;
  out[0] = filter;
  uint8_t* to = out + 1;
  uint64_t sum = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t left = i >= bpp ? row[i - bpp] : 0;
    const uint8_t upLeft = i >= bpp ? up[i - bpp] : 0;
    uint8_t predictor = 0;
    switch (filter) {
      case kNone:
        break;
      case kSub:
        predictor = left;
        break;
      case kUp:
        predictor = up[i];
        break;
      case kAverage:
        predictor = static_cast<uint8_t>((uint32_t{left} + up[i]) / 2);
        break;
      case kPaeth:
        predictor = Paeth(left, up[i], upLeft);
        break;
    }
    to[i] = static_cast<uint8_t>(row[i] - predictor);
    sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(to[i])));
  }
  return sum;
}

}  // namespace

void FileRow(const PngLayout& layout, const uint8_t* dibRow, uint8_t* out) {
  switch (layout.dibBits) {
    case 24:
      for (uint32_t x = 0; x < layout.width; ++x, dibRow += 3, out += 3) {
        out[0] = dibRow[2];
        out[1] = dibRow[1];
        out[2] = dibRow[0];
      }
      break;
    case 48:
      // Blue, green, red little-endian in; red, green, blue big-endian out.
      for (uint32_t x = 0; x < layout.width; ++x, dibRow += 6, out += 6) {
        for (int s = 0; s < 3; ++s) {
          out[2 * s] = dibRow[2 * (2 - s) + 1];
          out[2 * s + 1] = dibRow[2 * (2 - s)];
        }
      }
      break;
    default:
      std::memcpy(out, dibRow, layout.rowBytes);
      break;
  }
}

void FilterRow(const PngLayout& layout, bool adaptive, const uint8_t* row, const uint8_t* previous,
               uint8_t* out, uint8_t* scratch) {
  const bool filtered = adaptive && layout.colourType != kColourPalette && layout.depth >= 8;
  uint64_t best = Apply(kNone, layout, row, previous, out);
  if (!filtered) return;
  for (Filter f : {kSub, kUp, kAverage, kPaeth}) {
    const uint64_t score = Apply(f, layout, row, previous, scratch);
    if (score < best) {
      best = score;
      std::memcpy(out, scratch, size_t{layout.rowBytes} + 1);
    }
  }
}

}  // namespace wrpng
