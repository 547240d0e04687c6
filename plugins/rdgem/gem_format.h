// GEM/Ventura IMG: the image block, the strings and the hooks the frame calls.
#pragma once

#include <cstdint>
#include <span>

#include "plugin/reader_frame.h"
#include "plugin/reader_input.h"

namespace rdgem {

#define RDGEM_STRINGS(X)                                                              \
  READER_COMMON_STRINGS(X)                                                            \
  X(kStrUnexpectedEnd, 5, "Unexpected End of IMG File reached.")                      \
  X(kStrPrintRefused, 6, "Vantile Internal Error: Tried to print IMG file from DLL.") \
  X(kStrBadHeader, 7, "Invalid IMG header information.")                              \
  X(kStrBadVersion, 8, "Unsupported IMG version.")                                    \
  X(kStrFilter, 1000, "GEM/Ventura IMG~*.img~")

enum StringId : UINT { RDGEM_STRINGS(READER_STRING_ID) };

inline constexpr uint32_t kHeaderBytes = 16;  // eight big-endian words
inline constexpr uint32_t kInputBufferBytes = 512;

struct GemState {
  uint32_t patternLength;       // bytes of one pattern-run pattern
  uint32_t pixelWidthMicrons;   // not used
  uint32_t pixelHeightMicrons;  // not used
  uint32_t lineWidth;           // pixels
  uint32_t lineCount;
  uint32_t bytesPerLine;  // (lineWidth + 7) / 8
  reader::InputCursor input;
  uint8_t inputBuffer[kInputBufferBytes];
};

struct GemImage {
  reader::ImageBlockBase base;
  GemState gem;
};
static_assert(offsetof(GemImage, base) == 0);

// Header (gem_header.cpp).
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes);
int32_t Init(reader::InitContext& ctx);
int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out);
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette);

// Lines (gem_lines.cpp).
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& copies);
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached);

}  // namespace rdgem
