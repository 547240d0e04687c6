// Reading one run (make-up codes summed up to a terminating code).
#pragma once

#include "bit_reader.h"
#include "ccitt_tables.h"

namespace ccitt::detail {

enum class Colour : uint32_t { kWhite = 0, kBlack = 1 };

// What stopped a run before its terminating code.
enum class RunEnd : uint32_t {
  kComplete,    // `run` holds the run length
  kZeroBits,    // eight 0 bits where a code should start (T.4 row end)
  kBadCode,     // an EOL or a pattern no code begins with
};

// True when no run code begins with eight 0 bits: every table entry whose
// index starts so is an EOL or invalid.
template <size_t N>
constexpr bool NoRunCodeStartsWithZeroByte(const std::array<RunEntry, N>& table, int lookupBits) {
  for (uint32_t i = 0; i < (1u << (lookupBits - 8)); ++i) {
    if (table[i].kind == RunKind::kTerminating || table[i].kind == RunKind::kMakeUp) return false;
  }
  return true;
}
static_assert(NoRunCodeStartsWithZeroByte(kWhiteRuns, kWhiteLookupBits) &&
              NoRunCodeStartsWithZeroByte(kBlackRuns, kBlackLookupBits));

// Reads the make-up and terminating codes of one run of `colour`. With
// `stopAtZeroBits` (T.4 rows) eight 0 bits at a code start end the run and
// leave the bits in place; otherwise they are an EOL or invalid: kBadCode.
// Every code read consumes at least two bits, so the loop ends with the data.
// No run code begins with eight 0 bits, so they need checking only when the
// lookup finds no run code.
template <Colour colour, bool stopAtZeroBits>
[[gnu::always_inline]] inline RunEnd ReadRun(BitReader& reader, uint32_t& run) {
  constexpr uint32_t lookupBits = colour == Colour::kWhite ? kWhiteLookupBits : kBlackLookupBits;
  const RunEntry* table = colour == Colour::kWhite ? kWhiteRuns.data() : kBlackRuns.data();
  run = 0;
  for (;;) {
    reader.ensure(lookupBits);
    const RunEntry entry = table[reader.peek(lookupBits)];
    if (entry.kind == RunKind::kTerminating) {
      reader.drop(entry.length);
      run = std::min(run + entry.run, kRunCeiling);
      return RunEnd::kComplete;
    }
    if (entry.kind != RunKind::kMakeUp) {
      return stopAtZeroBits && reader.peek(8) == 0 ? RunEnd::kZeroBits : RunEnd::kBadCode;
    }
    reader.drop(entry.length);
    run = std::min(run + entry.run, kRunCeiling);
  }
}

}  // namespace ccitt::detail
