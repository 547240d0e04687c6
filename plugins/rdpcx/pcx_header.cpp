// The page header: its fields, and what they mean for decoding.
//
// Layouts delivered (planes × bits per plane → DIB bits):
//   1 × 1 → 1, 1 × 4 → 4, 1 × 8 → 8   the scan line is the DIB row
//   1 × 2 → 4                          2-bit pixels widened to 4-bit ones
//   2, 3 or 4 × 1 → 4                  planar colour, plane p = bit p of the pixel
//   3 × 8 → 24, 4 × 8 → 24             red, green, blue planes (a 4th, alpha, is skipped)
// Any other combination (planes of 2 or 4 bits, two 8-bit planes, more than
// four planes, ...) has no DIB form that keeps its pixel values and is refused
// as an invalid header (id 7, result 3) rather than delivered as wrong pixels.
// So is an extent whose maximum lies before its minimum.
#include "pcx_format.h"

namespace rdpcx {
namespace {

uint16_t Le16(std::span<const uint8_t, kHeaderBytes> bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

int32_t Fail(UINT id) {
  reader::StoreError(id);
  return kReaderReadFailed;
}

bool AcceptedVersion(uint8_t version) {
  return version == 0 || version == 2 || version == 3 || version == 4 || version == 5;
}

// The layout of planes × bits, or false when the reader has none for it.
bool LayoutOf(uint32_t planes, uint32_t bits, Layout& layout, uint32_t& dibBits) {
  if (planes == 1 && (bits == 1 || bits == 4 || bits == 8)) {
    layout = Layout::kPacked;
    dibBits = bits;
  } else if (planes == 1 && bits == 2) {
    layout = Layout::kPacked2;
    dibBits = 4;
  } else if (planes >= 2 && planes <= 4 && bits == 1) {
    layout = Layout::kPlanar;
    dibBits = 4;
  } else if ((planes == 3 || planes == 4) && bits == 8) {
    layout = Layout::kRgb;
    dibBits = 24;
  } else {
    return false;
  }
  return true;
}

}  // namespace

PcxHeader ParseHeader(std::span<const uint8_t, kHeaderBytes> bytes) {
  PcxHeader h{};
  h.manufacturer = bytes[0];
  h.version = bytes[1];
  h.encoding = bytes[2];
  h.bitsPerPixel = bytes[3];
  h.xMin = Le16(bytes, 4);
  h.yMin = Le16(bytes, 6);
  h.xMax = Le16(bytes, 8);
  h.yMax = Le16(bytes, 10);
  h.xDpi = Le16(bytes, 12);
  h.yDpi = Le16(bytes, 14);
  for (size_t i = 0; i < sizeof h.palette; ++i) h.palette[i] = bytes[16 + i];
  h.reserved = bytes[64];
  h.planes = bytes[65];
  h.bytesPerLine = Le16(bytes, 66);
  return h;
}

int32_t CheckHeader(const PcxHeader& h, PageGeometry& g) {
  if (h.manufacturer != kManufacturer) return Fail(kStrBadHeader);
  if (!AcceptedVersion(h.version)) return Fail(kStrBadVersion);
  if (h.xMax < h.xMin || h.yMax < h.yMin) return Fail(kStrBadHeader);
  PageGeometry geometry{};
  if (!LayoutOf(h.planes, h.bitsPerPixel, geometry.layout, geometry.dibBits)) {
    return Fail(kStrBadHeader);
  }
  geometry.width = static_cast<uint32_t>(h.xMax - h.xMin) + 1;
  geometry.height = static_cast<uint32_t>(h.yMax - h.yMin) + 1;
  geometry.planes = h.planes;
  geometry.bitsPerPixel = h.bitsPerPixel;
  geometry.bytesPerLine = h.bytesPerLine;
  geometry.lineLength = static_cast<uint32_t>(h.bytesPerLine) * h.planes;  // at most 4 × 65535
  g = geometry;
  return kReaderOk;
}

}  // namespace rdpcx
