// PNG: the image block, the strings and the hooks the frame calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "plugin/reader_frame.h"

namespace rdpng {

#define RDPNG_STRINGS(X)                                                                  \
  READER_COMMON_STRINGS(X)                                                                \
  X(kStrUnexpectedEnd, 5, "Unexpected End of PNG File reached.")                          \
  X(kStrPrintRefused, 6, "Orvello Internal Error: Tried to print PNG file from DLL.")     \
  X(kStrBadHeader, 7, "Invalid PNG header information.")                                  \
  X(kStrBadVersion, 8, "Unsupported PNG version.")                                        \
  X(kStrInterlacedPart, 9, "Error - unable to read a portion of an interlaced PNG file.") \
  X(kStrFilter, 1000, "PNG Images~*.png~")

enum StringId : UINT { RDPNG_STRINGS(READER_STRING_ID) };

inline constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
inline constexpr uint32_t kSignatureBytes = 8;
inline constexpr uint32_t kPaletteBytes = 768;  // 256 × red, green, blue
inline constexpr uint32_t kPasses = 7;

// Colour types.
inline constexpr uint8_t kGrey = 0;
inline constexpr uint8_t kRgb = 2;
inline constexpr uint8_t kPalette = 3;
inline constexpr uint8_t kGreyAlpha = 4;
inline constexpr uint8_t kRgbAlpha = 6;

// Adam7: pass k covers rows kPassStartRow[k] + n·kPassRowStep[k] and columns
// kPassStartColumn[k] + m·kPassColumnStep[k].
inline constexpr uint32_t kPassStartRow[kPasses] = {0, 0, 4, 0, 2, 0, 1};
inline constexpr uint32_t kPassStartColumn[kPasses] = {0, 4, 0, 2, 0, 1, 0};
inline constexpr uint32_t kPassRowStep[kPasses] = {8, 8, 8, 4, 4, 2, 2};
inline constexpr uint32_t kPassColumnStep[kPasses] = {8, 8, 4, 4, 2, 2, 1};

// IHDR as read; width and height converted from big-endian.
struct PngHeader {
  uint32_t width;
  uint32_t height;
  uint8_t bitDepth;
  uint8_t colourType;
  uint8_t compressionMethod;
  uint8_t filterMethod;
  uint8_t interlaceMethod;
  uint8_t reserved[3];
};
static_assert(sizeof(PngHeader) == 16);
static_assert(offsetof(PngHeader, bitDepth) == 8);
static_assert(offsetof(PngHeader, interlaceMethod) == 12);

// The PNG part of the ImageBlock. Offsets are relative to the image offset.
struct PngState {
  int32_t rowBytes;  // one filtered row of the whole image, filter-type byte included
  PngHeader header;
  int32_t filterUnit;    // bytes per complete pixel, at least 1
  int32_t bitsPerPixel;
  uint8_t palette[kPaletteBytes];  // from PLTE; entries the file does not give are black
  uint32_t firstIdat;  // offset of the first IDAT chunk (its length field)
  uint32_t nextChunk;  // offset of the chunk header the input reads next
  uint32_t idatLeft;   // bytes left in the current IDAT chunk
  int32_t pass;          // current Adam7 pass 0..6 (0 when not interlaced)
  int32_t previousHalf;  // half of the unfilter buffer that holds the previous row
  int32_t passRowBytes[kPasses];  // filtered pass rows, filter byte included; 0: empty pass
  HGLOBAL unfilter;               // two rows of rowBytes: current and previous
  uint32_t xPixelsPerUnit;        // from pHYs, when its unit is the metre; else 0
  uint32_t yPixelsPerUnit;
  uint8_t unit;
  uint8_t dataEnded;      // 1: the run of IDAT chunks has no more bytes
  uint8_t reserved[2];
  uint32_t idatBytes;     // data bytes of the first run of consecutive IDAT chunks
  uint32_t dataPosition;  // offset of the next unread byte of the current IDAT chunk
  uint32_t passRowsDone;  // rows of the current pass decoded since it began
  uint32_t dibRowBytes;   // bytes of one delivered row (unpadded)
  uint32_t dibBitCount;
  HGLOBAL stream;    // the inflate stream (InflateStream), locked while it lives
  HGLOBAL evenRows;  // interlaced: delivered rows 0, 2, 4, ... assembled by passes 1 to 6
  uint32_t evenRowsReady;
};
static_assert(offsetof(PngState, header) == 4);
static_assert(offsetof(PngState, palette) == 28);
static_assert(offsetof(PngState, firstIdat) == 28 + kPaletteBytes);
static_assert(offsetof(PngState, passRowBytes) == 28 + kPaletteBytes + 20);
static_assert(offsetof(PngState, unfilter) == 28 + kPaletteBytes + 48);
static_assert(sizeof(PngState) == 892);

struct PngImage {
  reader::ImageBlockBase base;
  PngState png;
};
static_assert(offsetof(PngImage, base) == 0);

// Bits per pixel of a colour type at a depth; 0 when the pair is not valid PNG.
uint32_t BitsPerPixel(uint8_t colourType, uint8_t bitDepth);
// DIB bit count delivered for a colour type and depth.
uint32_t DibBitCount(uint8_t colourType, uint8_t bitDepth);
// Pixels in each row of pass `pass`, and rows in it.
uint32_t PassWidth(uint32_t width, uint32_t pass);
uint32_t PassHeight(uint32_t height, uint32_t pass);
// Bytes of a filtered row of `pixels` pixels, filter byte included.
uint64_t FilteredRowBytes(uint64_t pixels, uint32_t bitsPerPixel);

// Chunks (png_chunks.cpp).
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes);
int32_t Init(reader::InitContext& ctx);
int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out);
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette);

// Rows (png_rows.cpp).
int32_t BeginRows(reader::ImageBlockBase& image, uint32_t firstRow, uint32_t rows,
                  reader::RowOrder& order);
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& copies);
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached);
void Release(reader::ImageBlockBase& image);

}  // namespace rdpng
