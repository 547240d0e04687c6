// The entropy decoder's input: byte input with stuffing removal, the bit
// buffer, Huffman decoding and restart processing.
//
// An EntropyReader is a small struct that holds the bit buffer and the input
// cursor in locals for the length of one MCU row and writes them back to the
// block with store(). Bits are kept oldest-first in the top of a 64-bit word.
//
// The decoded values, the file reads and their failures must not depend on
// how far ahead the buffer reads, so the fill keeps to these rules:
//   - before each decode, while 24 or fewer bits remain, bytes are taken one
//     at a time with unstuffing, exactly as a 32-bit buffer would take them;
//     only these bytes may start a new read from the file;
//   - beyond that, bytes are taken only from what the input buffer already
//     holds, and never an FF, so that the bytes read ahead are the stored
//     bytes themselves (restart processing may take them back as such);
//   - a code and its value bits are decoded in one lookup only when 48 bits
//     are buffered, the most a 32-bit buffer would have asked for by then.
//
// Policies for data that do not follow the rules:
//   - FF 00 is a stuffed FF; any other FF xx (a marker) passes both bytes on
//     as data, so only restart processing looks for markers;
//   - once the file has no more bytes the input supplies zero bytes (never
//     stale buffer contents); a host read error is remembered and reported by
//     the caller after the MCU row;
//   - a code longer than 16 bits decodes as symbol 0 and consumes no bits.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "jpeg_format.h"

namespace rdjpeg {

// Derives a slot's code tables from its counts and symbols (canonical code
// order, 8-bit lookahead). False when the counts describe more codes of some
// length than that length can hold.
bool DeriveHuffTable(JpegHuffTable& table);

// Fills the combined lookups of every slot (DC slots 0 and 1, AC slots 2 and
// 3) from the derived tables. An entry is
//   0                         the code is longer than kFastBits: decode it bit by bit;
//   length | kFastPending     the code's length and symbol; the value bits follow;
//   length | symbol << 8 | value << 16
//                             code and value bits together take `length` bits.
// The symbol sits in bits 8..15 in both non-zero forms.
inline constexpr int32_t kFastPending = 0x80;
void BuildFastTables(JpegState& state);

// Value bits that follow a DC symbol (at most 16) and an AC symbol (its low 4 bits).
inline int32_t DcValueBits(int32_t symbol) { return symbol > 16 ? 16 : symbol; }
inline int32_t AcValueBits(int32_t symbol) { return symbol & 15; }

// A value of `s` bits (1..16) as a coefficient: below 2^(s−1) it stands for
// a negative one, value + 1 − 2^s.
inline int32_t Extend(int32_t value, int32_t s) {
  return value < (1 << (s - 1)) ? value + 1 - (1 << s) : value;
}

// The entropy reader's registers, copied out for its rarely taken paths (so
// that the reader itself never has its address taken and stays in registers).
struct EntropyCursor {
  uint64_t bits;
  int32_t count;
  int32_t position;  // next byte of entropyInput
  int32_t filled;    // valid bytes in entropyInput
};
// The byte-at-a-time fill (see the rules above).
void FillByBytes(const ImageBlockHead& head, JpegState& state, EntropyCursor& c);
// Restart processing (EntropyReader::restart).
void Restart(const ImageBlockHead& head, JpegState& state, EntropyCursor& c);
// The symbol of the code at the top of `bits` among codes of 9..maxLength
// bits, by the per-length compare; −1 when none fits. `length` receives the
// code's length. A slot no DHT defined has no codes.
int32_t LongCode(const JpegHuffTable& table, uint64_t bits, int32_t maxLength, int32_t& length);
// Traces a code longer than 16 bits.
void TraceLongCode();

class EntropyReader {
 public:
  EntropyReader(const ImageBlockHead& head, JpegState& state)
      : head_(head),
        state_(state),
        data_(state.entropyInput),
        bits_(static_cast<uint64_t>(state.info.bitBuffer) << 32 | state.bitBufferLow),
        count_(state.info.bitCount),
        position_(state.inputPosition),
        filled_(state.inputFilled) {}

  // Writes the bit buffer and the input cursor back into the block.
  void store() {
    state_.info.bitBuffer = static_cast<uint32_t>(bits_ >> 32);
    state_.bitBufferLow = static_cast<uint32_t>(bits_);
    state_.info.bitCount = count_;
    state_.inputPosition = position_;
    state_.inputFilled = filled_;
  }

