// The entropy decoder's input: byte input with stuffing removal, the bit
// buffer, Huffman decoding and restart processing.
//
// An EntropyReader is a small struct that holds the bit buffer and the input
// cursor in locals for the length of one MCU row and writes them back to the
// block with store(). Bits are kept oldest-first in the top of a 32-bit word;
// a fill tops it up a byte at a time once 24 or fewer bits remain, so a
// Huffman code (at most 16 bits) plus its value bits never need a second fill.
//
// Policies for data that do not follow the rules:
//   - FF 00 is a stuffed FF; any other FF xx (a marker) passes both bytes on
//     as data, so only restart processing looks for markers;
//   - once the file has no more bytes the input supplies zero bytes (never
//     stale buffer contents); a host read error is remembered and reported by
//     the caller after the MCU row;
//   - a code longer than 16 bits decodes as symbol 0 and consumes no bits.
#pragma once

#include <cstdint>

#include "jpeg_format.h"

namespace rdjpeg {

// Derives a slot's code tables from its counts and symbols (canonical code
// order, 8-bit lookahead). False when the counts describe more codes of some
// length than that length can hold.
bool DeriveHuffTable(JpegHuffTable& table);

class EntropyReader {
 public:
  EntropyReader(const ImageBlockHead& head, JpegState& state)
      : head_(head),
        state_(state),
        data_(state.inputData),
        bits_(state.info.bitBuffer),
        count_(state.info.bitCount),
        position_(state.inputPosition),
        filled_(state.inputFilled) {}

  // Writes the bit buffer and the input cursor back into the block.
  void store() {
    state_.info.bitBuffer = bits_;
    state_.info.bitCount = count_;
    state_.inputPosition = position_;
    state_.inputFilled = filled_;
  }

  // True once a host read failed (not the plain end of the file).
  bool readFailed() const { return state_.inputEnded == 2; }

  // The next symbol of `table`.
  int32_t decode(const JpegHuffTable& table) {
    fill();
    uint32_t prefix = bits_ >> 24;
    int32_t length = table.lookaheadLength[prefix];
    if (length != 0) {
      consume(length);
      return table.lookaheadSymbol[prefix];
    }
    return decodeLong(table);
  }

  // The next `s` bits (1..16) as a coefficient value: a value below 2^(s−1)
  // stands for a negative one, value + 1 − 2^s.
  int32_t receiveExtend(int32_t s) {
    fill();
    auto value = static_cast<int32_t>(bits_ >> (32 - s));
    consume(s);
    return value < (1 << (s - 1)) ? value + 1 - (1 << s) : value;
  }

  // Skips to the byte after the next marker: drops the bits of a partly used
  // byte, takes bytes (the buffered ones first) up to an FF, then the FF fill
  // bytes and the marker code. Ends at the end of the data.
  void restart();

 private:
  void fill() {
    while (count_ <= 24) {
      bits_ |= nextByte() << (24 - count_);
      count_ += 8;
    }
  }
  void consume(int32_t n) {
    bits_ <<= n;
    count_ -= n;
  }

  // Next byte with stuffing removed; 0 once the data have ended.
  uint32_t nextByte() {
    if (position_ >= filled_ && !refill()) return 0;
    uint32_t byte = data_[position_++];
    if (byte == 0xFF) {
      if (position_ >= filled_ && !refill()) return byte;
      if (data_[position_] == 0) ++position_;
    }
    return byte;
  }
  // Next byte as stored; −1 once the data have ended.
  int32_t nextRawByte() {
    if (position_ >= filled_ && !refill()) return -1;
    return data_[position_++];
  }

  bool refill();
  int32_t decodeLong(const JpegHuffTable& table);

  const ImageBlockHead& head_;
  JpegState& state_;
  uint8_t* data_;
  uint32_t bits_;
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
