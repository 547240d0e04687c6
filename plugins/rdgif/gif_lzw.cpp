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

// The decoder's scalars copied out of the LzwState for one row, so that they
// stay in registers while the byte stores to the tables go on.
struct Work {
  explicit Work(LzwState& state)
      : clearCode(state.clearCode),
        endCode(state.endCode),
        codeSize(state.codeSize),
        codeWidth(state.codeWidth),
        nextCode(state.nextCode),
        widthLimit(state.widthLimit),
        codeMask(state.codeMask),
        tableFull(state.tableFull),
        previousCode(state.previousCode),
        previousFirst(state.previousFirst),
        bitBuffer(state.bitBuffer),
        bitCount(state.bitCount),
        pendingPixels(state.pendingPixels),
        ended(state.ended),
        stack(state.stack),
        suffix(state.suffix),
        prefix(state.prefix) {}
  void store(LzwState& state) const {
    state.codeWidth = codeWidth;
    state.nextCode = nextCode;
    state.widthLimit = widthLimit;
    state.codeMask = codeMask;
    state.tableFull = tableFull;
    state.previousCode = previousCode;
    state.previousFirst = previousFirst;
    state.bitBuffer = bitBuffer;
    state.bitCount = bitCount;
    state.pendingPixels = pendingPixels;
    state.ended = ended;
  }
  const uint32_t clearCode;
  const uint32_t endCode;
  const uint32_t codeSize;
  uint32_t codeWidth;
  uint32_t nextCode;
  uint32_t widthLimit;
  uint32_t codeMask;
  uint32_t tableFull;
  uint32_t previousCode;
  uint32_t previousFirst;
  uint32_t bitBuffer;
  uint32_t bitCount;
  uint32_t pendingPixels;
  uint32_t ended;
  uint8_t* const stack;
  uint8_t* const suffix;
  uint32_t* const prefix;
};

template <typename State>
void ClearTable(State& s) {
  s.codeWidth = s.codeSize + 1;
  s.widthLimit = 1u << s.codeWidth;
  s.codeMask = s.widthLimit - 1;
  s.nextCode = s.endCode + 1;
  s.tableFull = 0;
  s.previousCode = kNoCode;
}

// The bytes a source holds, taken one at a time; what was taken is handed
// back to the source (take) before it is asked for more and when the row ends.
class CodeInput {
 public:
  explicit CodeInput(const ByteSource& source) : source_(source) { look(); }
  ~CodeInput() { settle(); }
  CodeInput(const CodeInput&) = delete;
  CodeInput& operator=(const CodeInput&) = delete;

  int32_t next() {
    if (used_ < count_) return bytes_[used_++];
    settle();
    int32_t byte = source_.next(source_.context);
    look();
    return byte;
  }

 private:
  void look() {
    count_ = 0;
    used_ = 0;
    bytes_ = source_.peek != nullptr ? source_.peek(source_.context, count_) : nullptr;
    if (bytes_ == nullptr) count_ = 0;
  }
  void settle() {
    if (used_ > 0) source_.take(source_.context, used_);
    count_ = used_ = 0;
  }

  const ByteSource& source_;
  const uint8_t* bytes_ = nullptr;
  uint32_t count_ = 0;
  uint32_t used_ = 0;
};

// The next code, or −1 when the data have ended.
inline __attribute__((always_inline)) int32_t ReadCode(Work& s, CodeInput& input) {
  while (s.bitCount < s.codeWidth) {
    int32_t byte = input.next();
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
inline __attribute__((always_inline)) int32_t PushString(Work& s, uint32_t code) {
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

inline __attribute__((always_inline)) void AddEntry(Work& s, uint32_t prefix, uint32_t pixel) {
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
inline __attribute__((always_inline)) bool ExpandCode(Work& s, uint32_t code) {
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

LzwResult LzwDecodeRow(LzwState& state, const ByteSource& source, std::span<uint8_t> row,
                       uint32_t& produced) {
  produced = 0;
  if (state.invalid != 0) return LzwResult::kCorrupt;
  const auto length = static_cast<uint32_t>(std::min<size_t>(row.size(), state.rowLength));
  CodeInput input(source);
  Work s(state);
  uint8_t* const out = row.data();
  uint32_t done = 0;
  LzwResult result = LzwResult::kOk;
  while (done < length) {
    if (s.pendingPixels > 0) {
      uint32_t n = std::min(s.pendingPixels, length - done);
      for (uint32_t i = 0; i < n; ++i) out[done++] = s.stack[--s.pendingPixels];
      continue;
    }
    if (s.ended != 0) break;
    int32_t code = ReadCode(s, input);
    if (code < 0 || static_cast<uint32_t>(code) == s.endCode) {
      s.ended = 1;
      break;
    }
    if (static_cast<uint32_t>(code) == s.clearCode) {
      ClearTable(s);
      continue;
    }
    if (!ExpandCode(s, static_cast<uint32_t>(code))) {
      result = LzwResult::kCorrupt;
      break;
    }
  }
  s.store(state);
  produced = done;
  return result;
}

}  // namespace rdgif
