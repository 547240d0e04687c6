// Builds PNG files for the tests: chunks with their CRCs, IHDR, and image
// data filtered (with a chosen filter per row), interlaced if asked, deflated
// with zlib and split over IDAT chunks. Written from the format's definition,
// independently of the reader.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace pngtest {

using Bytes = std::vector<uint8_t>;

// A picture as PNG samples: each row holds the packed pixels of one image row
// (sub-byte pixels first pixel highest, 16-bit samples big-endian), without
// filter bytes.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t depth = 8;
  uint8_t colourType = 0;
  std::vector<Bytes> rows;
};

uint32_t Channels(uint8_t colourType);
uint32_t PixelBits(const Picture& p);

// A picture of pseudo-random samples (palette indices below `paletteSize`).
Picture Noise(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, uint32_t seed,
              uint32_t paletteSize = 256);
// Sample `channel` of pixel x in row y (sub-byte and 16-bit samples as stored).
uint32_t Sample(const Picture& p, uint32_t x, uint32_t y, uint32_t channel);

Bytes Chunk(const std::string& type, const Bytes& data);
Bytes Signature();
Bytes Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, uint8_t interlace,
           uint8_t compression = 0, uint8_t filter = 0);
Bytes Iend();
Bytes Phys(uint32_t x, uint32_t y, uint8_t unit);
Bytes Plte(uint32_t entries, uint32_t seed = 7);

// The filtered (and, when interlaced, Adam7-split) image data before deflate.
// Row k (counting over all passes) uses filter filters[k % filters.size()].
Bytes FilteredData(const Picture& p, bool interlaced, const std::vector<uint8_t>& filters);
Bytes Deflate(const Bytes& data);
// The deflated data as IDAT chunks of at most `piece` bytes each.
Bytes Idats(const Bytes& deflated, size_t piece);

// A whole file: signature, IHDR, PLTE for palette pictures, IDATs, IEND.
inline constexpr uint8_t kAllFilters[] = {0, 1, 2, 3, 4};
struct Options {
  bool interlaced = false;
  std::vector<uint8_t> filters = std::vector<uint8_t>(std::begin(kAllFilters), std::end(kAllFilters));
  size_t idatPiece = 1 << 20;
  Bytes beforeIdat;  // extra chunks after IHDR/PLTE
};
Bytes File(const Picture& p, const Options& options = {});

}  // namespace pngtest
