// The marker segments in front of the entropy-coded data: SOI, the JFIF APP0
// and SOF0 (the first 39 bytes, written in one piece), then two DQT, four DHT
// and the SOS segment. Each is serialised byte by byte, big-endian.
#pragma once

#include <array>
#include <cstdint>

#include "plugin/contract.h"

namespace wrjpeg {

inline constexpr uint32_t kPrologueSize = 39;
// 2 x DQT (2 + 67), 2 x DC DHT (2 + 31), 2 x AC DHT (2 + 181), SOS (2 + 12).
inline constexpr uint32_t kTablesSize = 2 * 69 + 2 * 33 + 2 * 183 + 14;

// JFIF density fields: units 1 (dots per inch) with (ppm x 254 + 5000) / 10000
// per axis. A resolution that comes out 0 (the DIB gives none) or negative
// cannot be written as dots per inch: units 0 with a 1:1 aspect ratio then.
// Densities above 65535 are written as 65535.
struct JfifDensity {
  uint8_t units;
  uint16_t x;
  uint16_t y;
};
JfifDensity DensityFor(int32_t xPelsPerMeter, int32_t yPelsPerMeter);

// SOI, APP0 (JFIF 1.02) and SOF0 for a width x height image (1..65535 each)
// with three components, Y sampled 2x2 and Cb, Cr 1x1.
std::array<uint8_t, kPrologueSize> BuildPrologue(const JfifDensity& density, uint32_t width,
                                                 uint32_t height);

// DQT luminance (table 0) and chrominance (table 1), the four standard DHT
// segments (DC 0, DC 1, AC 0, AC 1) and the SOS segment.
std::array<uint8_t, kTablesSize> BuildTables(const uint8_t (&luminance)[64],
                                             const uint8_t (&chrominance)[64]);

inline constexpr uint8_t kEndOfImage[2] = {0xFF, 0xD9};

}  // namespace wrjpeg
