// Lookup tables built from the T.4 / T.6 code tables, one lookup per code.
#pragma once

#include <array>
#include <cstdint>

#include "plugin/t4_codes.h"

namespace ccitt::detail {

enum class RunKind : uint8_t {
  kInvalid = 0,  // no code begins with these bits
  kTerminating,  // run 0 ... 63: ends the run
  kMakeUp,       // run 64 ... 2560: more codes follow
  kEndOfLine,    // 000000000001
};

struct RunEntry {
  uint16_t run;     // run length of the code
  uint8_t length;   // code length in bits (0 for kInvalid)
  RunKind kind;
};
static_assert(sizeof(RunEntry) == 4);

inline constexpr int kWhiteLookupBits = 12;
inline constexpr int kBlackLookupBits = 13;
inline constexpr int kModeLookupBits = 7;

enum class Mode : uint8_t {
  kInvalid = 0,  // 0000000: EOFB, end of data or garbage
  kPass,
  kHorizontal,
  kVertical,     // offset in ModeEntry::offset
  kExtension,    // 0000001: T.6 extension codes, not decoded
};

struct ModeEntry {
  Mode mode;
  uint8_t length;
  int8_t offset;  // vertical modes: a1 = b1 + offset
  uint8_t unused;
};

namespace build {

template <size_t N>
constexpr void PlaceRun(std::array<RunEntry, N>& table, int lookupBits, t4::Code code,
                        uint16_t run, RunKind kind) {
  const int spare = lookupBits - code.length;
  const uint32_t first = static_cast<uint32_t>(code.bits) << spare;
  for (uint32_t i = 0; i < (1u << spare); ++i) table[first + i] = RunEntry{run, code.length, kind};
}

template <size_t N>
constexpr std::array<RunEntry, N> RunTable(int lookupBits, const t4::Code (&terminating)[64],
                                           const t4::Code (&makeUp)[t4::kMakeUpCount]) {
  std::array<RunEntry, N> table{};
  for (int n = 0; n < t4::kTerminatingCount; ++n)
    PlaceRun(table, lookupBits, terminating[n], static_cast<uint16_t>(n), RunKind::kTerminating);
  for (int k = 0; k < t4::kMakeUpCount; ++k)
    PlaceRun(table, lookupBits, makeUp[k], static_cast<uint16_t>((k + 1) * t4::kMakeUpStep),
             RunKind::kMakeUp);
  for (int k = 0; k < t4::kExtendedMakeUpCount; ++k)
    PlaceRun(table, lookupBits, t4::kExtendedMakeUp[k],
             static_cast<uint16_t>(1792 + k * t4::kMakeUpStep), RunKind::kMakeUp);
  PlaceRun(table, lookupBits, t4::kEndOfLine, 0, RunKind::kEndOfLine);
  return table;
}

constexpr void PlaceMode(std::array<ModeEntry, 128>& table, t4::Code code, Mode mode,
                         int8_t offset) {
  const int spare = kModeLookupBits - code.length;
  const uint32_t first = static_cast<uint32_t>(code.bits) << spare;
  for (uint32_t i = 0; i < (1u << spare); ++i) table[first + i] = ModeEntry{mode, code.length, offset, 0};
}

constexpr std::array<ModeEntry, 128> ModeTable() {
  std::array<ModeEntry, 128> table{};
  PlaceMode(table, t4::kPass, Mode::kPass, 0);
  PlaceMode(table, t4::kHorizontal, Mode::kHorizontal, 0);
  for (int d = -t4::kMaxVerticalOffset; d <= t4::kMaxVerticalOffset; ++d)
    PlaceMode(table, t4::kVertical[d + t4::kMaxVerticalOffset], Mode::kVertical,
              static_cast<int8_t>(d));
  PlaceMode(table, t4::kExtension, Mode::kExtension, 0);
  return table;
}

}  // namespace build

// Indexed by the next 12 (white) or 13 (black) bits of the stream.
inline constexpr auto kWhiteRuns =
    build::RunTable<1u << kWhiteLookupBits>(kWhiteLookupBits, t4::kWhiteTerminating, t4::kWhiteMakeUp);
inline constexpr auto kBlackRuns =
    build::RunTable<1u << kBlackLookupBits>(kBlackLookupBits, t4::kBlackTerminating, t4::kBlackMakeUp);
// Indexed by the next 7 bits.
inline constexpr auto kModes = build::ModeTable();

}  // namespace ccitt::detail
