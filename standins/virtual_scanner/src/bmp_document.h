// A small BMP reader for the virtual scanner's documents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace virtscan {

// An image as 8-bit R, G, B samples, rows top-down, no padding.
struct RgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  // From the file's pixels per metre; 0 when it states none.
  uint32_t dotsPerInchX = 0;
  uint32_t dotsPerInchY = 0;
  std::vector<uint8_t> rgb;
};

// Reads a BMP file: uncompressed (or bit-field) images of 1, 2, 4, 8, 16, 24
// or 32 bits per pixel, bottom-up or top-down, with the core (12-byte) or any
// later info header. Compressed files (RLE, JPEG, PNG) are refused. Returns
// false for a file that cannot be read or whose fields do not fit together.
bool readBmpFile(const std::string& path, RgbImage& image);

// The same from bytes in memory.
bool decodeBmp(const uint8_t* bytes, size_t size, RgbImage& image);

}  // namespace virtscan
