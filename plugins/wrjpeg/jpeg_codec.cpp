#include "jpeg_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace wrjpeg {

void BuildHuffmanCodes(const HuffmanTableDef& def, HuffmanCodeTable& table) {
  table.counts = def.counts.data();
  table.symbols = def.symbols;
  std::memset(table.code, 0, sizeof table.code);
  std::memset(table.length, 0, sizeof table.length);
  uint32_t code = 0;
  uint32_t next = 0;  // index into the symbols
  for (uint32_t length = 1; length <= 16; ++length) {
    for (uint32_t i = 0; i < def.counts[length - 1] && next < def.symbolCount; ++i, ++next) {
      const uint8_t symbol = def.symbols[next];
      table.code[symbol] = static_cast<uint16_t>(code);
      table.length[symbol] = static_cast<uint8_t>(length);
      ++code;
    }
    code <<= 1;
  }
}

uint32_t EffectiveQuality(uint32_t quality) {
  return std::clamp<uint32_t>(quality, 1, 100);
}

void ScaleQuantTable(const std::array<uint8_t, 64>& base, uint32_t quality, uint8_t (&out)[64]) {
  const uint32_t q = EffectiveQuality(quality);
  const uint32_t scale = q < 50 ? 5000 / q : 200 - 2 * q;
  for (size_t k = 0; k < 64; ++k) {
    const uint32_t value = (base[k] * scale + 50) / 100;
    out[k] = static_cast<uint8_t>(std::clamp<uint32_t>(value, 1, 255));
  }
}

void BuildQuantiser(const uint8_t (&table)[64], Quantiser& quantiser) {
  for (size_t k = 0; k < 64; ++k) {
    const uint32_t divisor = std::max<uint32_t>(table[k], 1);
    quantiser.half[k] = divisor / 2;
    quantiser.reciprocal[k] = (uint64_t{1} << 32) / divisor + 1;
  }
}

namespace {

inline void ToYCbCr(uint8_t blue, uint8_t green, uint8_t red, uint8_t* y, uint8_t* cb,
                    uint8_t* cr) {
  const ColourTables& t = kColourTables;
  *y = static_cast<uint8_t>((t.yR[red] + t.yG[green] + t.yB[blue]) >> 7);
  *cb = static_cast<uint8_t>(((t.cbR[red] + t.cbG[green] + t.cbB[blue]) >> 7) - 128);
  *cr = static_cast<uint8_t>(((t.crR[red] + t.crG[green] + t.crB[blue]) >> 7) - 128);
}

inline uint32_t PaletteIndex(const uint8_t* row, uint32_t x, uint32_t colourCount) {
  switch (colourCount) {
    case 2:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 16:
      return (row[x >> 1] >> ((x & 1) != 0 ? 0 : 4)) & 0x0F;
    default:
      return row[x];
  }
}

}  // namespace

void ConvertRow(const uint8_t* row, uint32_t width, uint32_t colourCount, const RGBQUAD* palette,
                uint8_t* y, uint8_t* cb, uint8_t* cr) {
  if (colourCount == 2 || colourCount == 16 || colourCount == 256) {
    for (uint32_t x = 0; x < width; ++x) {
      const RGBQUAD& c = palette[PaletteIndex(row, x, colourCount)];
      ToYCbCr(c.rgbBlue, c.rgbGreen, c.rgbRed, y + x, cb + x, cr + x);
    }
    return;
  }
  for (uint32_t x = 0; x < width; ++x, row += 3) ToYCbCr(row[0], row[1], row[2], y + x, cb + x, cr + x);
}

void FillPlane(const uint8_t* rows, uint32_t width, uint32_t rowCount, uint8_t* plane,
               uint32_t planeStride) {
  for (uint32_t r = 0; r < rowCount; ++r) {
    const uint8_t* source = rows + static_cast<size_t>(r) * width;
    uint8_t* target = plane + static_cast<size_t>(r) * planeStride;
    std::memcpy(target, source, width);
    std::memset(target + width, source[width - 1], planeStride - width);
  }
}

void DownsampleChroma(const uint8_t* rows, uint32_t width, uint8_t* plane, uint32_t planeStride) {
  const uint32_t pairs = width / 2;
  const uint32_t columns = (width + 1) / 2;
  for (uint32_t r = 0; r < 8; ++r) {
    const uint8_t* upper = rows + static_cast<size_t>(2 * r) * width;
    const uint8_t* lower = upper + width;
    uint8_t* target = plane + static_cast<size_t>(r) * planeStride;
    for (uint32_t x = 0; x < pairs; ++x) {
      const uint32_t sum = upper[2 * x] + upper[2 * x + 1] + lower[2 * x] + lower[2 * x + 1];
      target[x] = static_cast<uint8_t>(sum / 4);
    }
    if (columns > pairs) target[pairs] = static_cast<uint8_t>((upper[2 * pairs] + lower[2 * pairs]) / 2);
    std::memset(target + columns, target[columns - 1], planeStride - columns);
  }
}

