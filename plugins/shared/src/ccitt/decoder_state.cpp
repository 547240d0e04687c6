// Reset, alignment and the input refill shared by both decoders.
#include <array>
#include <cstring>

#include "bit_reader.h"

namespace ccitt {
namespace {

constexpr std::array<uint8_t, 256> BitReversal() {
  std::array<uint8_t, 256> table{};
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t r = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (v & (1u << bit)) r |= 0x80u >> bit;
    table[v] = static_cast<uint8_t>(r);
  }
  return table;
}
constexpr auto kBitReversal = BitReversal();

}  // namespace

void ResetDecoder(DecoderState& state) {
  const uint32_t reverseBits = state.reverseBits;
  state = DecoderState{};
  state.reverseBits = reverseBits;
}

void AlignToByte(DecoderState& state) {
  const uint32_t partial = state.bitCount & 7;
  state.bitBuffer <<= partial;
  state.bitCount -= partial;
}

namespace detail {

void RefillInput(DecoderView& view) {
  DecoderState& state = view.state;
  std::span<uint8_t> storage = view.input;
  state.inputPosition = 0;
  state.inputFilled = static_cast<uint32_t>(storage.size());
  if (storage.empty()) return;
  int32_t got = 0;
  if (!state.inputEnded && view.source.read != nullptr) {
    got = view.source.read(view.source.context, storage.data(),
                           static_cast<uint32_t>(storage.size()));
  }
  if (got <= 0) {
    state.inputEnded = got < 0 ? kInputFailed : 1;
    got = 0;
  }
  const size_t valid = std::min(static_cast<size_t>(got), storage.size());
  std::memset(storage.data() + valid, 0, storage.size() - valid);
  if (state.reverseBits) {
    for (size_t i = 0; i < valid; ++i) storage[i] = kBitReversal[storage[i]];
  }
}

namespace {

uint8_t NextByte(DecoderView& view) {
  DecoderState& s = view.state;
  if (s.inputPosition >= s.inputFilled) {
    RefillInput(view);
    if (s.inputFilled == 0) return 0;  // no storage at all: only 0 bits
  }
  return view.input[s.inputPosition++];
}

}  // namespace

HeldBits TakeWords(DecoderView& view, HeldBits held, uint32_t needed) {
  while (held.count < needed) {
    const uint32_t high = NextByte(view);
    const uint32_t word = (high << 8) | NextByte(view);
    held.bits |= static_cast<uint64_t>(word) << (48 - held.count);
    held.count += 16;
  }
  return held;
}

}  // namespace detail
}  // namespace ccitt
