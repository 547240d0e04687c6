// 16- and 32-bit BMP pixels (BI_RGB or BI_BITFIELDS), which the host
// converts to 24-bit DIB rows: writers take 1, 4, 8 and 24 bits only.
#pragma once

#include <cstdint>
#include <string>

namespace imagehost {

// One colour's mask: its lowest bit and width (at most 32 bits).
struct ChannelMask {
  uint32_t mask = 0;
  uint32_t shift = 0;
  uint32_t width = 0;
};

struct BitfieldFormat {
  uint32_t bits = 0;  // 16 or 32
  ChannelMask red, green, blue;

  // The format of BI_RGB pixels: 5-5-5 for 16 bits, 8-8-8 for 32.
  static BitfieldFormat Default(uint32_t bits);
  // From the three masks of a BI_BITFIELDS file; "" or why they cannot be used
  // (a mask of no bits, of bits that are not contiguous, beyond the pixel's
  // bits, or overlapping another).
  static std::string FromMasks(uint32_t bits, const uint32_t masks[3], BitfieldFormat& out);

  // One file row of `width` pixels into a 24-bit DIB row (B, G, R).
  void convertRow(const uint8_t* in, uint32_t width, uint8_t* out) const;
};

}  // namespace imagehost
