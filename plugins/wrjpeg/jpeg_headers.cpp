#include "jpeg_headers.h"

#include <algorithm>
#include <cstddef>

#include "jpeg_tables.h"

namespace wrjpeg {
namespace {

// Appends bytes to a fixed array; bytes beyond its end are dropped (the
// segment sizes are fixed, and the tests compare the totals).
template <size_t N>
class ByteWriter {
 public:
  explicit ByteWriter(std::array<uint8_t, N>& out) : out_(out) {}
  void byte(uint32_t value) {
    if (at_ < N) out_[at_] = static_cast<uint8_t>(value);
    ++at_;
  }
  void word(uint32_t value) {
    byte(value >> 8);
    byte(value & 0xFF);
  }
  void marker(uint8_t code, uint32_t length) {
    byte(0xFF);
    byte(code);
    word(length);
  }
 private:
  std::array<uint8_t, N>& out_;
  size_t at_ = 0;
};

uint16_t DotsPerInch(int32_t pelsPerMeter) {
  const int64_t dpi = (int64_t{pelsPerMeter} * 254 + 5000) / 10000;
  return static_cast<uint16_t>(std::clamp<int64_t>(dpi, 0, 65535));
}

}  // namespace

JfifDensity DensityFor(int32_t xPelsPerMeter, int32_t yPelsPerMeter) {
  const uint16_t x = DotsPerInch(xPelsPerMeter);
  const uint16_t y = DotsPerInch(yPelsPerMeter);
  if (x == 0 || y == 0) return {0, 1, 1};
  return {1, x, y};
}

std::array<uint8_t, kPrologueSize> BuildPrologue(const JfifDensity& density, uint32_t width,
                                                 uint32_t height) {
  std::array<uint8_t, kPrologueSize> out{};
  ByteWriter w(out);
  w.byte(0xFF);
  w.byte(0xD8);
  w.marker(0xE0, 16);
  for (char c : {'J', 'F', 'I', 'F', '\0'}) w.byte(static_cast<uint8_t>(c));
  w.byte(1);  // version 1.02
  w.byte(2);
  w.byte(density.units);
  w.word(density.x);
  w.word(density.y);
  w.byte(0);  // no thumbnail
  w.byte(0);
  w.marker(0xC0, 17);
  w.byte(8);
  w.word(height & 0xFFFF);
  w.word(width & 0xFFFF);
  w.byte(3);
  // Per component: id, sampling H << 4 | V, quantisation table.
  constexpr uint8_t kFrameComponents[9] = {1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
  for (uint8_t b : kFrameComponents) w.byte(b);
  return out;
}

std::array<uint8_t, kTablesSize> BuildTables(const uint8_t (&luminance)[64],
                                             const uint8_t (&chrominance)[64]) {
  std::array<uint8_t, kTablesSize> out{};
  ByteWriter w(out);
  const uint8_t* quant[2] = {luminance, chrominance};
  for (uint32_t id = 0; id < 2; ++id) {
    w.marker(0xDB, 67);
    w.byte(id);  // 8-bit precision, table id
    for (size_t k = 0; k < 64; ++k) w.byte(quant[id][k]);
  }
  // Table class (0 DC, 1 AC) << 4 | destination, in slot order.
  constexpr uint8_t kClassAndId[4] = {0x00, 0x01, 0x10, 0x11};
  for (size_t slot = 0; slot < 4; ++slot) {
    const HuffmanTableDef& def = kHuffmanTables[slot];
    w.marker(0xC4, 2 + 1 + 16 + def.symbolCount);
    w.byte(kClassAndId[slot]);
    for (uint8_t count : def.counts) w.byte(count);
    for (uint32_t i = 0; i < def.symbolCount; ++i) w.byte(def.symbols[i]);
  }
  w.marker(0xDA, 12);
  w.byte(3);
  // Per component: id, DC table << 4 | AC table.
  constexpr uint8_t kScanComponents[6] = {1, 0x00, 2, 0x11, 3, 0x11};
  for (uint8_t b : kScanComponents) w.byte(b);
  w.byte(0);   // Ss
  w.byte(63);  // Se
  w.byte(0);   // Ah, Al
  return out;
}

}  // namespace wrjpeg
