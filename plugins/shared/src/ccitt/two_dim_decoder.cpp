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

// Where a row's decoding stands between two mode codes.
struct RowCursor {
  const uint32_t* ref;
  uint32_t* coding;
  uint8_t* row;
  uint32_t width;
  uint32_t limit;  // room in `coding`
  uint32_t n;      // changing elements written
  uint32_t a0;
  uint32_t next;   // b1 lies at or after this position (a0 + 1 after the first code)
  uint32_t i;      // index into ref near b1
};

enum class Step { kSameColour, kOtherColour, kRowEnd, kBad };

// Horizontal mode: a run of `colour`, then one of the other. False on a bad code.
template <uint32_t colour>
[[gnu::always_inline]] inline bool ReadRunPair(BitReader& reader, uint32_t& first, uint32_t& second) {
  constexpr Colour kFirst = colour == 0 ? Colour::kWhite : Colour::kBlack;
  constexpr Colour kSecond = colour == 0 ? Colour::kBlack : Colour::kWhite;
  return detail::ReadRun<kFirst, false>(reader, first) == RunEnd::kComplete &&
         detail::ReadRun<kSecond, false>(reader, second) == RunEnd::kComplete;
}

// Decodes one mode code with a0 of `colour` (0 white, 1 black), clearing the
// runs of `inkColour`: whether the colour changes, the row ended exactly at
// the width, or the code was bad (seven 0 bits: EOFB or the end of the data,
// an extension code, an invalid run, positions going backwards or past the
// width, a full list).
template <uint32_t colour, uint32_t inkColour>
[[gnu::always_inline]] inline Step DecodeMode(BitReader& reader, RowCursor& c) {
  // b1: the first reference change at or after `next` to the opposite colour.
  const uint32_t* ref = c.ref;
  uint32_t i = c.i;
  while (i > 0 && ref[i - 1] >= c.next) --i;
  while (ref[i] < c.next) ++i;
  if ((i & 1) != colour && ref[i] < c.width) ++i;
  c.i = i;
  const uint32_t b1 = ref[i];
  reader.ensure(12);
  // V0 (a single 1 bit), by far the commonest code, needs no lookup.
  const detail::ModeEntry mode = reader.peek(1) != 0
                                     ? detail::ModeEntry{Mode::kVertical, 1, 0, 0}
                                     : detail::kModes[reader.peek(detail::kModeLookupBits)];
  Step step = Step::kSameColour;
  if (mode.mode == Mode::kVertical) {
    reader.drop(mode.length);
    const int64_t a1 = static_cast<int64_t>(b1) + mode.offset;
    if (a1 < c.a0 || a1 > c.width || c.n >= c.limit) return Step::kBad;
    if (colour == inkColour) ClearRange(c.row, c.a0, static_cast<uint32_t>(a1));
    c.coding[c.n++] = static_cast<uint32_t>(a1);
    c.a0 = static_cast<uint32_t>(a1);
    step = Step::kOtherColour;
  } else if (mode.mode == Mode::kPass) {
    reader.drop(mode.length);
    const uint32_t b2 = ref[i + 1];
    if (colour == inkColour) ClearRange(c.row, c.a0, b2);
    c.a0 = b2;
  } else if (mode.mode == Mode::kHorizontal) {
    reader.drop(mode.length);
    uint32_t first = 0;
    uint32_t second = 0;
    if (!ReadRunPair<colour>(reader, first, second)) return Step::kBad;
    const uint64_t a1 = static_cast<uint64_t>(c.a0) + first;
    const uint64_t a2 = a1 + second;
    if (a2 > c.width || c.n + 2 > c.limit) return Step::kBad;
    if (colour == inkColour) {
      ClearRange(c.row, c.a0, static_cast<uint32_t>(a1));
    } else {
      ClearRange(c.row, static_cast<uint32_t>(a1), static_cast<uint32_t>(a2));
    }
    c.coding[c.n++] = static_cast<uint32_t>(a1);
    c.coding[c.n++] = static_cast<uint32_t>(a2);
    c.a0 = static_cast<uint32_t>(a2);
  } else {
    return Step::kBad;
  }
  if (c.a0 >= c.width) return Step::kRowEnd;  // positions never pass the width: a0 == width
  c.next = c.a0 + 1;
  return step;
}

// Decodes one row; true when its codes end exactly at the width. The colour
// of a0 is where the loop stands, so each mode code is decoded with it known.
template <uint32_t inkColour>
bool DecodeRowCodes(BitReader& reader, RowLists& lists, uint8_t* row, uint32_t width) {
  RowCursor c{lists.reference, lists.coding, row, width, lists.codingLimit, 0, 0, 0, 0};
  Step step = Step::kSameColour;
  for (;;) {
    do {
      step = DecodeMode<0, inkColour>(reader, c);
    } while (step == Step::kSameColour);
    if (step != Step::kOtherColour) break;
    do {
      step = DecodeMode<1, inkColour>(reader, c);
    } while (step == Step::kSameColour);
    if (step != Step::kOtherColour) break;
  }
  lists.codingCount = c.n;
  return step == Step::kRowEnd;
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
