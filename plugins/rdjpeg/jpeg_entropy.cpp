// Huffman tables, the byte input behind the bit buffer, restart processing
// and the decoding of MCUs into the block planes.
#include "jpeg_entropy.h"

#include <cstring>

#include "jpeg_idct.h"
#include "jpeg_simd.h"
#include "jpeg_tables.h"

namespace rdjpeg {

// Codes in canonical order: within a length, one after the other in symbol
// order; the first code of the next length is (last + 1) × 2. Codes of up to
// 8 bits also fill the 2^(8 − length) lookahead entries they begin.
bool DeriveHuffTable(JpegHuffTable& table) {
  int32_t code = 0;
  int32_t index = 0;
  for (int length = 1; length <= 16; ++length) {
    int32_t n = table.counts[length - 1];
    table.minimumCode[length - 1] = code;
    table.firstIndex[length - 1] = index;
    for (int32_t k = 0; k < n; ++k) table.codes[index++] = code++;
    if (code > (1 << length)) return false;  // more codes than this length holds
    table.maximumCode[length - 1] = code - 1;
    code <<= 1;
  }
  std::memset(table.lookaheadLength, 0, sizeof table.lookaheadLength);
  std::memset(table.lookaheadSymbol, 0, sizeof table.lookaheadSymbol);
  for (int length = 1; length <= 8; ++length) {
    int32_t first = table.firstIndex[length - 1];
    for (int32_t k = 0; k < table.counts[length - 1]; ++k) {
      int32_t start = table.codes[first + k] << (8 - length);
      for (int32_t e = 0; e < (1 << (8 - length)); ++e) {
        table.lookaheadLength[start + e] = length;
        table.lookaheadSymbol[start + e] = table.symbols[first + k];
      }
    }
  }
  return true;
}

namespace {

// Reads the next bytes of the file into the input buffer. Once the host gives
// nothing (end of file) or fails, the input stays ended: zero bytes follow.
bool Refill(const ImageBlockHead& head, JpegState& state, EntropyCursor& c) {
  c.position = c.filled = kEntropyInputBytes;
  if (state.inputEnded != 0) return false;
  int32_t got = reader::HostRead(head, state.entropyInput, kEntropyInputBytes);
  if (got <= 0 || got > kEntropyInputBytes) {
    state.inputEnded = got < 0 ? 2 : 1;
    return false;
  }
  c.position = 0;
  c.filled = got;
  state.inputFileEnd += static_cast<uint32_t>(got);
  return true;
}

// Next byte with stuffing removed; 0 once the data have ended.
uint32_t NextByte(const ImageBlockHead& head, JpegState& state, EntropyCursor& c) {
  if (c.position >= c.filled && !Refill(head, state, c)) return 0;
  uint32_t byte = state.entropyInput[c.position++];
  if (byte == 0xFF) {
    if (c.position >= c.filled && !Refill(head, state, c)) return byte;
    if (state.entropyInput[c.position] == 0) ++c.position;
  }
  return byte;
}

// Next byte as stored; −1 once the data have ended.
int32_t NextRawByte(const ImageBlockHead& head, JpegState& state, EntropyCursor& c) {
  if (c.position >= c.filled && !Refill(head, state, c)) return -1;
  return state.entropyInput[c.position++];
}

}  // namespace

int32_t LongCode(const JpegHuffTable& table, uint64_t bits, int32_t maxLength, int32_t& length) {
  for (length = 9; length <= maxLength && table.symbols != nullptr; ++length) {
    auto code = static_cast<int32_t>(bits >> (64 - length));
    if (code <= table.maximumCode[length - 1]) {
      return table.symbols[table.firstIndex[length - 1] + code - table.minimumCode[length - 1]];
    }
  }
  return -1;
}

namespace {

// The combined entry for the kFastBits-bit prefix `prefix` (see BuildFastTables).
int32_t FastEntry(const JpegHuffTable& table, uint32_t prefix, int32_t (*valueBits)(int32_t)) {
  const uint64_t bits = static_cast<uint64_t>(prefix) << (64 - kFastBits);
  int32_t length = table.lookaheadLength[prefix >> (kFastBits - 8)];
  int32_t symbol = table.lookaheadSymbol[prefix >> (kFastBits - 8)];
  if (length == 0) symbol = LongCode(table, bits, kFastBits, length);
  if (symbol < 0) return 0;
  const int32_t s = valueBits(symbol);
  if (s == 0 || length + s > kFastBits) {
    return length | symbol << 8 | (s == 0 ? 0 : kFastPending);
  }
  const auto raw = static_cast<int32_t>((bits << length) >> (64 - s));
  return (length + s) | symbol << 8 | static_cast<int32_t>(static_cast<uint32_t>(Extend(raw, s)) << 16);
}

}  // namespace

void BuildFastTables(JpegState& state) {
  for (int slot = 0; slot < kHuffSlots; ++slot) {
    const JpegHuffTable& table = state.info.huffman[slot];
    auto valueBits = slot < kAcSlotBase ? DcValueBits : AcValueBits;
    for (uint32_t prefix = 0; prefix < kFastEntries; ++prefix) {
      state.fastHuffman[slot][prefix] = FastEntry(table, prefix, valueBits);
    }
  }
}

void TraceLongCode() {
  reader::TraceHook(64, "l > 16 in GetHuffCode!");
}

void FillByBytes(const ImageBlockHead& head, JpegState& state, EntropyCursor& c) {
  while (c.count <= 24) {
    c.bits |= static_cast<uint64_t>(NextByte(head, state, c)) << (56 - c.count);
    c.count += 8;
  }
  while (c.count <= 56 && c.position < c.filled && state.entropyInput[c.position] != 0xFF) {
    c.bits |= static_cast<uint64_t>(state.entropyInput[c.position++]) << (56 - c.count);
    c.count += 8;
  }
}

void Restart(const ImageBlockHead& head, JpegState& state, EntropyCursor& c) {
  const int32_t partial = c.count % 8;
  c.bits <<= partial;
  c.count -= partial;
  if (c.count < 8) c.bits = 0, c.count = 0;
  // Bytes until an FF: the buffered whole bytes first, then the input as stored.
  auto take = [&]() -> int32_t {
    if (c.count >= 8) {
      auto byte = static_cast<int32_t>(c.bits >> 56);
      c.bits <<= 8;
      c.count -= 8;
      return byte;
    }
    return NextRawByte(head, state, c);
  };
  int32_t byte = take();
  while (byte >= 0 && byte != 0xFF) byte = take();
  // The marker code, after any FF fill bytes; its value is not checked.
  while (byte == 0xFF) byte = take();
}

namespace {

constexpr int32_t kPredictorLimit = 32767;

// Decodes one block's coefficients, dequantised, into `block` (cleared by the
// caller). Returns true when any AC coefficient was coded.
inline bool DecodeBlock(EntropyReader& in, const JpegHuffTable& dc, const JpegHuffTable& ac,
                        const int32_t* dcFast, const int32_t* acFast, int32_t& predictor,
                        const int32_t* multipliers, int32_t* block) {
  int32_t value = 0;
  if (in.decodeWithValue<DcValueBits>(dc, dcFast, value) != 0) {
    value += predictor;
    predictor = value < -kPredictorLimit ? -kPredictorLimit
                                         : (value > kPredictorLimit ? kPredictorLimit : value);
  }
  block[0] = Dequantise(predictor, multipliers[0]);
  bool anyAc = false;
  for (int32_t k = 1; k < 64;) {
    int32_t rs = in.decodeWithValue<AcValueBits>(ac, acFast, value);
    int32_t r = rs >> 4;
    if ((rs & 15) != 0) {
      k += r;
      int32_t position = kNaturalOrder[static_cast<size_t>(k)];
      block[position] = Dequantise(value, multipliers[position]);
      anyAc = true;
      ++k;
    } else if (r == 15) {
      k += 16;
    } else {
      break;  // end of block
    }
  }
  return anyAc;
}

// One MCU: every component in frame order, its blocks row by row.
inline void DecodeMcu(EntropyReader& in, JpegFrameInfo& info, const int32_t (*fast)[kFastEntries],
                      IdctKernel idct, bool transform, int32_t* block) {
  for (int32_t ci = 0; ci < info.componentCount; ++ci) {
    JpegComponent& c = info.components[ci];
    const int dcSlot = c.dcSelector & 1;
    const int acSlot = kAcSlotBase + (c.acSelector & 1);
    const JpegHuffTable& dc = info.huffman[dcSlot];
    const JpegHuffTable& ac = info.huffman[acSlot];
    const int32_t* multipliers = info.quant[c.quantSelector & 3].multipliers;
    const int32_t across = BlocksAcross(info, c);
    const int32_t down = BlocksDown(info, c);
    const size_t stride = BlockPlaneStride(info, c);
    for (int32_t v = 0; v < down; ++v) {
      for (int32_t h = 0; h < across; ++h) {
        std::memset(block, 0, 64 * sizeof(int32_t));
        bool anyAc = DecodeBlock(in, dc, ac, fast[dcSlot], fast[acSlot], c.dcPredictor, multipliers, block);
        if (transform) {
          uint8_t* out = c.writePosition + static_cast<size_t>(v) * 8 * stride + static_cast<size_t>(h) * 8;
          if (anyAc) {
            idct(block, out, stride);
          } else {
            InverseDct(block, true, out, stride);
          }
        }
      }
    }
    c.writePosition += static_cast<size_t>(across) * 8;
  }
}

void ZeroPredictors(JpegFrameInfo& info) {
  for (int32_t ci = 0; ci < info.componentCount; ++ci) info.components[ci].dcPredictor = 0;
}

}  // namespace

int32_t DecodeMcuRow(const ImageBlockHead& head, JpegState& state, bool transform) {
  JpegFrameInfo& info = state.info;
  for (int32_t ci = 0; ci < info.componentCount; ++ci) {
    info.components[ci].writePosition = info.components[ci].blockPlane;
  }
  alignas(32) int32_t block[64];
  const IdctKernel idct = ActiveKernels().idct;
  EntropyReader in(head, state);
  for (int32_t m = 0; m < info.mcusPerRow; ++m) {
    DecodeMcu(in, info, state.fastHuffman, idct, transform, block);
    if (info.restartInterval != 0 && --info.restartsToGo <= 0) {
      in.restart();
      ZeroPredictors(info);
      info.restartsToGo = info.restartInterval;
    }
  }
  in.store();
  if (in.readFailed()) {
    reader::StoreError(kStrReadFailed);
    return kReaderReadFailed;
  }
  return kReaderOk;
}

int32_t RewindToScan(const ImageBlockHead& head, JpegState& state) {
  JpegFrameInfo& info = state.info;
  state.inputPosition = state.inputFilled = kEntropyInputBytes;
  state.inputEnded = 0;
  state.inputFileEnd = static_cast<uint32_t>(info.scanDataOffset);
  info.bitBuffer = 0;
  state.bitBufferLow = 0;
  info.bitCount = 0;
  ZeroPredictors(info);
  info.restartsToGo = info.restartInterval;
  state.currentRow = 0;
  state.currentMcuRow = kNoMcuRow;
  if (reader::HostSeekAbsolute(head, static_cast<uint32_t>(info.scanDataOffset))) return kReaderOk;
  reader::StoreError(kStrReadFailed);
  return kReaderReadFailed;
}

}  // namespace rdjpeg
