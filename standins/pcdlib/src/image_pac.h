// The Photo CD Image Pac as the stand-in reads it: the header sectors, and
// the uncompressed Base image (768 x 512) with its colour conversion.
//
// Layout (2048-byte sectors):
//   sector 0      may hold an overview signature "PCD_OPA" (refused: not an image)
//   sector 1      "PCD_IPI" at byte 0: the Image Pac signature
//   byte 0x0E02   bits 0-1: how the stored picture is turned for display,
//                 in quarter turns counter-clockwise (0 none ... 3 three)
//   sector 96     the Base image, 256 groups of two luma rows (768 bytes each)
//                 followed by one row of each chroma channel (384 bytes each:
//                 C1, then C2), subsampled two by two
// The lower resolutions before sector 96 and the Huffman-coded higher ones
// after the Base image are not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pcdlib {

inline constexpr uint32_t kSectorBytes = 2048;
inline constexpr uint32_t kHeaderBytes = 3 * kSectorBytes;
inline constexpr uint32_t kSignatureOffset = kSectorBytes;
inline constexpr uint32_t kRotationOffset = 0x0E02;
inline constexpr uint32_t kBaseWidth = 768;
inline constexpr uint32_t kBaseHeight = 512;
inline constexpr uint64_t kBaseOffset = 96 * uint64_t{kSectorBytes};
inline constexpr uint64_t kBaseBytes = uint64_t{kBaseWidth} * kBaseHeight * 3 / 2;
// The smallest file that holds the Base image.
inline constexpr uint64_t kMinimumFileBytes = kBaseOffset + kBaseBytes;

enum class HeaderCheck { kImagePac, kOverview, kNoSignature };

// Looks at the first kHeaderBytes of a file (a shorter span: kNoSignature)
// and, for an Image Pac, stores its quarter turns (0-3).
HeaderCheck CheckHeader(std::span<const uint8_t> header, uint32_t& quarterTurns);

// A decoded picture in display orientation: blue, green, red triples, the
// top row first, rows of width * 3 bytes.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bgr;
};

// Converts the Base image's kBaseBytes into `out`, turned by `quarterTurns`
// (taken modulo 4). Chroma is interpolated to full resolution (each output
// pixel weighs the four nearest chroma samples 9:3:3:1), then Photo YCC is
// converted to RGB. May throw std::bad_alloc.
void DecodeBase(std::span<const uint8_t> base, uint32_t quarterTurns, Picture& out);

// The RGB value of one Photo YCC sample (chroma may lie between codes), for
// tests: red, green, blue.
struct Rgb {
  uint8_t red, green, blue;
};
Rgb YccToRgb(double luma, double chroma1, double chroma2);

}  // namespace pcdlib
