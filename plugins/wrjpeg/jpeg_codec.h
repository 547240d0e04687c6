// The baseline JPEG coding steps, each on plain buffers: quantisation tables
// from a quality, Huffman code tables, colour conversion of one DIB row,
// plane filling and 2x2 chroma averaging, the forward DCT, quantisation,
// and Huffman coding of one block into a bit sink.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "jpeg_tables.h"
#include "plugin/contract.h"

namespace wrjpeg {

// ---------------------------------------------------------------------------
// Tables built per export.

// Code and length of every symbol of one Huffman table (length 0: no code).
struct HuffmanCodeTable {
  const uint8_t* counts;   // the 16 counts of its HuffmanTableDef
  const uint8_t* symbols;  // the symbols of its HuffmanTableDef
  uint16_t code[256];
  uint8_t length[256];
};
static_assert(offsetof(HuffmanCodeTable, code) == (kAddress32 ? 8 : 16));
static_assert(offsetof(HuffmanCodeTable, length) == (kAddress32 ? 520 : 528));
static_assert(sizeof(HuffmanCodeTable) == (kAddress32 ? 776 : 784));

// Canonical codes: within a length they count up from the last code + 1; a
// longer length doubles the next code.
void BuildHuffmanCodes(const HuffmanTableDef& def, HuffmanCodeTable& table);

// Quality as the encoder uses it: 0 counts as 1, above 100 as 100.
uint32_t EffectiveQuality(uint32_t quality);
// The base table (zigzag order) scaled for `quality`: scale 5000 / q below 50,
// else 200 - 2q; each entry (base x scale + 50) / 100, limited to 1..255.
void ScaleQuantTable(const std::array<uint8_t, 64>& base, uint32_t quality, uint8_t (&out)[64]);

// Division by a table entry as a multiplication: (n x reciprocal) >> 32 equals
// n / divisor for every n below 2^16.
struct Quantiser {
  uint32_t half[64];        // divisor / 2, zigzag order
  uint64_t reciprocal[64];  // 2^32 / divisor + 1
};
void BuildQuantiser(const uint8_t (&table)[64], Quantiser& quantiser);

// ---------------------------------------------------------------------------
// Samples.

// Converts one DIB row of `width` pixels into Y, Cb and Cr bytes (chroma
// stored + 128). colourCount 2, 16 or 256 reads palette indices of 1, 4 or 8
// bits; anything else blue, green, red bytes.
void ConvertRow(const uint8_t* row, uint32_t width, uint32_t colourCount, const RGBQUAD* palette,
                uint8_t* y, uint8_t* cb, uint8_t* cr);

// Copies `rows` rows of `width` samples (`width` apart) into a plane whose rows
// are `planeStride` apart, repeating the last sample of each row to the
// plane's width, so that blocks on the right edge hold no artificial edge.
void FillPlane(const uint8_t* rows, uint32_t width, uint32_t rowCount, uint8_t* plane,
               uint32_t planeStride);

// Averages 16 rows of `width` chroma samples 2x2 into 8 plane rows (truncating);
// with an odd width the last column averages its two samples vertically.
// Columns beyond (width + 1) / 2 repeat the last one up to planeStride.
void DownsampleChroma(const uint8_t* rows, uint32_t width, uint8_t* plane, uint32_t planeStride);

// ---------------------------------------------------------------------------
// Blocks.

// 8x8 samples at `samples` (rows `stride` apart), each minus 128.
void LoadBlock(const uint8_t* samples, uint32_t stride, int32_t (&block)[64]);

// Integer forward DCT in place (natural order), 13 fractional bits, scaled
// so that the output divides by the plain quantisation values.
void ForwardDct(int32_t (&block)[64]);

// Quantises a natural-order block into zigzag order, rounding half away from
// zero. AC values are limited to the +-1023 of baseline coding.
void Quantise(const int32_t (&block)[64], const Quantiser& quantiser, int32_t (&zigzag)[64]);

// Entropy-coded bytes: bits enter most significant first; a completed FF byte
// is followed by a stuffed 00.
struct BitSink {
  uint8_t* out;      // complete bytes go here
  uint32_t length;   // complete bytes so far
  uint64_t pending;  // the low `bits` bits are not yet in a byte
  uint32_t bits;

  // Appends the low `count` bits of `value` (count <= 27).
  void put(uint32_t value, uint32_t count) {
    pending = (pending << count) | value;
    bits += count;
    if (bits >= 32) drain();
  }
  // Moves every complete byte to `out`; fewer than 8 bits stay pending.
  void drain() {
    while (bits >= 8) {
      bits -= 8;
      const auto byte = static_cast<uint8_t>(pending >> bits);
      out[length++] = byte;
      if (byte == 0xFF) out[length++] = 0;
    }
  }
};

// Most bytes one MCU (six blocks) can add to a sink, stuffing included.
inline constexpr uint32_t kMaxMcuBytes = 6 * 2 * 216;

// Codes one quantised block (zigzag order): the DC difference from
// `predictor` (which becomes this DC), then the AC runs, ZRL and EOB.
void EncodeBlock(const int32_t (&zigzag)[64], int32_t& predictor, const HuffmanCodeTable& dc,
                 const HuffmanCodeTable& ac, BitSink& sink);

}  // namespace wrjpeg
