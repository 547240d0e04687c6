// PCX/DCX: the page header, the image block, the strings and the hooks the
// reader frame calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "plugin/reader_frame.h"
#include "plugin/reader_input.h"

namespace rdpcx {

#define RDPCX_STRINGS(X)                                                                \
  READER_COMMON_STRINGS(X)                                                              \
  X(kStrUnexpectedEnd, 5, "Unexpected End of PCX File reached.")                        \
  X(kStrPrintRefused, 6, "Orvello Internal Error: Tried to print PCX file from DLL.")   \
  X(kStrBadHeader, 7, "Invalid PCX header information.")                                \
  X(kStrBadVersion, 8, "Unsupported PCX version in file.")                              \
  X(kStrFilter, 1000, "Zsoft PCX/DCX~*.pcx;*.dcx~")

enum StringId : UINT { RDPCX_STRINGS(READER_STRING_ID) };

inline constexpr uint32_t kHeaderBytes = 128;
inline constexpr uint8_t kManufacturer = 10;
inline constexpr uint32_t kDcxMagic = 987654321;  // 0x3ADE68B1
inline constexpr uint32_t kMaxPages = 1024;
inline constexpr uint32_t kDcxTableBytes = 4 + 4 * kMaxPages;
inline constexpr uint32_t kVgaPaletteBytes = 768;
inline constexpr uint8_t kVgaPaletteMarker = 12;
inline constexpr uint32_t kInputBytes = 32 * 1024;  // scan-line bytes read from the host at once

// How the scan line's planes become DIB pixels.
enum class Layout : uint32_t {
  kPacked,      // one plane of 1, 4 or 8 bits: the line is the DIB row
  kPacked2,     // one plane of 2 bits, widened to 4-bit pixels
  kPlanar,      // 2 to 4 planes of 1 bit: plane p gives bit p of a 4-bit pixel
  kRgb,         // 3 planes of 8 bits (red, green, blue); a 4th (alpha) plane is skipped
};

// The fields of a page header the reader uses, at their file offsets (the
// file is little-endian; ParseHeader reads it field by field).
struct PcxHeader {
  uint8_t manufacturer;  // 0: 10
  uint8_t version;       // 1: 0, 2, 3, 4 or 5
  uint8_t encoding;      // 2: 1 = run-length
  uint8_t bitsPerPixel;  // 3: per plane
  uint16_t xMin;         // 4
  uint16_t yMin;         // 6
  uint16_t xMax;         // 8
  uint16_t yMax;         // 10
  uint16_t xDpi;         // 12
  uint16_t yDpi;         // 14
  uint8_t palette[48];   // 16: 16 RGB triplets
  uint8_t reserved;      // 64
  uint8_t planes;        // 65
  uint16_t bytesPerLine; // 66: per plane
};
static_assert(offsetof(PcxHeader, xMin) == 4);
static_assert(offsetof(PcxHeader, xDpi) == 12);
static_assert(offsetof(PcxHeader, palette) == 16);
static_assert(offsetof(PcxHeader, planes) == 65);
static_assert(offsetof(PcxHeader, bytesPerLine) == 66);
static_assert(sizeof(PcxHeader) == 68);

// What a page's header means for decoding, worked out once per page.
struct PageGeometry {
  uint32_t width;
  uint32_t height;
  uint32_t planes;
  uint32_t bitsPerPixel;
  uint32_t bytesPerLine;  // per plane
  uint32_t lineLength;    // bytesPerLine × planes: the bytes one scan line decodes to
  uint32_t dibBits;       // 1, 4, 8 or 24
  Layout layout;
};

struct PcxState {
  uint32_t imageLength;   // fifth argument of OVDLinit_image; the first page's length when 0
  uint32_t dataPosition;  // absolute file position of the current page's first scan line
  HGLOBAL pageTable;      // uint32_t page offsets, relative to the image offset
  uint32_t pageLength;    // bytes of the current page, header included
  uint32_t lineLength;    // bytes per line × planes
  uint32_t imageEnd;      // absolute end of the image's bytes (last page's end)
  PageGeometry geometry;  // of the current page
  uint8_t header[kHeaderBytes];  // the current page's header as read
  // The scan-line bytes read ahead (in PcxImage::input): the host's position
  // runs ahead of the decoder's by the bytes not yet decoded. Emptied by every
  // seek (Rewind, SetPage); the palette read puts the host's position back.
  reader::InputCursor input;
};
static_assert(offsetof(PcxState, dataPosition) == 4);
static_assert(offsetof(PcxState, pageTable) == 8);
static_assert(offsetof(PcxState, pageLength) == 12);
static_assert(offsetof(PcxState, lineLength) == 16);
static_assert(offsetof(PcxState, header) % 4 == 0);

struct PcxImage {
  reader::ImageBlockBase base;
  PcxState pcx;
  uint8_t input[kInputBytes];
};
static_assert(offsetof(PcxImage, base) == 0);

inline PcxState& StateOf(reader::ImageBlockBase& image) {
  return reader::FormatBlock<PcxImage>(image).pcx;
}
inline const PcxState& StateOf(const reader::ImageBlockBase& image) {
  return reader::FormatBlock<PcxImage>(image).pcx;
}
inline reader::BufferedInput InputOf(reader::ImageBlockBase& image) {
  PcxImage& block = reader::FormatBlock<PcxImage>(image);
  return reader::BufferedInput(image.head, block.pcx.input, block.input);
}

// Header fields and geometry (pcx_header.cpp).
PcxHeader ParseHeader(std::span<const uint8_t, kHeaderBytes> bytes);
// Checks manufacturer and version, then that the planes, bits and extent form
// a layout the reader delivers; stores the string id and returns the result.
int32_t CheckHeader(const PcxHeader& header, PageGeometry& geometry);

// Opening, pages, the DIB description (pcx_open.cpp).
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes);
int32_t Init(reader::InitContext& ctx);
int32_t SetPage(reader::ImageBlockBase& image, uint32_t page);
void Release(reader::ImageBlockBase& image);
int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out);

// The palette (pcx_palette.cpp).
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette);

// Scan lines (pcx_rows.cpp).
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& copies);
void DeliverRow(const reader::ImageBlockBase& image, std::span<const uint8_t> decoded,
                std::span<uint8_t> dest, uint32_t offset);
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached);

}  // namespace rdpcx
