// Fax files: the image block, the strings and the hooks the reader frame calls.
//
// A fax file is a little-endian TIFF-like container marked "FF" whose pages
// hold one-dimensional T.4 rows. The directory parsing is the TIFF reader's
// (with the fax rules); every row goes through the T.4 run decoder,
// whatever the Compression tag says.
#pragma once

#include <cstdint>
#include <span>

#include "plugin/ccitt_decoder.h"
#include "plugin/reader_frame.h"
#include "plugin/tiff_info.h"

namespace rdfax {

#define RDFAX_STRINGS(X)                                                                    \
  READER_COMMON_STRINGS(X)                                                                  \
  X(kStrUnexpectedEnd, 5, "Unexpected End of File reached.")                                \
  X(kStrPrintRefused, 6, "Orvello Internal Error: Tried to print FAX file from DLL.")       \
  X(kStrBadHeader, 7, "Invalid FAX header information.")                                    \
  X(kStrByteOrder, 8, "Invalid FAX Header Info (Byte Order).")                              \
  X(kStrBadLines, 9, "Error processing FAX Image Lines.")                                   \
  X(kStrBitsPerSample, 10, "Unsupported FAX Option (Bits/Sample).")                         \
  X(kStrCompression, 11, "Unsupported FAX Option (Compression).")                           \
  X(kStrPhotometric, 12, "Unsupported FAX Option (Photometric Interpretation).")            \
  X(kStrPlanar, 13, "Unsupported FAX Option (Planar Configuration).")                       \
  X(kStrPredictor, 14, "Unsupported FAX Option (LZW Predictor).")                           \
  X(kStrNoSuchPage, 15, "Seek to non-existent page.")                                       \
  X(kStrFilter, 1000, "Velmora Fax Images~*.vlf~")

enum StringId : UINT { RDFAX_STRINGS(READER_STRING_ID) };

// The two exports only this reader has.
inline constexpr WORD kOrdGetRawStripData = 97;
inline constexpr WORD kOrdGetTiffHeader = 98;

// Bytes of the input buffer the coded rows are read through.
inline constexpr uint32_t kInputBytes = 4096;

inline constexpr uint32_t kNoRow = 0xFFFFFFFFu;

struct FaxState {
  tiff::TiffInfo info;     // the current page; info.pageCount = the pages of the chain
  tiff::TiffHeader header;
  uint32_t stripReadyRow;  // row at whose strip start the decoder stands (kNoRow: none)
  ccitt::DecoderState decoder;
  uint8_t input[kInputBytes];
};

struct FaxImage {
  reader::ImageBlockBase base;
  FaxState fax;
};
static_assert(offsetof(FaxImage, base) == 0);

inline FaxState& StateOf(reader::ImageBlockBase& image) {
  return reader::FormatBlock<FaxImage>(image).fax;
}
inline const FaxState& StateOf(const reader::ImageBlockBase& image) {
  return reader::FormatBlock<FaxImage>(image).fax;
}

inline int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

// Header, pages and DIB description (fax_open.cpp).
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes);
int32_t Init(reader::InitContext& ctx);
int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out);
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette);
int32_t SetPage(reader::ImageBlockBase& image, uint32_t page);
void Release(reader::ImageBlockBase& image);

// Rows (fax_rows.cpp).
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& copies);
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached);
// Seeks to the start of `strip` and resets the decoder and the input buffer.
int32_t StartStrip(reader::ImageBlockBase& image, uint32_t strip);

}  // namespace rdfax
