// GIF: the image block, the strings and the hooks the reader frame calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "gif_lzw.h"
#include "plugin/reader_frame.h"
#include "plugin/reader_input.h"

namespace rdgif {

#define RDGIF_STRINGS(X)                                                                  \
  READER_COMMON_STRINGS(X)                                                                \
  X(kStrUnexpectedEnd, 5, "Unexpected End of File reached.")                              \
  X(kStrPrintRefused, 6, "Vantile Internal Error: Tried to print GIF file from DLL.")     \
  X(kStrBadSignature, 7, "Invalid Signature Information in GIF header.")                  \
  X(kStrInterlaced, 9, "Vantile is currently unable to process interlaced GIF images.")   \
  X(kStrBadLines, 10, "Error processing GIF Image Lines.")                                \
  X(kStrFilter, 1000, "CompuServe GIF~*.gif~")

enum StringId : UINT { RDGIF_STRINGS(READER_STRING_ID) };

inline constexpr uint32_t kSubBlockBufferBytes = 4096;
inline constexpr uint32_t kDescriptorBytes = 9;
// The whole decoded picture of an interlaced image is kept in memory; larger
// pictures are refused as an allocation failure.
inline constexpr uint64_t kMaxInterlacedBytes = uint64_t{1} << 28;
// Row pixel count that marks a row the decoder could not reach (corrupt data).
inline constexpr uint32_t kRowCorrupt = 0xFFFFFFFFu;

// The image data's sub-block chain read as one byte stream.
struct SubBlockReader {
  uint32_t left;   // data bytes left in the current sub-block
  uint32_t ended;  // 1: the terminator (or the end of the file) was reached
  reader::InputCursor input;
  uint8_t buffer[kSubBlockBufferBytes];
};

struct GifState {
  uint32_t colourTablePosition;  // offset of the table in effect (local, else global); 0: none
  uint32_t dataPosition;         // offset of the first data sub-block (after the code size byte)
  uint32_t interlaced;           // 1: descriptor flag 0x40
  uint8_t descriptor[kDescriptorBytes];  // left, top, width, height, flags (screen's packed
                                         // byte when the image has no local table)
  uint8_t reserved[3];
  HGLOBAL decoder;      // LzwState
  uint32_t codeSize;    // the LZW minimum code size byte
  uint32_t pixelDepth;  // max(code size, screen colour resolution)
  uint32_t colourCount;  // entries of the table in effect (0: the file has none)
  RGBQUAD colours[256];  // that table, as read at open
  HGLOBAL picture;        // interlaced: width × height pixels, then a pixel count per row
  uint32_t pictureReady;  // 1: the picture holds the decoded image
  uint32_t rowPixels;     // pixels decoded in the row last handed to the frame
  SubBlockReader data;
};
static_assert(offsetof(GifState, descriptor) == 12);
static_assert(offsetof(GifState, decoder) == 24);

struct GifImage {
  reader::ImageBlockBase base;
  GifState gif;
};
static_assert(offsetof(GifImage, base) == 0);

inline GifState& StateOf(reader::ImageBlockBase& image) {
  return reader::FormatBlock<GifImage>(image).gif;
}
inline const GifState& StateOf(const reader::ImageBlockBase& image) {
  return reader::FormatBlock<GifImage>(image).gif;
}
inline uint32_t ImageWidth(const GifState& gif) {
  return static_cast<uint32_t>(gif.descriptor[4] | gif.descriptor[5] << 8);
}
inline uint32_t ImageHeight(const GifState& gif) {
  return static_cast<uint32_t>(gif.descriptor[6] | gif.descriptor[7] << 8);
}

// Header walk and DIB description (gif_header.cpp).
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes);
int32_t Init(reader::InitContext& ctx);
int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out);
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette);
void Release(reader::ImageBlockBase& image);

// Rows (gif_rows.cpp).
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& copies);
void DeliverRow(const reader::ImageBlockBase& image, std::span<const uint8_t> decoded,
                std::span<uint8_t> dest, uint32_t offset);
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached);
// Seeks to the image data and resets the decoder and the sub-block reader.
int32_t RestartData(reader::ImageBlockBase& image);

}  // namespace rdgif
