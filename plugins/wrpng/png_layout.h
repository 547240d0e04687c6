// What a DIB becomes in a PNG file: the colour type and depth, the chunks
// written before the image data, and the chunk framing itself.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "plugin/contract.h"

namespace wrpng {

// PNG colour types used here.
inline constexpr uint8_t kColourGrey = 0;
inline constexpr uint8_t kColourRgb = 2;
inline constexpr uint8_t kColourPalette = 3;

// Bytes a chunk adds around its data: length, type, CRC.
inline constexpr uint32_t kChunkOverhead = 12;

// How one DIB bit count is written.
struct PngLayout {
  uint32_t dibBits;     // 1, 4, 8, 24 or 48
  uint32_t width;
  uint32_t height;
  uint8_t depth;        // bits per sample in the file: 1, 4, 8 or 16
  uint8_t colourType;   // kColourGrey, kColourRgb or kColourPalette
  uint32_t rowBytes;    // one file row without its filter byte
  uint32_t pixelBytes;  // bytes per pixel for the filters (at least 1)
  uint32_t dibRowBytes; // the host's row, padded to 4 bytes
};

// The layout of `image`, or nothing when the file cannot hold it: a bit count
// other than 1, 4, 8, 24 and 48 (three little-endian 16-bit samples, blue
// first), a width or height of 0 or below (rows come bottom-up, a top-down
// header would be upside down), or a row beyond 2^31 bytes. `colours` is the
// colour table (1, 4 and 8 bits); a table that is the evenly spaced grey ramp
// from black to white makes a grey file, any other one a palette file.
std::optional<PngLayout> LayoutFor(const BITMAPINFOHEADER& image, std::span<const RGBQUAD> colours);

// The signature and every chunk before the image data: IHDR, PLTE (palette
// files: the whole table) and pHYs (when both resolutions are positive).
std::vector<uint8_t> FileHead(const PngLayout& layout, const BITMAPINFOHEADER& image,
                              std::span<const RGBQUAD> colours);

// Appends `data` framed as a chunk of `type` to `out`.
void AppendChunk(std::vector<uint8_t>& out, const char (&type)[5], std::span<const uint8_t> data);

// Writes the chunk frame around data already at out[8 ... 8 + length):
// length and type before, the CRC after (out holds length + 12 bytes).
void FrameChunk(uint8_t* out, const char (&type)[5], uint32_t length);

}  // namespace wrpng
