// LZW decoding of GIF image data.
//
// Policies where decoders differ:
//   - the first code of a stream need not be a clear code;
//   - a code equal to the next free code (or the one after it, which some
//     encoders emit) stands for the previous string plus its first pixel;
//     any larger code is corrupt;
//   - once the table holds 4096 entries, codes go on being decoded with 12
//     bits and no new entries until a clear code (encoders that defer the
//     clear code rely on this);
//   - the end code, or the data running out, ends the image: the rest of the
//     row and every later row get no pixels (not an error);
//   - a prefix chain that does not descend, or a string longer than the
//     stack, is corrupt.
#include "gif_lzw.h"

#include <algorithm>

namespace rdgif {
namespace {

void ClearTable(LzwState& s) {
  s.codeWidth = s.codeSize + 1;
  s.widthLimit = 1u << s.codeWidth;
  s.codeMask = s.widthLimit - 1;
  s.nextCode = s.endCode + 1;
  s.tableFull = 0;
  s.previousCode = kNoCode;
}

// The next code, or −1 when the data have ended.
int32_t ReadCode(LzwState& s, const ByteSource& source) {
  while (s.bitCount < s.codeWidth) {
    int32_t byte = source.next(source.context);
    if (byte < 0) return -1;
    s.bitBuffer |= static_cast<uint32_t>(byte) << s.bitCount;
    s.bitCount += 8;
  }
  auto code = static_cast<int32_t>(s.bitBuffer & s.codeMask);
  s.bitBuffer >>= s.codeWidth;
  s.bitCount -= s.codeWidth;
  return code;
}

// Pushes the string of `code` onto the stack (last pixel first) and returns
// its first pixel, or −1 when the chain is corrupt.
int32_t PushString(LzwState& s, uint32_t code) {
  while (code > s.endCode) {
    if (s.pendingPixels >= kLzwTableSize) return -1;
    s.stack[s.pendingPixels++] = s.suffix[code];
    uint32_t prefix = s.prefix[code];
    if (prefix >= code) return -1;
    code = prefix;
  }
  if (code >= s.clearCode || s.pendingPixels >= kLzwTableSize) return -1;
  s.stack[s.pendingPixels++] = static_cast<uint8_t>(code);
  return static_cast<int32_t>(code);
}

void AddEntry(LzwState& s, uint32_t prefix, uint32_t pixel) {
  if (s.tableFull != 0) return;
  s.prefix[s.nextCode] = prefix;
  s.suffix[s.nextCode] = static_cast<uint8_t>(pixel);
  ++s.nextCode;
  if (s.nextCode < s.widthLimit) return;
  if (s.codeWidth < kLzwMaxCodeBits) {
    ++s.codeWidth;
    s.widthLimit <<= 1;
    s.codeMask = s.widthLimit - 1;
  } else {
    s.tableFull = 1;
  }
}

// Puts the string of a data code (not clear, not end) on the stack and
// updates the table. False when the code cannot occur here.
bool ExpandCode(LzwState& s, uint32_t code) {
  if (s.previousCode == kNoCode) {
    if (code >= s.clearCode) return false;
    s.stack[s.pendingPixels++] = static_cast<uint8_t>(code);
    s.previousCode = code;
    s.previousFirst = code;
    // With code size 1 the first free code (4) needs 3 bits at once.
    if (s.nextCode >= s.widthLimit && s.codeWidth < kLzwMaxCodeBits) {
      ++s.codeWidth;
      s.widthLimit <<= 1;
      s.codeMask = s.widthLimit - 1;
    }
    return true;
  }
  int32_t first;
  if (code < s.nextCode) {
    first = PushString(s, code);
  } else if (code <= s.nextCode + 1 && s.tableFull == 0) {
    // The previous string followed by its own first pixel.
    s.stack[s.pendingPixels++] = static_cast<uint8_t>(s.previousFirst);
    first = PushString(s, s.previousCode);
    code = s.nextCode;  // the entry about to be made
  } else {
    return false;
  }
  if (first < 0) return false;
  AddEntry(s, s.previousCode, static_cast<uint32_t>(first));
  s.previousCode = std::min(code, s.nextCode - 1);
  s.previousFirst = static_cast<uint32_t>(first);
  return true;
}

}  // namespace

void LzwReset(LzwState& s, uint32_t codeSize, uint32_t rowLength) {
  s.rowLength = rowLength;
  s.invalid = codeSize < 1 || codeSize > 8 ? 1 : 0;
  s.codeSize = s.invalid != 0 ? 8 : codeSize;
  s.clearCode = 1u << s.codeSize;
  s.endCode = s.clearCode + 1;
  s.bitBuffer = 0;
  s.bitCount = 0;
  s.pendingPixels = 0;
  s.ended = 0;
  s.previousFirst = 0;
  ClearTable(s);
}

LzwResult LzwDecodeRow(LzwState& s, const ByteSource& source, std::span<uint8_t> row,
                       uint32_t& produced) {
  produced = 0;
  if (s.invalid != 0) return LzwResult::kCorrupt;
  const auto length = static_cast<uint32_t>(std::min<size_t>(row.size(), s.rowLength));
  while (produced < length) {
    if (s.pendingPixels > 0) {
      uint32_t n = std::min(s.pendingPixels, length - produced);
      for (uint32_t i = 0; i < n; ++i) row[produced++] = s.stack[--s.pendingPixels];
      continue;
    }
    if (s.ended != 0) break;
    int32_t code = ReadCode(s, source);
    if (code < 0 || static_cast<uint32_t>(code) == s.endCode) {
      s.ended = 1;
      break;
    }
    if (static_cast<uint32_t>(code) == s.clearCode) {
      ClearTable(s);
      continue;
    }
    if (!ExpandCode(s, static_cast<uint32_t>(code))) return LzwResult::kCorrupt;
  }
  return LzwResult::kOk;
}

}  // namespace rdgif
