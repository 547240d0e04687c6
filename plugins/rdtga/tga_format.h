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
inline constexpr uint32_t kInputBytes = 64 * 1024;  // run-length bytes read from the host at once

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

// A run-length packet in progress: rows may end inside a packet, and the
// next stored row goes on with the rest of it.
struct TgaPacket {
  uint32_t count;  // pixels of the whole packet (1 ... 128)
  uint32_t left;   // pixels still to deliver; 0: the next byte is a packet header
  uint8_t repeat;  // 1: one pixel value repeated
  uint8_t value[4];  // the repeated value, as in the file
  uint8_t reserved[3];
};

// The run-length bytes read ahead from the host: storage byte 0 is the image's
// byte `start`; bytes next .. filled-1 are still unread. The host's position
// is start + filled while the input is in use.
struct TgaInput {
  uint32_t start;
  uint32_t filled;
  uint32_t next;
  uint32_t ended;  // 1: the host gave no more bytes (end of file or read error)
};

// What follows the frame's part of the block. The row-offset table
// (height 32-bit entries, offsets relative to the image offset, in storage
// order) lies directly after TgaImage in the same allocation, followed by the
// row-carry table (height bytes): for a run-length row that begins inside a
// packet, its offset is that packet's header and its carry the pixels of the
// packet that earlier rows took (0: the row begins at a packet header).
// The input storage (kInputBytes) comes last, for run-length images only.
struct TgaState {
  uint32_t storedRowBytes;       // bytes of one uncompressed stored row
  uint8_t header[kHeaderBytes];  // as read
  uint8_t reserved[2];
  uint32_t scanTablePresent;  // 1: the file's scan-line table fills the row-offset table
  uint32_t pixelStart;        // offset of the pixel data within the image
  uint32_t knownRows;         // stored rows 0 .. knownRows-1 have a known offset
  uint32_t nextStored;        // stored row the file stands at (kNoRow: unknown)
  TgaPacket packet;           // the packet the file stands in
  TgaInput input;             // run-length images: the bytes read ahead
};
static_assert(offsetof(TgaState, header) == 4);
static_assert(offsetof(TgaState, scanTablePresent) == 24);
static_assert(sizeof(TgaState) == 72);

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
inline uint8_t* RowCarries(reader::ImageBlockBase& image, uint32_t height) {
  return reinterpret_cast<uint8_t*>(RowOffsets(image) + height);
}
inline uint8_t* InputStorage(reader::ImageBlockBase& image, uint32_t height) {
  return RowCarries(image, height) + height;
}
// Bytes of the block for an image of `height` rows.
inline size_t BlockBytes(uint32_t height, bool runLength) {
  return sizeof(TgaImage) + static_cast<size_t>(height) * 5 + (runLength ? kInputBytes : 0);
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
// Descriptor bit 4: each row is stored right to left.
inline bool StoredRightToLeft(const TgaHeader& h) {
  return (h.descriptor & 0x10) != 0;
}
// Grey images of 16 bits: a grey byte, then an alpha byte.
inline bool GreyWithAlpha(const TgaHeader& h) {
  return (h.imageType == 3 || h.imageType == 11) && h.pixelDepth == 16;
}
// Bytes one pixel takes in the file (15-bit pixels take two).
inline uint32_t FilePixelBytes(const TgaHeader& h) {
  return (h.pixelDepth + 7u) / 8u;
}
// Bits per pixel of the DIB: 1 stays 1, 8 and 16-bit grey give 8, everything
// deeper is 24.
inline uint32_t DibBits(const TgaHeader& h) {
  if (h.pixelDepth == 1) return 1;
  return h.pixelDepth <= 8 || GreyWithAlpha(h) ? 8 : 24;
}

// How file pixels become DIB pixels.
enum class PixelKind : uint8_t {
  kCopy,       // 8 and 24 bits: the bytes as they are
  kRgb555,     // 15 and 16 bits: five bits per channel, red highest
  kGreyAlpha,  // 16-bit grey: the grey byte, alpha dropped
  kBgra,       // 32 bits: alpha dropped
};
inline PixelKind KindOf(const TgaHeader& h) {
  if (GreyWithAlpha(h)) return PixelKind::kGreyAlpha;
  switch (FilePixelBytes(h)) {
    case 2: return PixelKind::kRgb555;
    case 4: return PixelKind::kBgra;
    default: return PixelKind::kCopy;
  }
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
void ConvertPixels(const uint8_t* file, uint32_t count, uint32_t fileBytes, PixelKind kind,
                   uint8_t* out);
// Reverses the order of the `width` pixels of a DIB row of `bits` bits per pixel.
void MirrorRow(std::span<uint8_t> row, uint32_t width, uint32_t bits);

}  // namespace rdtga