  // True once a host read failed (not the plain end of the file).
  bool readFailed() const { return state_.inputEnded == 2; }

  // The next symbol of `table`.
  int32_t decode(const JpegHuffTable& table) {
    fill();
    auto prefix = static_cast<uint32_t>(bits_ >> 56);
    int32_t length = table.lookaheadLength[prefix];
    if (length != 0) {
      consume(length);
      return table.lookaheadSymbol[prefix];
    }
    return decodeLong(table);
  }

  // The next symbol of `table` and its value (0 when it has no value bits);
  // `fast` is the slot's combined lookup, `valueBits` gives the value bits of
  // a symbol (DcValueBits or AcValueBits).
  template <int32_t (*valueBits)(int32_t)>
  int32_t decodeWithValue(const JpegHuffTable& table, const int32_t* fast, int32_t& value) {
    fill();
    if (count_ >= 48) {
      int32_t entry = fast[bits_ >> (64 - kFastBits)];
      if (entry != 0) {
        consume(entry & 31);
        const int32_t symbol = (entry >> 8) & 0xFF;
        if ((entry & kFastPending) == 0) {
          value = entry >> 16;
        } else {
          value = receiveExtend(valueBits(symbol));
        }
        return symbol;
      }
    }
    int32_t symbol = decode(table);
    int32_t s = valueBits(symbol);
    value = s != 0 ? receiveExtend(s) : 0;
    return symbol;
  }

  // The next `s` bits (1..16), extended to a coefficient value.
  int32_t receiveExtend(int32_t s) {
    fill();
    auto value = static_cast<int32_t>(bits_ >> (64 - s));
    consume(s);
    return Extend(value, s);
  }

  // Skips to the byte after the next marker: drops the bits of a partly used
  // byte, takes bytes (the buffered ones first) up to an FF, then the FF fill
  // bytes and the marker code. Ends at the end of the data.
  void restart() {
    EntropyCursor c = cursor();
    Restart(head_, state_, c);
    load(c);
  }

 private:
  // Makes more than 24 bits available (see the rules above).
  void fill() {
    if (count_ >= 48) return;
    if (filled_ - position_ >= 8) {
      uint64_t raw = LoadBigEndian64(data_ + position_);
      if (!HasFfByte(raw)) {
        const int32_t bytes = (64 - count_) >> 3;
        bits_ |= (raw >> (64 - 8 * bytes)) << (64 - count_ - 8 * bytes);
        position_ += bytes;
        count_ += 8 * bytes;
        return;
      }
    }
    EntropyCursor c = cursor();
    FillByBytes(head_, state_, c);
    load(c);
  }
  void consume(int32_t n) {
    bits_ <<= n;
    count_ -= n;
  }
  int32_t decodeLong(const JpegHuffTable& table) {
    int32_t length = 0;
    int32_t symbol = LongCode(table, bits_, 16, length);
    if (symbol >= 0) {
      consume(length);
      return symbol;
    }
    TraceLongCode();
    return 0;
  }

  EntropyCursor cursor() const { return EntropyCursor{bits_, count_, position_, filled_}; }
  void load(const EntropyCursor& c) {
    bits_ = c.bits;
    count_ = c.count;
    position_ = c.position;
    filled_ = c.filled;
  }

  static uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  }
  static bool HasFfByte(uint64_t v) {
    const uint64_t inverted = ~v;  // an FF byte becomes a zero byte
    return ((inverted - 0x0101010101010101ULL) & ~inverted & 0x8080808080808080ULL) != 0;
  }

  const ImageBlockHead& head_;
  JpegState& state_;
  const uint8_t* data_;
  uint64_t bits_;
  int32_t count_;
  int32_t position_;
  int32_t filled_;
};

// Decodes the next MCU row into the block planes (`transform`: with the
// inverse DCT; without it only the entropy state advances). Returns 1, or 3
// with id 2 when a host read failed.
int32_t DecodeMcuRow(const ImageBlockHead& head, JpegState& state, bool transform);

// Back to the first entropy-coded byte: seek, empty input, clear the bit
// buffer, zero the predictors, restart count, row 0, no MCU row.
int32_t RewindToScan(const ImageBlockHead& head, JpegState& state);

}  // namespace rdjpeg
