// The decoders' bit reader over the input buffer, and the row painter.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "plugin/ccitt_decoder.h"

namespace ccitt::detail {

// Refills the input storage from the source (bit-reversing for FillOrder 2).
// A read of 0 or −1 ends the input for good and zero-fills the storage; a
// short read zero-fills the rest.
void RefillInput(DecoderView& view);

// Bits held by the bit reader: left-aligned in `bits`, `count` of them.
struct HeldBits {
  uint64_t bits;
  uint32_t count;
};

// Adds 16-bit words of the input (refilling the storage when it is used up)
// until at least `needed` bits are held.
HeldBits TakeWords(DecoderView& view, HeldBits held, uint32_t needed);

// A working copy of the bit buffer for one call: the fields stay in registers
// and are written back by store().
//
// The buffer holds up to 64 bits and takes whole 16-bit words of the input,
// as many as fit, while at least eight bytes of the storage are left; near the
// storage's end it takes one word at a time as the decoders need bits. So the
// storage is refilled from the source at the same code as it would be with
// one word taken per need, and a failing or ending source is met at the same
// row whatever the bits held.
class BitReader {
 public:
  explicit BitReader(DecoderView& view)
      : view_(view), bits_(view.state.bitBuffer), count_(view.state.bitCount) {
    // A state from a larger storage than this call's counts as empty input.
    DecoderState& s = view.state;
    if (s.inputFilled > view.input.size() || s.inputPosition > s.inputFilled) {
      s.inputFilled = 0;
      s.inputPosition = 0;
    }
  }

  void store() {
    view_.state.bitBuffer = bits_;
    view_.state.bitCount = count_;
  }

  // Makes sure at least `needed` (<= 16) bits are held.
  [[gnu::always_inline]] void ensure(uint32_t needed) {
    if (count_ >= needed) return;
    DecoderState& s = view_.state;
    if (s.inputFilled - s.inputPosition >= 8) {
      uint64_t word;
      std::memcpy(&word, view_.input.data() + s.inputPosition, sizeof word);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
      const uint32_t words = (64 - count_) / 16;  // at least 3 here
      const uint32_t unused = 64 - 16 * words;
      bits_ |= ((word >> unused) << unused) >> count_;
      s.inputPosition += 2 * words;
      count_ += 16 * words;
      return;
    }
    const HeldBits held = TakeWords(view_, HeldBits{bits_, count_}, needed);
    bits_ = held.bits;
    count_ = held.count;
  }

  // The next n (1 ... 16) bits, which must be held.
  uint32_t peek(uint32_t n) const { return static_cast<uint32_t>(bits_ >> (64 - n)); }
  void drop(uint32_t n) {
    bits_ <<= n;
    count_ -= n;
  }
  uint64_t all() const { return bits_; }
  bool inputEnded() const { return view_.state.inputEnded != 0; }

 private:
  DecoderView& view_;
  uint64_t bits_;
  uint32_t count_;
};

// Sets `count` pixels from position x to 0 (bit 7 of byte 0 is pixel 0).
// The caller keeps x + count within the row.
inline void ClearPixels(uint8_t* row, uint32_t x, uint32_t count) {
  if (count == 0) return;
  uint32_t end = x + count;
  uint32_t firstByte = x >> 3;
  uint32_t lastByte = (end - 1) >> 3;
  uint8_t headMask = static_cast<uint8_t>(0xFFu >> (x & 7));          // bits from x on
  uint8_t tailMask = static_cast<uint8_t>(0xFF00u >> (((end - 1) & 7) + 1));  // bits up to end-1
  if (firstByte == lastByte) {
    row[firstByte] &= static_cast<uint8_t>(~(headMask & tailMask));
    return;
  }
  row[firstByte] &= static_cast<uint8_t>(~headMask);
  if (lastByte > firstByte + 1) std::memset(row + firstByte + 1, 0, lastByte - firstByte - 1);
  row[lastByte] &= static_cast<uint8_t>(~tailMask);
}

// The row's usable width (limited by the span) with its bytes set to all 1 bits.
inline uint32_t PrepareRow(std::span<uint8_t> row, uint32_t width) {
  const uint64_t capacity = static_cast<uint64_t>(row.size()) * 8;
  if (width > capacity) width = static_cast<uint32_t>(capacity);
  std::memset(row.data(), 0xFF, (static_cast<size_t>(width) + 7) / 8);
  return width;
}

// Runs are summed up to this bound; anything longer is past any row anyway.
inline constexpr uint32_t kRunCeiling = 1u << 30;

}  // namespace ccitt::detail
