// Builds Targa files for the tests: any header, ID field, colour map,
// uncompressed or run-length pixel data (one packet stream per row), either
// row order, and an optional version 2.0 footer with a scan-line table.
#pragma once

#include <cstdint>
#include <vector>

namespace tgatest {

using Bytes = std::vector<uint8_t>;

// A picture as file pixels: `rows` top row first, each width × pixelBytes bytes.
struct TgaPicture {
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t depth = 24;  // bits per pixel in the file
  std::vector<Bytes> rows;
  bool grey = false;  // 16-bit pixels are a grey byte and an alpha byte
};

// Pseudo-random file pixels with runs in them (so run-length packets of both kinds occur).
TgaPicture MakePicture(uint16_t width, uint16_t height, uint8_t depth, uint32_t seed);

struct TgaOptions {
  uint8_t imageType = 2;
  bool topDown = false;
  Bytes id;
  uint8_t mapType = 0;
  uint16_t firstIndex = 0;
  uint8_t mapEntryBits = 0;
  Bytes map;              // colour-map bytes; its length is map.size() / entry bytes
  uint16_t mapLength = 0;  // 0: from map.size()
  bool footer = false;     // version 2.0 footer + extension area
  bool scanTable = false;  // with a scan-line table (needs footer)
  bool literalsOnly = false;  // run-length rows as literal packets only
  bool rightToLeft = false;   // rows stored right to left (descriptor bit 4)
  bool crossRows = false;     // run-length packets run on across row ends (one packet stream)
};

Bytes EncodeTga(const TgaPicture& picture, const TgaOptions& options);

// Run-length packets of one row of `pixelBytes`-byte pixels.
Bytes EncodeRunLengthRow(const Bytes& row, uint32_t pixelBytes, bool literalsOnly = false);

// The DIB row the reader should deliver for a file row (24-bit BGR for 16/32-bit
// colour pixels, the grey bytes for 16-bit grey).
Bytes DibRow(const Bytes& fileRow, uint8_t depth, bool grey = false);

// The row with its pixels in reverse order (bits for 1-bit rows of `width` pixels).
Bytes Reversed(const Bytes& row, uint32_t width, uint8_t depth);

}  // namespace tgatest
