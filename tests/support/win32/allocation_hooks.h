// On Windows the test support supplies the platform layer's test hooks
// itself: every module it loads (and the test program) calls the global and
// local memory functions through counting versions, patched into the
// module's import table at load. Process-wide, as on Linux.
#pragma once

#include <cstdint>

#include "winport/windows.h"

// Fails the n-th GlobalAlloc/GlobalReAlloc/LocalAlloc from now on (1 = the
// next one), once; 0 disables.
void winport_test_fail_allocation(uint32_t nth);
// Global blocks allocated and not yet freed through the counting versions.
uint32_t winport_test_live_global_blocks();

namespace testsupport {

// Routes `module`'s imports of the memory functions through the counting
// versions (once per loaded module; the test program's own imports on first use).
void HookAllocations(HMODULE module);

// Global blocks are handed out larger than asked, rounded up past a multiple
// of this, as a real system's heap may do: in the modules under test
// GlobalSize then exceeds the request, so code that takes GlobalSize for the
// requested size shows up. The test program's own GlobalSize answers the
// requested size, which is what its checks of block sizes mean.
inline constexpr size_t kGlobalSizeGranule = 32;

}  // namespace testsupport
