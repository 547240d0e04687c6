// The GIF variant of LZW decoding, one row of pixel indices at a time.
//
// The decoder knows nothing of the file: it pulls data bytes from a
// ByteSource (the sub-block reader) and keeps everything it needs between
// rows in LzwState, which lives in its own movable memory block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace rdgif {

inline constexpr uint32_t kLzwTableSize = 4096;  // codes of at most 12 bits
inline constexpr uint32_t kLzwMaxCodeBits = 12;

struct LzwState {
  uint32_t rowLength;     // pixels per row (the image width)
  uint32_t codeSize;      // the LZW minimum code size
  uint32_t clearCode;     // 2^codeSize
  uint32_t endCode;       // clearCode + 1
  uint32_t codeWidth;     // bits of the next code
  uint32_t nextCode;      // next free table entry
  uint32_t widthLimit;    // 2^codeWidth
  uint32_t codeMask;      // widthLimit - 1
  uint32_t tableFull;     // 1: no entries until the next clear code
  uint32_t previousCode;  // kNoCode after a clear code
  uint32_t previousFirst; // first pixel of the previous code's string
  uint32_t bitBuffer;     // bits not used yet, least significant first
  uint32_t bitCount;
  uint32_t pendingPixels;  // pixels of the last string still on the stack
  uint32_t ended;          // 1: end code seen or data exhausted
  uint32_t invalid;        // 1: the code size is not one the format allows
  uint8_t stack[kLzwTableSize];   // string being output, first pixel on top
  uint8_t suffix[kLzwTableSize];  // last pixel of each code's string
  uint32_t prefix[kLzwTableSize]; // code of each string without its last pixel
};
static_assert(offsetof(LzwState, stack) == 64);
static_assert(offsetof(LzwState, prefix) == 64 + 2 * kLzwTableSize);

inline constexpr uint32_t kNoCode = 0xFFFFFFFFu;

// Where the decoder gets its data bytes: next() gives 0-255, or −1 when the
// data have ended (then for good). A source may also offer the bytes it holds
// already: peek() answers where they are and how many (without reading), and
// take(n) consumes the first n of them. The decoder uses those first and
// calls next() only when none are held, so reads happen exactly when they
// would byte by byte.
struct ByteSource {
  int32_t (*next)(void* context);
  void* context;
  const uint8_t* (*peek)(void* context, uint32_t& count) = nullptr;
  void (*take)(void* context, uint32_t count) = nullptr;
};

enum class LzwResult {
  kOk,       // the row holds `produced` pixels (fewer when the data ended)
  kCorrupt,  // a code that cannot occur here; the row is incomplete
};

// Starts a new code stream: code size `codeSize` (1 to 8 are allowed; any
// other makes every row corrupt), rows of `rowLength` pixels.
void LzwReset(LzwState& state, uint32_t codeSize, uint32_t rowLength);

// Decodes the next row into row[0 .. produced). Pixels after `produced` are
// not written. A string that does not fit is continued in the next row.
LzwResult LzwDecodeRow(LzwState& state, const ByteSource& source, std::span<uint8_t> row,
                       uint32_t& produced);

}  // namespace rdgif
