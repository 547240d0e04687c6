// The data section shared by every process that loads the library, and the
// other few things that differ between the platforms. One file per platform
// implements it: shared_section_posix.cpp (a named shared-memory object of
// the platform layer) and shared_section_win32.cpp (a section of the DLL
// image that the system shares between processes).
#pragma once

#include "ferrox_state.h"

namespace ferrox {

// The shared state, set to InitialSharedState() by whichever process is its
// only user; nullptr when it cannot be had.
SharedState* MapSharedSection();
void UnmapSharedSection(SharedState* shared);

// The last path separator in `path`, or nullptr.
char* LastPathSeparator(char* path);

namespace detail {

inline constexpr uint8_t kBuiltInHalftone[4][kHalftonePatternBytes] = {
    {165, 111, 26,  16,  19,  36,  89,  145, 103, 70, 48, 29, 33, 50, 65, 95,
     41,  52,  59,  130, 121, 72,  55,  45,  10,  38, 80, 190, 167, 114, 21, 13,
     18,  34,  86,  139, 152, 107, 25,  15,  31,  49, 63, 92, 99, 67, 47, 28,
     31,  76,  57,  46,  43,  53,  61,  134, 176, 117, 23, 13, 10, 40, 83, 208},
    {12, 88,  37,  24, 10, 80,  35,  21, 29, 208, 145, 72, 27, 173, 131, 65,
     45, 100, 118, 34, 40, 94,  107, 32, 15, 31,  57,  19, 13, 30,  50,  17,
     10, 75,  35,  20, 12, 85,  36,  23, 26, 156, 124, 62, 28, 191, 137, 68,
     39, 92,  103, 32, 42, 97,  112, 33, 13, 30,  47,  16, 14, 31,  53,  18},
    {208, 98, 19,  16, 72,  90, 20,  17, 59, 36, 13, 10, 53, 33, 14, 11,
     24,  18, 142, 78, 22,  218, 118, 70, 15, 12, 48, 30, 15, 12, 24, 26,
     155, 83, 20,  17, 190, 93, 19,  16, 50, 32, 14, 11, 56, 35, 13, 10,
     21,  18, 106, 64, 23,  18, 131, 73, 15, 12, 39, 25, 15, 12, 45, 28},
    {208, 77, 45, 19, 172, 70, 40, 18, 144, 66, 35, 16, 128, 62, 32, 15,
     114, 56, 29, 13, 101, 52, 26, 12, 90,  49, 24, 11, 84,  48, 22, 10,
     155, 68, 38, 17, 104, 74, 43, 18, 121, 59, 31, 14, 136, 64, 33, 16,
     95,  51, 25, 12, 108, 53, 28, 13, 81,  47, 21, 10, 87,  49, 23, 11},
};

}  // namespace detail

// The content of the shared section before any process has used it.
constexpr SharedState InitialSharedState() {
  SharedState initial{};
  initial.lastSettingIndex = 0xFFFF;
  initial.product.found = kProductNotFound;
  initial.musicOpenRecord = MusicOpenRecord{0, 9, 1};
  for (size_t pattern = 0; pattern < 4; ++pattern)
    for (size_t i = 0; i < kHalftonePatternBytes; ++i)
      initial.halftone[pattern][i] = detail::kBuiltInHalftone[pattern][i];
  return initial;
}

}  // namespace ferrox
