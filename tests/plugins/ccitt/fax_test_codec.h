// Test-side helpers for CCITT data: bilevel pictures, a table-driven T.4 / T.6
// encoder (independent of the decoder), and minimal TIFF files to hand to and
// take back from libtiff's tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace faxtest {

// One byte per pixel, 1 = black.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> black;
  uint8_t at(uint32_t x, uint32_t y) const { return black[static_cast<size_t>(y) * width + x]; }
  std::vector<uint8_t> row(uint32_t y) const;
};

// A deterministic mixed picture: blank rows, solid rows, long runs, noise.
Picture MakeTestPicture(uint32_t width, uint32_t height, uint32_t seed);

// The row as the decoder delivers it with black ink: packed, 1 = white, 0 = black.
std::vector<uint8_t> PackedRow(const std::vector<uint8_t>& black);

struct T4Options {
  bool eol = false;           // EOL before every row
  bool alignEol = false;      // fill bits so each EOL ends on a byte boundary
  bool alignRows = false;     // each row starts on a byte boundary (modified Huffman)
};

std::vector<uint8_t> EncodeT4(const Picture& picture, const T4Options& options);
// T.6 rows followed by EOFB, padded to a byte.
std::vector<uint8_t> EncodeT6(const Picture& picture);

// Reverses the bits of every byte (FillOrder 2).
std::vector<uint8_t> ReverseBits(std::vector<uint8_t> bytes);

// Minimal little-endian TIFF with one strip: compression 1 (data = packed
// rows, 1 = black), 2, 3 or 4 (data = the coded stream).
std::vector<uint8_t> MakeTiff(uint32_t width, uint32_t height, uint16_t compression,
                              const std::vector<uint8_t>& data, uint16_t fillOrder = 1);
std::vector<uint8_t> UncompressedTiff(const Picture& picture);

// The strips of the first image of a TIFF file, with the fields needed to decode them.
struct TiffStrips {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t compression = 1;
  uint32_t photometric = 0;
  uint32_t fillOrder = 1;
  uint32_t rowsPerStrip = 0;
  uint32_t t4Options = 0;
  std::vector<std::vector<uint8_t>> strips;
};
bool ReadTiffStrips(const std::vector<uint8_t>& file, TiffStrips& out);

// The picture of an uncompressed 1-bit TIFF (after `tiffcp -c none`).
bool PictureFromUncompressedTiff(const std::vector<uint8_t>& file, Picture& out);

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool ToolAvailable(const char* tool);
// Runs a shell command; true when it exits with 0.
bool Run(const std::string& command);

}  // namespace faxtest
