// T.6 (Group 4) rows, coded against the previous row's changing elements.
//
// The reference row is a list of changing elements (positions where the
// colour differs from the pixel before; the pixel before the row is white)
// ended by the width repeated. The row being decoded writes its own list,
// which becomes the reference once the row ends exactly at the width.
#include "run_reader.h"

namespace ccitt {
namespace {

using detail::BitReader;
using detail::Colour;
using detail::Mode;
using detail::RunEnd;

// A row has at most width + 1 changing elements (every pixel, then the
// width); the list ends with the width repeated, which stops every search and
// gives b2 when b1 is the first of them.
constexpr uint32_t kSentinels = kChangeListSlack - 1;
static_assert(kSentinels >= 2);

struct RowLists {
  const uint32_t* reference;
  uint32_t* coding;
  uint32_t codingCount;  // out: changing elements written
  uint32_t codingLimit;  // room for changing elements, sentinels excluded
};

// Sets the reference row to the empty row of `width`.
void SetEmptyReference(DecoderState& state, std::span<uint32_t> lists, uint32_t capacity,
                       uint32_t width) {
  uint32_t* reference = lists.data() + static_cast<size_t>(state.referenceList) * capacity;
  for (uint32_t i = 0; i < kSentinels; ++i) reference[i] = width;
  state.referenceWidth = width;
}

inline void ClearRange(uint8_t* row, uint32_t from, uint32_t to) {
  if (to > from) detail::ClearPixels(row, from, to - from);
}

// Horizontal mode: a run of the current colour, then one of the other.
// False on a bad code or a second run ending past the width.
[[gnu::always_inline]] inline bool ReadRunPair(BitReader& reader, uint32_t colour, uint32_t& first,
                                               uint32_t& second) {
  if (colour == 0) {
    return detail::ReadRun<Colour::kWhite, false>(reader, first) == RunEnd::kComplete &&
           detail::ReadRun<Colour::kBlack, false>(reader, second) == RunEnd::kComplete;
  }
  return detail::ReadRun<Colour::kBlack, false>(reader, first) == RunEnd::kComplete &&
         detail::ReadRun<Colour::kWhite, false>(reader, second) == RunEnd::kComplete;
}

// Decodes one row; true when its codes end exactly at the width. Positions
// are kept in locals so the loop runs in registers; `inkColour` (1 black,
// 0 white) is the colour whose runs are cleared.
template <uint32_t inkColour>
bool DecodeRowCodes(BitReader& reader, RowLists& lists, uint8_t* row, uint32_t width) {
  const uint32_t* ref = lists.reference;
  uint32_t* coding = lists.coding;
  const uint32_t limit = lists.codingLimit;
  uint32_t n = 0;
  uint32_t a0 = 0;
  uint32_t next = 0;    // b1 lies at or after this position (a0 + 1 after the first code)
  uint32_t colour = 0;  // 0 white, 1 black
  uint32_t i = 0;
  bool complete = false;
  for (;;) {
    // b1: the first reference change at or after `next` to the opposite colour.
    while (i > 0 && ref[i - 1] >= next) --i;
    while (ref[i] < next) ++i;
    if ((i & 1) != colour && ref[i] < width) ++i;
    const uint32_t b1 = ref[i];
    reader.ensure(12);
    const detail::ModeEntry mode = detail::kModes[reader.peek(detail::kModeLookupBits)];
    if (mode.mode == Mode::kVertical) {
      reader.drop(mode.length);
      const int64_t a1 = static_cast<int64_t>(b1) + mode.offset;
      if (a1 < a0 || a1 > width || n >= limit) break;  // backwards, past the width, full list
      if (colour == inkColour) ClearRange(row, a0, static_cast<uint32_t>(a1));
      coding[n++] = static_cast<uint32_t>(a1);
      colour ^= 1;
      a0 = static_cast<uint32_t>(a1);
    } else if (mode.mode == Mode::kPass) {
      reader.drop(mode.length);
      const uint32_t b2 = ref[i + 1];
      if (colour == inkColour) ClearRange(row, a0, b2);
      a0 = b2;
    } else if (mode.mode == Mode::kHorizontal) {
      reader.drop(mode.length);
      uint32_t first = 0;
      uint32_t second = 0;
      if (!ReadRunPair(reader, colour, first, second)) break;
      const uint64_t a1 = static_cast<uint64_t>(a0) + first;
      const uint64_t a2 = a1 + second;
      if (a2 > width || n + 2 > limit) break;
      if (colour == inkColour) {
        ClearRange(row, a0, static_cast<uint32_t>(a1));
      } else {
        ClearRange(row, static_cast<uint32_t>(a1), static_cast<uint32_t>(a2));
      }
      coding[n++] = static_cast<uint32_t>(a1);
      coding[n++] = static_cast<uint32_t>(a2);
      a0 = static_cast<uint32_t>(a2);
    } else {
      break;  // seven 0 bits (EOFB, end of data) or an extension code
    }
    if (a0 >= width) {
      complete = true;  // positions never pass the width, so a0 == width
      break;
    }
    next = a0 + 1;
  }
  lists.codingCount = n;
  return complete;
}

}  // namespace

int32_t TwoDimDecoder(DecoderView& view, std::span<uint8_t> row, uint32_t width, Ink ink) {
  width = detail::PrepareRow(row, width);
  DecoderState& state = view.state;
  const size_t capacity = view.changeLists.size() / 2;
  if (capacity < static_cast<size_t>(width) + kChangeListSlack) return kRowBad;
  const auto listCapacity = static_cast<uint32_t>(capacity);
  state.referenceList &= 1;
  if (state.referenceWidth != width || width == 0) {
    SetEmptyReference(state, view.changeLists, listCapacity, width);
    if (width == 0) return kRowDone;
  }
  uint32_t* lists = view.changeLists.data();
  RowLists rowLists{lists + static_cast<size_t>(state.referenceList) * listCapacity,
                    lists + static_cast<size_t>(state.referenceList ^ 1) * listCapacity, 0,
                    listCapacity - kSentinels};

  BitReader reader(view);
  const bool complete = ink == Ink::kBlack
                            ? DecodeRowCodes<1>(reader, rowLists, row.data(), width)
                            : DecodeRowCodes<0>(reader, rowLists, row.data(), width);
  reader.store();
  if (!complete) return kRowBad;
  // The row becomes the reference for the next one.
  for (uint32_t k = 0; k < kSentinels; ++k) rowLists.coding[rowLists.codingCount + k] = width;
  state.referenceList ^= 1;
  return kRowDone;
}

}  // namespace ccitt
