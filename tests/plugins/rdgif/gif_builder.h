// Builds GIF files for the tests with an LZW encoder of their own: any code
// size, interlacing, colour tables, blocks before the image, and code streams
// written code by code for data no encoder would make.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace giftest {

using Bytes = std::vector<uint8_t>;

struct GifPicture {
  uint16_t width = 0;
  uint16_t height = 0;
  Bytes pixels;  // width × height indices, top row first
};

// Pseudo-random indices below 2^bits with runs and repeats in them.
GifPicture MakePicture(uint16_t width, uint16_t height, uint32_t bits, uint32_t seed);

struct GifOptions {
  uint8_t codeSize = 8;
  bool interlaced = false;
  int globalBits = 8;  // global table of 2^globalBits entries; 0: none
  int localBits = 0;   // local table; 0: none
  uint8_t colourResolution = 8;  // 1..8, in the screen's packed byte
  Bytes beforeImage;   // blocks between the global table and the image separator
  bool deferredClear = false;  // keep coding with a full table instead of clearing
};

// LZW codes of `indices`: a clear code first, the end code last.
std::vector<std::pair<uint32_t, uint32_t>> LzwCodes(const Bytes& indices, uint8_t codeSize,
                                                    bool deferredClear);
// Codes (value, bit width) packed least significant bit first into sub-blocks, terminator included.
Bytes PackCodes(const std::vector<std::pair<uint32_t, uint32_t>>& codes);

// The colour of table entry i in the tables EncodeGif writes (global: seed 1, local: seed 2).
Bytes TableColour(uint32_t index, uint32_t seed);

// A whole file; `data` (packed sub-blocks) replaces the encoded pixels when not empty.
Bytes EncodeGif(const GifPicture& picture, const GifOptions& options, const Bytes& data = {});

// The rows in the order an interlaced file stores them.
Bytes InterlaceOrder(const GifPicture& picture);

}  // namespace giftest
