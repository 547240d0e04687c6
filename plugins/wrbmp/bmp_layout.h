// Where everything lies in a BMP file written from one DIB header.
#pragma once

#include <cstdint>
#include <optional>

#include "plugin/contract.h"

namespace wrbmp {

inline constexpr uint16_t kBmpSignature = 19778;  // "BM"
inline constexpr uint32_t kFileHeaderSize = sizeof(BITMAPFILEHEADER);
inline constexpr uint32_t kInfoHeaderSize = sizeof(BITMAPINFOHEADER);

// The host's seek answers with a signed 32-bit position, so no part of a file
// beyond 2 GiB - 1 could be placed or measured: larger images are refused.
inline constexpr uint64_t kMaxFileSize = 0x7FFFFFFF;

struct BmpLayout {
  uint32_t colourTableBytes;  // 4 x 2, 16 or 256 entries; 0 for 24 bits
  uint32_t pixelOffset;       // 62, 118, 1078 or 54
  uint32_t rowBytes;          // one row padded to a multiple of 4 bytes
  uint32_t rows;              // biHeight
  uint32_t fileSize;          // pixelOffset + rowBytes x rows
};

// The layout of an uncompressed bottom-up BMP for `image`, or nothing when the
// writer refuses it: a bit count other than 1, 4, 8 or 24; a header size other
// than 40 or a compression other than BI_RGB (the rows are plain DIB rows and
// the file carries exactly 40 header bytes, so such a file would be misread);
// a width or height of 0 or below (rows arrive bottom-up: a top-down header
// would describe them upside down); a file above kMaxFileSize.
std::optional<BmpLayout> LayoutFor(const BITMAPINFOHEADER& image);

}  // namespace wrbmp
