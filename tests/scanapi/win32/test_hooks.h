// The platform layer's test hooks (a frozen clock, failing allocations) have
// no counterpart in the system's own API. The Windows build of the scanner
// tests is given these stand-ins, which do nothing; the tests that depend on
// the hooks are left out of its run (tests/win32/scanner.cmake).
#pragma once

#include <cstdint>

#include "winport/types.h"

extern "C" {
void winport_test_fail_allocation(uint32_t nth);
void winport_test_freeze_tick(DWORD value);
void winport_test_advance_tick(DWORD milliseconds);
void winport_test_thaw_tick();
}
