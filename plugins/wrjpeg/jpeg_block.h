// The JPEG writer's ExportBlock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jpeg_codec.h"
#include "plugin/contract.h"
#include "winport/memory.h"

namespace wrjpeg {

inline constexpr uint32_t kFlagsInHostInfo = 248;
inline constexpr uint32_t kFlagsFromBegin = 96;
inline constexpr uint32_t kDefaultQuality = 75;
inline constexpr uint32_t kMcuRows = 16;
inline constexpr uint32_t kOutputBytesPerColumn = 192;
// SOF0 holds 16-bit dimensions.
inline constexpr int32_t kMaxDimension = 65535;

// A work buffer: movable zero-filled global memory, locked for the export.
struct WorkBuffer {
  HGLOBAL handle;
  uint8_t* bytes;
};

struct JpegBlock {
  ExportBlockHead head;
  int32_t width;
  int32_t height;
  uint8_t* output;         // coded bytes; those before outputLength are complete
  int32_t outputLength;    // the byte at this index is being filled
  int32_t mcusPerRow;      // (width + 15) / 16
  uint8_t* rowBuffers;     // 16 Y rows, 16 Cb rows, 16 Cr rows, `width` bytes each
  int32_t dcPredictor[3];  // Y, Cb, Cr
  int32_t pendingRows;     // rows held in the row buffers, 0..15
  int32_t rowsSinceFlush;  // rows taken since the output buffer was last written
  uint8_t* yPlane;         // 16 rows x mcusPerRow x 16
  uint8_t* chromaPlanes;   // Cb then Cr, each 8 rows x mcusPerRow x 8
  int32_t bitPosition;     // next free bit of the byte being filled, 8 = most significant
  HuffmanCodeTable huffman[4];  // slot order of HuffmanSlot
  uint8_t quantLuminance[64];   // zigzag order
  uint8_t quantChrominance[64];
  int32_t coefficients[64];
  RGBQUAD palette[256];
  int32_t colourCount;  // 1 << bits per pixel

  // Beyond the fields above: what the export needs to stay sound.
  WorkBuffer outputBuffer, rowMemory, yMemory, chromaMemory;
  uint32_t outputCapacity;  // bytes of `output`
  uint32_t rowBytes;        // bytes of one DIB row of this depth
  uint32_t rowsTaken;       // rows converted so far, at most height
  int64_t filePosition;     // where the next write lands
  Quantiser quantisers[2];  // luminance, chrominance
  uint8_t failed;           // a data write came up short (reported then)
  uint8_t headerFailed;     // a header write came up short (reported then)
};
static_assert(offsetof(JpegBlock, head) == 0);
static_assert(offsetof(JpegBlock, width) == sizeof(ExportBlockHead));
static_assert(offsetof(JpegBlock, huffman) % alignof(HuffmanCodeTable) == 0);

}  // namespace wrjpeg