void LoadBlock(const uint8_t* samples, uint32_t stride, int32_t (&block)[64]) {
  for (size_t r = 0; r < 8; ++r, samples += stride) {
    for (size_t c = 0; c < 8; ++c) block[8 * r + c] = int32_t{samples[c]} - 128;
  }
}

namespace {

// One line of eight values, `step` apart. The even outputs 0 and 4 are
// descaled by `evenShift` bits, all others by `shift` bits, with rounding.
template <size_t step, int evenShift, int shift>
inline void DctLine(int32_t* p) {
  constexpr int32_t kEvenRound = evenShift > 0 ? 1 << (evenShift - 1) : 0;
  constexpr int32_t kRound = 1 << (shift - 1);
  int32_t t0 = p[0] + p[7 * step], t7 = p[0] - p[7 * step];
  int32_t t1 = p[step] + p[6 * step], t6 = p[step] - p[6 * step];
  int32_t t2 = p[2 * step] + p[5 * step], t5 = p[2 * step] - p[5 * step];
  int32_t t3 = p[3 * step] + p[4 * step], t4 = p[3 * step] - p[4 * step];

  const int32_t t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
  p[0] = (t10 + t11 + kEvenRound) >> evenShift;
  p[4 * step] = (t10 - t11 + kEvenRound) >> evenShift;
  int32_t z1 = (t12 + t13) * 4433;
  p[2 * step] = (z1 + t13 * 6270 + kRound) >> shift;
  p[6 * step] = (z1 - t12 * 15137 + kRound) >> shift;

  z1 = t4 + t7;
  int32_t z2 = t5 + t6, z3 = t4 + t6, z4 = t5 + t7;
  const int32_t z5 = (z3 + z4) * 9633;
  t4 *= 2446;
  t5 *= 16819;
  t6 *= 25172;
  t7 *= 12299;
  z1 *= -7373;
  z2 *= -20995;
  z3 = z3 * -16069 + z5;
  z4 = z4 * -3196 + z5;
  p[7 * step] = (t4 + z1 + z3 + kRound) >> shift;
  p[5 * step] = (t5 + z2 + z4 + kRound) >> shift;
  p[3 * step] = (t6 + z2 + z3 + kRound) >> shift;
  p[step] = (t7 + z1 + z4 + kRound) >> shift;
}

}  // namespace

void ForwardDct(int32_t (&block)[64]) {
  for (size_t r = 0; r < 8; ++r) DctLine<1, 0, 13>(block + 8 * r);
  for (size_t c = 0; c < 8; ++c) DctLine<8, 3, 16>(block + c);
}

void Quantise(const int32_t (&block)[64], const Quantiser& quantiser, int32_t (&zigzag)[64]) {
  for (size_t k = 0; k < 64; ++k) {
    const int32_t v = block[kZigzagToNatural[k]];
    const uint32_t magnitude = static_cast<uint32_t>(v < 0 ? -v : v) + quantiser.half[k];
    auto q = static_cast<int32_t>((uint64_t{magnitude} * quantiser.reciprocal[k]) >> 32);
    if (k != 0) q = std::min(q, 1023);
    zigzag[k] = v < 0 ? -q : q;
  }
}

namespace {

// Size category and the value bits of a coefficient or difference: the low
// `size` bits of v, or of v - 1 when v is negative.
inline uint32_t SizeOf(int32_t v) {
  return static_cast<uint32_t>(std::bit_width(static_cast<uint32_t>(v < 0 ? -v : v)));
}
inline uint32_t ValueBits(int32_t v, uint32_t size) {
  const auto bits = static_cast<uint32_t>(v < 0 ? v - 1 : v);
  return bits & ((1u << size) - 1);
}

}  // namespace

void EncodeBlock(const int32_t (&zigzag)[64], int32_t& predictor, const HuffmanCodeTable& dc,
                 const HuffmanCodeTable& ac, BitSink& sink) {
  const int32_t diff = zigzag[0] - predictor;
  predictor = zigzag[0];
  const uint32_t dcSize = SizeOf(diff);
  sink.put((uint32_t{dc.code[dcSize]} << dcSize) | ValueBits(diff, dcSize), dc.length[dcSize] + dcSize);

  uint32_t run = 0;
  for (size_t k = 1; k < 64; ++k) {
    const int32_t v = zigzag[k];
    if (v == 0) {
      ++run;
      continue;
    }
    for (; run > 15; run -= 16) sink.put(ac.code[0xF0], ac.length[0xF0]);
    const uint32_t size = SizeOf(v);
    const uint32_t symbol = run * 16 + size;
    sink.put((uint32_t{ac.code[symbol]} << size) | ValueBits(v, size), ac.length[symbol] + size);
    run = 0;
  }
  if (run > 0) sink.put(ac.code[0x00], ac.length[0x00]);
}

}  // namespace wrjpeg
