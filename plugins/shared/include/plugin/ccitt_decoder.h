// The CCITT bilevel row decoders: T.4 one-dimensional (modified Huffman,
// Group 3 1-D, the fax reader's rows) and T.6 (Group 4), one row per call.
//
// The persistent state is a plain struct (`DecoderState`) that a reader keeps
// in its ImageBlock; the byte storage of the input buffer and the two change
// lists may live anywhere the block owns (inside it or in a separate block).
// For each call the reader builds a short-lived `DecoderView` over them.
//
// Call order: ResetDecoder at every strip start and on a reposition (and once
// after the block is allocated: a zeroed state is already reset), then one
// RunDecoder / TwoDimDecoder call per row. The state carries the bit reader,
// the input position and the reference row from one row to the next.
//
// Bit order: the decoders always take the most significant bit of a byte
// first; with `reverseBits` set (FillOrder 2) every block is bit-reversed as
// it is read from the source.
//
// End of data: a source read answering 0 or −1 ends the input for good (until
// the next reset; −1 is recorded as kInputFailed); from then on the decoders
// see only 0 bits, so a T.4 row ends at once (white tail) and a T.6 row ends
// with kRowBad. A short read zero-fills the rest of the block. No call ever
// reads outside the storage or loops without consuming bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ccitt {

// Which decoded pixels get cleared to 0; the row is pre-set to 1 bits.
enum class Ink : uint32_t {
  kBlack = 0,  // clear the black runs (PhotometricInterpretation 0: 0 = black in the DIB)
  kWhite = 1,  // clear the white runs
};

inline constexpr int32_t kRowDone = 1;  // the row decoded to exactly its width
inline constexpr int32_t kRowBad = 10;  // T.6 only: codes did not end at the width

// The reader's supply of compressed bytes (usually the host file's read).
// Answers the count read, 0 at the end of the data, −1 on error.
struct ByteSource {
  int32_t (*read)(void* context, uint8_t* buffer, uint32_t count);
  void* context;
};

// DecoderState::inputEnded after a read of −1: the reader may report the
// error, where the end of the data (0) is normal past the last row.
inline constexpr uint32_t kInputFailed = 2;

// Persistent decoder state: plain fields, zero = freshly reset.
struct DecoderState {
  uint64_t bitBuffer;       // valid bits left-aligned (next bit = bit 63)
  uint32_t bitCount;        // valid bits in bitBuffer
  uint32_t inputPosition;   // next unread byte of the input storage
  uint32_t inputFilled;     // bytes of the storage holding data; position >= filled: empty
  uint32_t inputEnded;      // the source gave no more bytes, only 0 bits follow:
                            // 1 at the end of the data, kInputFailed after a read error
  uint32_t reverseBits;     // 1: FillOrder 2, bit-reverse each byte read (kept by reset)
  uint32_t referenceList;   // 0 or 1: which change list holds the reference row
  uint32_t referenceWidth;  // width the reference row belongs to; 0: the empty row
  uint32_t padding;         // keeps the size a multiple of the buffer's
};
static_assert(sizeof(DecoderState) == 40);

// Every change list holds up to width + kChangeListSlack positions.
inline constexpr uint32_t kChangeListSlack = 4;
// Entries of the change-list storage (both lists) a T.6 decoder needs for `width`.
constexpr size_t ChangeListEntries(uint32_t width) {
  return 2 * (static_cast<size_t>(width) + kChangeListSlack);
}

// One call's view of the state and its storage.
struct DecoderView {
  DecoderState& state;
  std::span<uint8_t> input;         // the input buffer storage (any size >= 2)
  std::span<uint32_t> changeLists;  // ChangeListEntries(width) or more; T.6 only
  ByteSource source;
};

// Empties the bit reader and the input buffer, forgets the end of data and sets
// the reference row to the empty row. Keeps reverseBits.
void ResetDecoder(DecoderState& state);

// Drops the bits of a partly used byte, so the next code starts on a byte
// boundary (modified Huffman rows, Compression 2).
void AlignToByte(DecoderState& state);

// T.4 one-dimensional row of `width` pixels into row[0 .. (width + 7) / 8).
// Swallows an EOL and any fill bits before the row; a row that ends early
// (eight 0 bits where a code should start) stays white from there; runs past
// the width are cut. Always returns kRowDone. A row span shorter than the
// width limits the width to the span.
int32_t RunDecoder(DecoderView& view, std::span<uint8_t> row, uint32_t width, Ink ink);

// T.6 row against the reference row. kRowDone when the codes end exactly at
// the width; kRowBad (row left partly decoded) on seven 0 bits (EOFB or the end
// of data), an extension code, an invalid run code, positions that move
// backwards or past the width, a change list that would overflow, or change
// list storage too small for the width.
int32_t TwoDimDecoder(DecoderView& view, std::span<uint8_t> row, uint32_t width, Ink ink);

}  // namespace ccitt
