// TIFF: the image block, the strings and the hooks the reader frame calls.
#pragma once

#include <cstdint>
#include <span>

#include "plugin/ccitt_decoder.h"
#include "plugin/reader_frame.h"
#include "plugin/reader_input.h"
#include "plugin/tiff_info.h"

namespace rdtiff {

#define RDTIFF_STRINGS(X)                                                                   \
  READER_COMMON_STRINGS(X)                                                                  \
  X(kStrUnexpectedEnd, 5, "Unexpected End of File reached.")                                \
  X(kStrPrintRefused, 6, "Orvello Internal Error: Tried to print TIFF file from DLL.")      \
  X(kStrBadHeader, 7, "Invalid TIFF header information.")                                   \
  X(kStrByteOrder, 8, "Invalid TIFF Header Info (Byte Order).")                             \
  X(kStrBadLines, 9, "Error processing TIFF Image Lines.")                                  \
  X(kStrBitsPerSample, 10, "Unsupported TIFF Option (Bits/Sample).")                        \
  X(kStrCompression, 11, "Unsupported TIFF Option (Compression).")                          \
  X(kStrPhotometric, 12, "Unsupported TIFF Option (Photometric Interpretation).")           \
  X(kStrPlanar, 13, "Unsupported TIFF Option (Planar Configuration).")                      \
  X(kStrPredictor, 14, "Unsupported TIFF Option (LZW Predictor).")                          \
  X(kStrNoSuchPage, 15, "Seek to non-existent page.")                                       \
  X(kStrFilter, 1000, "TIFF 5.0 Images~*.tif~")

enum StringId : UINT { RDTIFF_STRINGS(READER_STRING_ID) };

// Bytes of the input buffer that PackBits and CCITT data are read through.
inline constexpr uint32_t kInputBytes = 16384;

struct TiffState {
  tiff::TiffInfo info;   // the current page; info.pageCount = the pages of the chain
  tiff::TiffHeader header;
  uint32_t stripReadyRow;  // row at whose strip start the file stands (kNoRow: none)
  HGLOBAL work;            // input buffer, then the two change lists
  uint32_t workWidth;      // widest page the change lists have room for
  reader::InputCursor packBitsInput;
  ccitt::DecoderState ccitt;
};

struct TiffImage {
  reader::ImageBlockBase base;
  TiffState tiff;
};
static_assert(offsetof(TiffImage, base) == 0);

inline constexpr uint32_t kNoRow = 0xFFFFFFFFu;

inline TiffState& StateOf(reader::ImageBlockBase& image) {
  return reader::FormatBlock<TiffImage>(image).tiff;
}
inline const TiffState& StateOf(const reader::ImageBlockBase& image) {
  return reader::FormatBlock<TiffImage>(image).tiff;
}

// Directory, pages and DIB description (tiff_open.cpp).
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes);
int32_t Init(reader::InitContext& ctx);
int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out);
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette);
int32_t SetPage(reader::ImageBlockBase& image, uint32_t page);
void Release(reader::ImageBlockBase& image);

// Rows (tiff_rows.cpp).
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& copies);
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached);
// Seeks to the start of `strip` and resets the decoders and the input buffer.
int32_t StartStrip(reader::ImageBlockBase& image, uint32_t strip);

// Bit depths and layouts the reader delivers; others are refused at open.
int32_t CheckSupported(tiff::TiffInfo& info);

}  // namespace rdtiff
