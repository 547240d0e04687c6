#include "image_pac.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pcdlib {

namespace {

constexpr char kImagePacSignature[] = "PCD_IPI";
constexpr char kOverviewSignature[] = "PCD_OPA";
constexpr size_t kSignatureLength = 7;

constexpr uint32_t kChromaWidth = kBaseWidth / 2;
constexpr uint32_t kChromaHeight = kBaseHeight / 2;
// One group: two luma rows, then a row of C1 and a row of C2.
constexpr uint32_t kGroupBytes = 2 * kBaseWidth + 2 * kChromaWidth;
static_assert(kGroupBytes * kChromaHeight == kBaseBytes);

// Photo YCC: luma scaled by 1.3584 gives the display value (reference white
// near code 188 reaches 255; brighter highlights are clipped); the chroma
// channels are colour differences centred on 156 (C1, blue) and 137 (C2, red).
constexpr double kLumaScale = 1.3584;
constexpr double kChroma1Scale = 2.2179;
constexpr double kChroma2Scale = 1.8215;
constexpr double kChroma1Zero = 156.0;
constexpr double kChroma2Zero = 137.0;
constexpr double kGreenFromBlue = 0.194;
constexpr double kGreenFromRed = 0.509;

uint8_t ToByte(double value) {
  value = std::clamp(value, 0.0, 255.0);  // clamped first: the conversion is always defined
  return static_cast<uint8_t>(std::lround(value));
}

// The neighbour a full-resolution position interpolates towards: the chroma
// sample before for an even position, after for an odd one, clamped to the edge.
uint32_t ChromaNeighbour(uint32_t position, uint32_t samples) {
  uint32_t sample = position / 2;
  if (position % 2 == 0) return sample == 0 ? 0 : sample - 1;
  return std::min(sample + 1, samples - 1);
}

// One chroma channel of the Base image; `row` counts chroma rows.
struct ChromaPlane {
  std::span<const uint8_t> base;
  uint32_t planeOffset;  // within a group: 2 luma rows (C1) or that plus one chroma row (C2)

  uint32_t at(uint32_t row, uint32_t column) const {
    return base[uint64_t{row} * kGroupBytes + planeOffset + column];
  }
  // The channel at full-resolution (x, y), sixteen times over.
  uint32_t interpolated16(uint32_t x, uint32_t y) const {
    const uint32_t cx = x / 2, cy = y / 2;
    const uint32_t nx = ChromaNeighbour(x, kChromaWidth), ny = ChromaNeighbour(y, kChromaHeight);
    return 9 * at(cy, cx) + 3 * at(cy, nx) + 3 * at(ny, cx) + at(ny, nx);
  }
};

// The Base image in stored orientation, blue-green-red rows, top first.
void ConvertStored(std::span<const uint8_t> base, std::vector<uint8_t>& bgr) {
  const ChromaPlane c1{base, 2 * kBaseWidth};
  const ChromaPlane c2{base, 2 * kBaseWidth + kChromaWidth};
  bgr.assign(uint64_t{kBaseWidth} * kBaseHeight * 3, 0);
  for (uint32_t y = 0; y < kBaseHeight; ++y) {
    const uint64_t lumaRow = uint64_t{y / 2} * kGroupBytes + uint64_t{y % 2} * kBaseWidth;
    uint8_t* out = bgr.data() + uint64_t{y} * kBaseWidth * 3;
    for (uint32_t x = 0; x < kBaseWidth; ++x, out += 3) {
      Rgb rgb = YccToRgb(base[lumaRow + x], c1.interpolated16(x, y) / 16.0,
                         c2.interpolated16(x, y) / 16.0);
      out[0] = rgb.blue;
      out[1] = rgb.green;
      out[2] = rgb.red;
    }
  }
}

// Turns a stored picture counter-clockwise by `turns` quarter turns (1-3).
void Turn(const std::vector<uint8_t>& stored, uint32_t turns, Picture& out) {
  const uint32_t sw = kBaseWidth, sh = kBaseHeight;
  out.width = turns == 2 ? sw : sh;
  out.height = turns == 2 ? sh : sw;
  out.bgr.assign(stored.size(), 0);
  for (uint32_t y = 0; y < out.height; ++y) {
    for (uint32_t x = 0; x < out.width; ++x) {
      uint32_t sx, sy;
      if (turns == 1) {  // a quarter turn left: the right column becomes the top row
        sx = sw - 1 - y;
        sy = x;
      } else if (turns == 2) {
        sx = sw - 1 - x;
        sy = sh - 1 - y;
      } else {  // three quarters left, one right: the left column becomes the top row
        sx = y;
        sy = sh - 1 - x;
      }
      std::memcpy(&out.bgr[(uint64_t{y} * out.width + x) * 3],
                  &stored[(uint64_t{sy} * sw + sx) * 3], 3);
    }
  }
}

}  // namespace

HeaderCheck CheckHeader(std::span<const uint8_t> header, uint32_t& quarterTurns) {
  if (header.size() < kHeaderBytes) return HeaderCheck::kNoSignature;
  if (std::memcmp(header.data(), kOverviewSignature, kSignatureLength) == 0)
    return HeaderCheck::kOverview;
  if (std::memcmp(header.data() + kSignatureOffset, kImagePacSignature, kSignatureLength) != 0)
    return HeaderCheck::kNoSignature;
  quarterTurns = header[kRotationOffset] & 3u;
  return HeaderCheck::kImagePac;
}

Rgb YccToRgb(double luma, double chroma1, double chroma2) {
  const double l = kLumaScale * luma;
  const double blue = kChroma1Scale * (chroma1 - kChroma1Zero);
  const double red = kChroma2Scale * (chroma2 - kChroma2Zero);
  return Rgb{ToByte(l + red), ToByte(l - kGreenFromBlue * blue - kGreenFromRed * red),
             ToByte(l + blue)};
}

void DecodeBase(std::span<const uint8_t> base, uint32_t quarterTurns, Picture& out) {
  out = Picture{};
  if (base.size() < kBaseBytes) return;
  std::vector<uint8_t> stored;
  ConvertStored(base.first(kBaseBytes), stored);
  const uint32_t turns = quarterTurns % 4;
  if (turns == 0) {
    out.width = kBaseWidth;
    out.height = kBaseHeight;
    out.bgr = std::move(stored);
    return;
  }
  Turn(stored, turns, out);
}

}  // namespace pcdlib
