// The row encoders of the TIFF writer: PackBits for every pixel depth, and
// for 1-bit rows CCITT modified Huffman, Group 3 one-dimensional with
// end-of-line codes, and Group 4.
//
// Pixel convention of the CCITT coders: a bit of 1 is white, 0 black; rows
// are read most significant bit first and bits beyond the width are ignored.
// Every coder writes into a zero-filled output span (codes are ORed in) and
// never past its end: a code that does not fit sets `overflow` and is dropped.
// The caller sizes the span with WorstCaseRowBytes so that never happens on
// any row; the flag turns a broken promise into a reported failure rather
// than a write outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "plugin/t4_codes.h"

namespace wrtiff {

// Codes go out most significant bit first into zero-filled bytes; `bit`
// counts the bits used in the byte at `byte` (0 to 7).
struct BitWriter {
  std::span<uint8_t> out;
  size_t byte = 0;
  uint32_t bit = 0;
  bool overflow = false;

  // The low `length` bits of `code`, first bit sent = bit length - 1.
  void put(uint32_t code, uint32_t length) {
    while (length > 0) {
      if (byte >= out.size()) {
        overflow = true;
        return;
      }
      const uint32_t room = 8 - bit;
      const uint32_t take = length < room ? length : room;
      const uint32_t chunk = (code >> (length - take)) & ((1u << take) - 1);
      out[byte] = static_cast<uint8_t>(out[byte] | (chunk << (room - take)));
      bit += take;
      length -= take;
      if (bit == 8) {
        bit = 0;
        ++byte;
      }
    }
  }
  void put(t4::Code code) { put(code.bits, code.length); }
  // Moves to the next byte boundary; the unused low bits stay 0.
  void align() {
    if (bit != 0) {
      bit = 0;
      ++byte;
    }
  }
  // An end-of-line code ending on a byte boundary: fill, then 0x00 0x01.
  void endOfLine() {
    align();
    put(t4::kEndOfLine.bits, 16);
  }
  // Bytes touched, a partly filled last byte counted whole.
  size_t bytesTouched() const { return byte + (bit != 0 ? 1 : 0); }
};

// The row coders' writer: codes gather in a 64-bit register and go out four
// bytes at a time. It takes over the BitWriter's position (a partly filled
// byte included) and hands it back on finish(); what it writes is what the
// BitWriter's put() would, and near the span's end it writes byte by byte and
// sets `overflow` just the same.
class RegisterBitWriter {
 public:
  explicit RegisterBitWriter(BitWriter& target) : target_(target), count_(target.bit) {
    if (count_ != 0) held_ = target.out[target.byte] >> (8 - count_);
  }
  // The low `length` (at most 32) bits of `code`.
  void put(uint32_t code, uint32_t length) {
    held_ = (held_ << length) | (code & ((uint64_t{1} << length) - 1));
    count_ += length;
    if (count_ >= 32) {
      count_ -= 32;
      store(static_cast<uint32_t>(held_ >> count_), 4);
    }
  }
  void put(t4::Code code) { put(code.bits, code.length); }
  // Pads with 0 bits to the next byte boundary.
  void align() {
    const uint32_t pad = (8 - (count_ & 7)) & 7;
    held_ <<= pad;
    count_ += pad;
  }
  // Writes the bits held (a partial last byte stays partial) back into the
  // BitWriter's position.
  void finish() {
    const uint32_t whole = count_ >> 3;
    const uint32_t partial = count_ & 7;
    if (whole != 0) store(static_cast<uint32_t>(held_ >> partial) << (32 - 8 * whole), whole);
    count_ = partial;
    if (partial != 0 && !target_.overflow) {
      if (target_.byte < target_.out.size()) {
        target_.out[target_.byte] = static_cast<uint8_t>(held_ << (8 - partial));
      } else {
        target_.overflow = true;
      }
    }
    target_.bit = target_.overflow ? 0 : partial;
  }

 private:
  // The first `bytes` bytes of `word`, most significant first, at the
  // BitWriter's byte position (its partly filled byte is among the bits held).
  void store(uint32_t word, uint32_t bytes) {
    BitWriter& t = target_;
    if (!t.overflow && t.out.size() - t.byte >= 4) {
      const uint8_t be[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                             static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
      std::memcpy(t.out.data() + t.byte, be, 4);
      t.byte += bytes;
      return;
    }
    for (uint32_t i = 0; i < bytes && !t.overflow; ++i) {
      if (t.byte >= t.out.size()) {
        t.overflow = true;
        break;
      }
      t.out[t.byte++] = static_cast<uint8_t>(word >> (24 - 8 * i));
    }
  }

  BitWriter& target_;
  uint64_t held_ = 0;  // the last `count_` bits are waiting, the first sent highest
  uint32_t count_;     // 0 ... 31 between calls
};

// The positions where `row` (width pixels, 1 = white) changes colour, in
// increasing order (position 0 when the row begins black), followed by the
// width three times. `changes` holds at least width + 3 entries; returns the
// number of changes (the width entries not counted).
size_t BuildChangeList(const uint8_t* row, uint32_t width, uint32_t* changes);

// A modified Huffman row (no end-of-line) from its change list; the writer
// must stand on a byte boundary. The row ends padded to a byte boundary.
void EncodeModifiedHuffmanRow(BitWriter& out, const uint32_t* changes, uint32_t width);

// A Group 4 row coded against `reference` (a change list; an all-white row is
// width, width, width). The bit position carries over between rows.
void EncodeGroup4Row(BitWriter& out, const uint32_t* coding, const uint32_t* reference,
                     uint32_t width);

// PackBits of `row`: every pair of equal adjacent bytes starts a repeat
// packet, the bytes between pairs go out as literals of at most 128. Returns
// the bytes written into `out` (0 and overflow set when it does not fit).
size_t EncodePackBits(std::span<const uint8_t> row, std::span<uint8_t> out, bool& overflow);

// The most bytes one row of `rowBytes` bytes can take in the given
// compression (1, 2, 3, 4, 32773), including what a strip's start and end add
// to it (Group 3 end-of-lines, a Group 4 partial byte carried in and the
// byte that closes a strip).
uint64_t WorstCaseRowBytes(uint32_t compression, uint64_t rowBytes);

// Each byte replaced by its bit mirror image.
void ReverseBits(std::span<uint8_t> bytes);

}  // namespace wrtiff
