#include "bmp_bitfields.h"

namespace imagehost {

namespace {

ChannelMask MaskOf(uint32_t mask) {
  ChannelMask channel;
  channel.mask = mask;
  if (mask == 0) return channel;
  while (((mask >> channel.shift) & 1u) == 0) ++channel.shift;
  while (channel.shift + channel.width < 32 && ((mask >> (channel.shift + channel.width)) & 1u))
    ++channel.width;
  return channel;
}

bool Contiguous(const ChannelMask& c) {
  const uint64_t expected = ((uint64_t{1} << c.width) - 1) << c.shift;
  return c.width != 0 && expected == c.mask;
}

// A sample of `width` bits as 8 bits: wider samples keep their top bits,
// narrower ones repeat their bits below themselves (5 bits abcde become
// abcdeabc), so that 0 stays 0 and the largest value becomes 255, as other
// BMP decoders do.
uint8_t Scale(uint32_t pixel, const ChannelMask& c) {
  const uint32_t value = (pixel & c.mask) >> c.shift;
  if (c.width >= 8) return static_cast<uint8_t>(value >> (c.width - 8));
  uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += static_cast<int>(c.width)) {
    const int shift = 8 - filled - static_cast<int>(c.width);
    out |= shift >= 0 ? value << shift : value >> -shift;
  }
  return static_cast<uint8_t>(out);
}

}  // namespace

BitfieldFormat BitfieldFormat::Default(uint32_t bits) {
  BitfieldFormat format;
  format.bits = bits;
  const bool wide = bits == 32;
  format.red = MaskOf(wide ? 0x00FF0000u : 0x7C00u);
  format.green = MaskOf(wide ? 0x0000FF00u : 0x03E0u);
  format.blue = MaskOf(wide ? 0x000000FFu : 0x001Fu);
  return format;
}

std::string BitfieldFormat::FromMasks(uint32_t bits, const uint32_t masks[3], BitfieldFormat& out) {
  out.bits = bits;
  out.red = MaskOf(masks[0]);
  out.green = MaskOf(masks[1]);
  out.blue = MaskOf(masks[2]);
  const uint64_t room = bits == 32 ? 0xFFFFFFFFu : 0xFFFFu;
  for (const ChannelMask* c : {&out.red, &out.green, &out.blue}) {
    if (!Contiguous(*c)) return "a colour mask of no bits or of bits that are not adjacent";
    if (c->mask > room) return "a colour mask beyond the pixel's " + std::to_string(bits) + " bits";
  }
  if ((masks[0] & masks[1]) != 0 || (masks[0] & masks[2]) != 0 || (masks[1] & masks[2]) != 0)
    return "colour masks that overlap";
  return "";
}

void BitfieldFormat::convertRow(const uint8_t* in, uint32_t width, uint8_t* out) const {
  const uint32_t bytes = bits / 8;
  for (uint32_t x = 0; x < width; ++x, in += bytes, out += 3) {
    uint32_t pixel = in[0] | uint32_t{in[1]} << 8;
    if (bytes == 4) pixel |= uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
    out[0] = Scale(pixel, blue);
    out[1] = Scale(pixel, green);
    out[2] = Scale(pixel, red);
  }
}

}  // namespace imagehost
