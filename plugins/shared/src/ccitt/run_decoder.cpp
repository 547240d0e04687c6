// T.4 one-dimensional (modified Huffman) rows.
#include <bit>

#include "run_reader.h"

namespace ccitt {
namespace {

using detail::BitReader;
using detail::Colour;
using detail::RunEnd;

// Drops an EOL with the fill bits before it: whole zero bytes while the next
// 8 bits are 0, then single bits up to and including the first 1 bit.
// False when only 0 bits remain in the data.
bool SkipEndOfLine(BitReader& reader) {
  reader.ensure(16);
  if (reader.peek(8) != 0) return true;
  for (;;) {
    reader.ensure(16);
    if (reader.all() == 0 && reader.inputEnded()) return false;
    if (reader.peek(8) != 0) break;
    reader.drop(8);
  }
  reader.drop(static_cast<uint32_t>(std::countl_zero(reader.all())) + 1);
  return true;
}

// Adds a run of `colour` at x; clears it when it is the ink; false at the row end.
template <Colour colour>
bool PaintRun(uint8_t* row, uint32_t width, uint32_t& x, uint32_t run, Ink ink) {
  if (run == 0) return true;
  const bool isInk = (colour == Colour::kBlack) == (ink == Ink::kBlack);
  const uint32_t room = width - x;
  if (isInk) detail::ClearPixels(row, x, run < room ? run : room);
  if (run >= room) {
    x = width;
    return false;
  }
  x += run;
  return true;
}

void DecodeRuns(BitReader& reader, uint8_t* row, uint32_t width, Ink ink) {
  uint32_t x = 0;
  uint32_t run = 0;
  while (x < width) {
    if (detail::ReadRun<Colour::kWhite, true>(reader, run) != RunEnd::kComplete) return;
    if (!PaintRun<Colour::kWhite>(row, width, x, run, ink)) return;
    if (detail::ReadRun<Colour::kBlack, true>(reader, run) != RunEnd::kComplete) return;
    if (!PaintRun<Colour::kBlack>(row, width, x, run, ink)) return;
  }
}

}  // namespace

int32_t RunDecoder(DecoderView& view, std::span<uint8_t> row, uint32_t width, Ink ink) {
  width = detail::PrepareRow(row, width);
  BitReader reader(view);
  if (SkipEndOfLine(reader) && width > 0) DecodeRuns(reader, row.data(), width, ink);
  reader.store();
  return kRowDone;
}

}  // namespace ccitt
