// JPEG/JFIF: the image block, its records, the strings and the hooks the
// reader frame calls.
//
// The reader decodes sequential baseline JPEG (SOF0, Huffman coding, 8-bit
// samples, one scan holding every component) into 8-bit grey or 24-bit BGR
// rows. It works one MCU row at a time: the MCUs of a row are entropy-decoded
// and inverse-transformed into each component's block plane, planes with
// subsampled chroma are replicated into full-size planes, and picture rows
// are converted out of those planes on request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "plugin/reader_frame.h"

namespace rdjpeg {

#define RDJPEG_STRINGS(X)                                                                \
  READER_COMMON_STRINGS(X)                                                               \
  X(kStrUnexpectedEnd, 5, "Unexpected End of JPG File reached.")                         \
  X(kStrPrintRefused, 6, "Orvello Internal Error: Tried to print JPG file from DLL.")   \
  X(kStrBadHeader, 7, "Invalid JPG header information.")                                 \
  X(kStrUnsupported, 8, "Unsupported JPG option.")                                       \
  X(kStrFilter, 1000, "JPEG Image~*.jpg~")

enum StringId : UINT { RDJPEG_STRINGS(READER_STRING_ID) };

inline constexpr int32_t kInputBufferBytes = 512;
// The entropy-coded data are read in blocks of this size (one host read each).
inline constexpr int32_t kEntropyInputBytes = 32768;
inline constexpr int32_t kNoMcuRow = -1;

// Slots of the Huffman tables: DC 0, DC 1, AC 0, AC 1.
inline constexpr int kHuffSlots = 4;
inline constexpr int kAcSlotBase = 2;
inline constexpr int kQuantSlots = 4;
// Bits of the combined lookup that decodes a Huffman code and its value bits at once.
inline constexpr int kFastBits = 10;
inline constexpr int kFastEntries = 1 << kFastBits;

// One frame component, in frame order.
struct JpegComponent {
  uint8_t id;             // Ci
  uint8_t sampling;       // H << 4 | V, as stored
  uint8_t quantSelector;  // Tq
  uint8_t dcSelector;     // Td (from the scan header)
  uint8_t acSelector;     // Ta (from the scan header)
  int32_t dcPredictor;    // last DC value
  uint8_t* blockPlane;    // one MCU row at the component's own resolution
  uint8_t* fullPlane;     // the same MCU row at full resolution (the block plane
                          // itself when the component is not subsampled)
  uint8_t* writePosition; // where the next MCU's blocks go in the block plane
};
static_assert(offsetof(JpegComponent, dcPredictor) == 8);
static_assert(offsetof(JpegComponent, blockPlane) == (kAddress32 ? 12 : 16));
static_assert(offsetof(JpegComponent, writePosition) == (kAddress32 ? 20 : 32));
static_assert(sizeof(JpegComponent) == (kAddress32 ? 24 : 40));

// One Huffman table, derived from its DHT entry.
struct JpegHuffTable {
  uint8_t counts[16];          // codes of each length 1..16, as stored
  int32_t firstIndex[16];      // symbol-list position of the first code of each length
  int32_t maximumCode[16];     // largest code of each length (smallest − 1 when none)
  int32_t minimumCode[16];     // smallest code of each length
  uint8_t* symbols;            // symbols in stored order (local memory)
  int32_t* codes;              // code of each symbol (local memory)
  int32_t lookaheadLength[256];  // for each 8-bit prefix: its code's length, 0 if longer than 8
  uint8_t lookaheadSymbol[256];  // the symbol of that code
};
static_assert(offsetof(JpegHuffTable, firstIndex) == 16);
static_assert(offsetof(JpegHuffTable, symbols) == 208);
static_assert(offsetof(JpegHuffTable, lookaheadLength) == (kAddress32 ? 216 : 224));
static_assert(offsetof(JpegHuffTable, lookaheadSymbol) == (kAddress32 ? 1240 : 1248));
static_assert(sizeof(JpegHuffTable) == (kAddress32 ? 1496 : 1504));

struct JpegQuantTable {
  uint8_t raw[64];          // in the file's zigzag order
  int32_t multipliers[64];  // natural order: raw × AanScaleTable >> 12
  int32_t precision;        // Pq; stored, not used
};
static_assert(offsetof(JpegQuantTable, multipliers) == 64);
static_assert(sizeof(JpegQuantTable) == 324);

struct JpegFrameInfo {
  int32_t width;
  int32_t height;
  int32_t precision;       // stored, never used (8-bit samples are assumed)
  int32_t componentCount;  // Nf
  int32_t verticalMaximum;
  int32_t horizontalMaximum;
  int32_t scanDataOffset;  // absolute file position of the first entropy-coded byte
  int32_t mcusPerRow;
  int32_t mcuRows;
  int32_t restartInterval;  // in MCUs; 0 = no restarts
  int32_t restartsToGo;     // MCUs left before the next restart marker
  uint32_t bitBuffer;       // entropy decoder's bits, oldest in the top bit
  int32_t bitCount;         // valid bits in bitBuffer and JpegState::bitBufferLow (0..64)
  JpegComponent* components;  // componentCount records (local memory)
  JpegHuffTable huffman[kHuffSlots];
  JpegQuantTable quant[kQuantSlots];
  uint8_t densityUnits;  // JFIF units: 0 none, 1 dots per inch, 2 dots per centimetre
  uint16_t xDensity;
  uint16_t yDensity;
};
static_assert(offsetof(JpegFrameInfo, bitBuffer) == 44);
static_assert(offsetof(JpegFrameInfo, components) == (kAddress32 ? 52 : 56));
static_assert(offsetof(JpegFrameInfo, huffman) == (kAddress32 ? 56 : 64));
static_assert(offsetof(JpegFrameInfo, quant) ==
              offsetof(JpegFrameInfo, huffman) + 4 * sizeof(JpegHuffTable));
static_assert(offsetof(JpegFrameInfo, densityUnits) == offsetof(JpegFrameInfo, quant) + 4 * 324);
static_assert(offsetof(JpegFrameInfo, xDensity) == offsetof(JpegFrameInfo, densityUnits) + 2);
static_assert(sizeof(JpegFrameInfo) == offsetof(JpegFrameInfo, densityUnits) + 8);

// The JPEG part of the ImageBlock.
struct JpegState {
  int32_t currentRow;     // next picture row the decoder produces (0 = top)
  int32_t currentMcuRow;  // MCU row the planes hold; kNoMcuRow = none
  JpegFrameInfo info;
  int32_t inputPosition;  // next byte of entropyInput; empty when at inputFilled
  uint8_t inputData[kInputBufferBytes];  // the block's first input buffer; the
                                         // entropy decoder reads through entropyInput
  // Kept beside the buffer so that a short read never exposes stale bytes and
  // a reopened file can be put back where the input stood.
  int32_t inputFilled;     // valid bytes in entropyInput (empty: inputPosition ≥ inputFilled)
  int32_t inputEnded;      // 1: the host gave no more bytes; zero bytes follow
  uint32_t inputFileEnd;   // file position just after the last byte read into entropyInput
  uint32_t bitBufferLow;   // the entropy decoder's bits 33..64, below info.bitBuffer
  // Per Huffman slot and 10-bit prefix: a symbol and, where they fit, its value
  // bits decoded in one lookup (see BuildFastTables).
  int32_t fastHuffman[kHuffSlots][kFastEntries];
  uint8_t entropyInput[kEntropyInputBytes];
};
static_assert(offsetof(JpegState, info) == 8);
static_assert(offsetof(JpegState, inputData) == 8 + sizeof(JpegFrameInfo) + 4);

struct JpegImage {
  reader::ImageBlockBase base;
  JpegState jpeg;
};
static_assert(offsetof(JpegImage, base) == 0);

inline JpegState& StateOf(reader::ImageBlockBase& image) {
  return reader::FormatBlock<JpegImage>(image).jpeg;
}
inline const JpegState& StateOf(const reader::ImageBlockBase& image) {
  return reader::FormatBlock<JpegImage>(image).jpeg;
}

// Blocks per MCU of a component across and down. A frame of one component is
// coded one block per MCU whatever its sampling factors say.
inline int32_t BlocksAcross(const JpegFrameInfo& info, const JpegComponent& c) {
  return info.componentCount == 1 ? 1 : c.sampling >> 4;
}
inline int32_t BlocksDown(const JpegFrameInfo& info, const JpegComponent& c) {
  return info.componentCount == 1 ? 1 : c.sampling & 15;
}
// Bytes of one row of a component's block plane.
inline size_t BlockPlaneStride(const JpegFrameInfo& info, const JpegComponent& c) {
  return static_cast<size_t>(info.mcusPerRow) * static_cast<size_t>(BlocksAcross(info, c)) * 8;
}
// Bytes of one row of a full-size plane.
inline size_t FullPlaneStride(const JpegFrameInfo& info) {
  return static_cast<size_t>(info.mcusPerRow) * static_cast<size_t>(info.horizontalMaximum) * 8;
}
inline int32_t RowsPerMcuRow(const JpegFrameInfo& info) {
  return 8 * info.verticalMaximum;
}

// Marker walk and header (jpeg_markers.cpp).
// Walks the stream from the file's current position to the first SOS and fills
// `info` (its lists and component array owned by it). On failure the id is
// stored and the result returned; whatever it allocated is released.
int32_t WalkMarkers(const ImageBlockHead& file, JpegFrameInfo& info);
// Allocates the planes of every component (locked global memory); false when
// an allocation fails (what was allocated stays, for ReleaseFrame).
bool AllocatePlanes(JpegFrameInfo& info);
// Frees the planes, the component array and the Huffman lists; clears them.
void ReleaseFrame(JpegFrameInfo& info);

// Frame hooks (jpeg_module.cpp, jpeg_rows.cpp).
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes);
int32_t Init(reader::InitContext& ctx);
int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out);
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette);
void Release(reader::ImageBlockBase& image);
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& copies);
void DeliverRow(const reader::ImageBlockBase& image, std::span<const uint8_t> decoded,
                std::span<uint8_t> dest, uint32_t offset);
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached);

}  // namespace rdjpeg
