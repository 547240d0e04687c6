// Targa: the image block, the strings and the hooks the reader frame calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "plugin/reader_frame.h"

namespace rdtga {

#define RDTGA_STRINGS(X)                                                                  \
  READER_COMMON_STRINGS(X)                                                                \
  X(kStrUnexpectedEnd, 5, "Unexpected End of TGA File reached.")                          \
  X(kStrPrintRefused, 6, "Vantile Internal Error: Tried to print TGA file from DLL.")     \
  X(kStrOldVersion, 7, "This Beta Release of the TGA reader doesn't support file < v2.0") \
  X(kStrBadVersion, 8, "Unsupported Targa version in file.")                              \
  X(kStrFilter, 1000, "Targa~*.tga~")

enum StringId : UINT { RDTGA_STRINGS(READER_STRING_ID) };

inline constexpr uint32_t kHeaderBytes = 18;
inline constexpr uint32_t kFooterBytes = 26;
inline constexpr uint32_t kFooterReadBytes = 24;  // the two offsets and the signature
inline constexpr uint32_t kExtensionBytes = 495;
inline constexpr uint32_t kScanTableOffsetAt = 490;  // within the extension area
inline constexpr uint32_t kNoRow = 0xFFFFFFFFu;

// The 18-byte header, unpacked (the block keeps the bytes as read).
struct TgaHeader {
  uint8_t idLength;
  uint8_t colourMapType;
  uint8_t imageType;
  uint16_t firstIndex;
  uint16_t mapLength;
  uint8_t mapEntryBits;
  uint16_t xOrigin;
  uint16_t yOrigin;
  uint16_t width;
  uint16_t height;
  uint8_t pixelDepth;
  uint8_t descriptor;  // bit 5: rows stored top to bottom
};

TgaHeader ParseHeader(std::span<const uint8_t, kHeaderBytes> bytes);

// What follows the frame's part of the block. The row-offset table
// (height 32-bit entries, offsets relative to the image offset, in storage
// order) lies directly after TgaImage in the same allocation.
struct TgaState {
  uint32_t storedRowBytes;       // bytes of one uncompressed stored row
  uint8_t header[kHeaderBytes];  // as read
  uint8_t reserved[2];
  uint32_t scanTablePresent;  // 1: the file's scan-line table fills the row-offset table
  uint32_t pixelStart;        // offset of the pixel data within the image
  uint32_t knownRows;         // stored rows 0 .. knownRows-1 have a known offset
  uint32_t nextStored;        // stored row the file stands at (kNoRow: unknown)
};
static_assert(offsetof(TgaState, header) == 4);
static_assert(offsetof(TgaState, scanTablePresent) == 24);
static_assert(sizeof(TgaState) == 40);

struct TgaImage {
  reader::ImageBlockBase base;
  TgaState tga;
};
static_assert(offsetof(TgaImage, base) == 0);

inline TgaState& StateOf(reader::ImageBlockBase& image) {
  return reader::FormatBlock<TgaImage>(image).tga;
}
inline const TgaState& StateOf(const reader::ImageBlockBase& image) {
  return reader::FormatBlock<TgaImage>(image).tga;
}
inline uint32_t* RowOffsets(reader::ImageBlockBase& image) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(&image) + sizeof(TgaImage));
}
inline TgaHeader HeaderOf(const reader::ImageBlockBase& image) {
  return ParseHeader(std::span<const uint8_t, kHeaderBytes>(StateOf(image).header));
}

inline bool RunLengthEncoded(const TgaHeader& h) {
  return h.imageType >= 4;
}
inline bool StoredTopDown(const TgaHeader& h) {
  return (h.descriptor & 0x20) != 0;
}
// Bytes one pixel takes in the file (15-bit pixels take two).
inline uint32_t FilePixelBytes(const TgaHeader& h) {
  return (h.pixelDepth + 7u) / 8u;
}
// Bits per pixel of the DIB: 1 stays 1, 8 stays 8, everything deeper is 24.
inline uint32_t DibBits(const TgaHeader& h) {
  return h.pixelDepth == 1 ? 1 : (h.pixelDepth <= 8 ? 8 : 24);
}

// Header, footer and DIB description (tga_header.cpp).
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes);
int32_t Init(reader::InitContext& ctx);
int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out);
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette);

// Rows (tga_rows.cpp).
int32_t BeginRows(reader::ImageBlockBase& image, uint32_t firstRow, uint32_t rows,
                  reader::RowOrder& order);
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& copies);
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached);

// Pixel conversion (tga_rows.cpp): file pixels to DIB pixels.
// 16-bit (and 15-bit) values: five bits per channel, red highest, each times 8.
void Expand555(uint32_t value, uint8_t* bgr);
// `count` file pixels of `fileBytes` bytes each into DIB pixels at `out`.
void ConvertPixels(const uint8_t* file, uint32_t count, uint32_t fileBytes, uint8_t* out);

}  // namespace rdtga
