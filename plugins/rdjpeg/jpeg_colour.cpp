// Upsampling of subsampled components and conversion of picture rows.
//
// Chroma is upsampled by replication: a component of H × V blocks per MCU in
// a frame whose maxima are Hmax × Vmax repeats each sample Hmax / H times
// across and Vmax / V times down (the frame is refused at open unless both
// ratios are whole numbers). A component that is not subsampled is read from
// its block plane directly; its full-size plane is that plane. Chroma
// repeated once or twice across (4:4:4, 4:2:2, 4:2:0, 4:4:0) is not copied
// into a full-size plane at all: the conversion reads its block plane row
// y / (Vmax / V) and repeats each sample itself.
#include <cstring>

#include "jpeg_rows.h"
#include "jpeg_simd.h"
#include "jpeg_tables.h"

namespace rdjpeg {
namespace {

void ReplicateRow(const uint8_t* source, uint8_t* dest, size_t destBytes, int32_t across) {
  if (across == 1) {
    std::memcpy(dest, source, destBytes);
  } else if (across == 2) {
    for (size_t x = 0; x + 1 < destBytes; x += 2) dest[x] = dest[x + 1] = source[x / 2];
  } else {
    for (size_t x = 0; x < destBytes; ++x) dest[x] = source[x / static_cast<size_t>(across)];
  }
}

// Chroma components (1 and 2 of a three-component frame) that the conversion
// reads from their block planes.
bool ConvertedInPlace(const JpegFrameInfo& info, int32_t ci) {
  if (info.componentCount < 3 || (ci != 1 && ci != 2)) return false;
  const JpegComponent& c = info.components[ci];
  const int32_t across = info.horizontalMaximum / BlocksAcross(info, c);
  return across == 1 || across == 2;
}

// Where row y of a chroma component's samples starts, and how many pixels each covers.
const uint8_t* ChromaRow(const JpegFrameInfo& info, int32_t ci, int32_t y, int32_t& across) {
  const JpegComponent& c = info.components[ci];
  if (!ConvertedInPlace(info, ci)) {
    across = 1;
    return c.fullPlane + static_cast<size_t>(y) * FullPlaneStride(info);
  }
  across = info.horizontalMaximum / BlocksAcross(info, c);
  const int32_t down = info.verticalMaximum / BlocksDown(info, c);
  return c.blockPlane + static_cast<size_t>(y / down) * BlockPlaneStride(info, c);
}

template <int32_t kAcross>
void ConvertPixels(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width, uint8_t* out) {
  const ColourTables& t = kColourTables;
  for (size_t x = 0; x < width; ++x) {
    const int32_t yv = luma[x] + kClampBias;
    const uint8_t b = cb[x / kAcross];
    const uint8_t r = cr[x / kAcross];
    out[0] = t.clamp[static_cast<size_t>(yv + t.cbToB[b])];
    out[1] = t.clamp[static_cast<size_t>(yv + t.cbToG[b] + t.crToG[r])];
    out[2] = t.clamp[static_cast<size_t>(yv + t.crToR[r])];
    out += 3;
  }
}

}  // namespace

void ColourPlain(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width,
                 int32_t across, uint8_t* out) {
  if (across == 2) {
    ConvertPixels<2>(luma, cb, cr, width, out);
  } else {
    ConvertPixels<1>(luma, cb, cr, width, out);
  }
}

bool NeedsUpsampling(const JpegFrameInfo& info, const JpegComponent& c) {
  return BlocksAcross(info, c) != info.horizontalMaximum || BlocksDown(info, c) != info.verticalMaximum;
}

void Upsample(JpegFrameInfo& info) {
  const size_t fullStride = FullPlaneStride(info);
  const int32_t rows = RowsPerMcuRow(info);
  for (int32_t ci = 0; ci < info.componentCount; ++ci) {
    const JpegComponent& c = info.components[ci];
    if (!NeedsUpsampling(info, c) || ConvertedInPlace(info, ci)) continue;
    const int32_t across = info.horizontalMaximum / BlocksAcross(info, c);
    const int32_t down = info.verticalMaximum / BlocksDown(info, c);
    const size_t sourceStride = BlockPlaneStride(info, c);
    for (int32_t y = 0; y < rows; ++y) {
      const uint8_t* source = c.blockPlane + static_cast<size_t>(y / down) * sourceStride;
      ReplicateRow(source, c.fullPlane + static_cast<size_t>(y) * fullStride, fullStride, across);
    }
  }
}

// Row `y` of the MCU row in the planes -> `width` grey bytes or BGR pixels.
void ConvertRow(const JpegFrameInfo& info, int32_t y, uint8_t* out) {
  const size_t offset = static_cast<size_t>(y) * FullPlaneStride(info);
  const auto width = static_cast<size_t>(info.width);
  const uint8_t* luma = info.components[0].fullPlane + offset;
  if (info.componentCount == 1) {
    std::memcpy(out, luma, width);
    return;
  }
  int32_t acrossCb = 1;
  int32_t acrossCr = 1;
  const uint8_t* cb = ChromaRow(info, 1, y, acrossCb);
  const uint8_t* cr = ChromaRow(info, 2, y, acrossCr);
  if (acrossCb == acrossCr) {
    ActiveKernels().colour(luma, cb, cr, width, acrossCb, out);
    return;
  }
  // Cb and Cr sampled differently: each pixel looks its samples up itself.
  const ColourTables& t = kColourTables;
  for (size_t x = 0; x < width; ++x) {
    const int32_t yv = luma[x] + kClampBias;
    const uint8_t b = cb[x / static_cast<size_t>(acrossCb)];
    const uint8_t r = cr[x / static_cast<size_t>(acrossCr)];
    out[0] = t.clamp[static_cast<size_t>(yv + t.cbToB[b])];
    out[1] = t.clamp[static_cast<size_t>(yv + t.cbToG[b] + t.crToG[r])];
    out[2] = t.clamp[static_cast<size_t>(yv + t.crToR[r])];
    out += 3;
  }
}

}  // namespace rdjpeg
