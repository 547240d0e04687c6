// Ticks and sleeping, formatted text, character case.
#pragma once

#include "winport/types.h"

// Milliseconds from a monotonic clock, wrapping at 2^32.
WINPORT_API DWORD GetTickCount();
// Test hook: while frozen, GetTickCount answers `value`, moved on only by
// winport_test_advance_tick. The variable WINPORT_TICK_START freezes it from
// the start of a process, and WINPORT_TICK_STEP (only together with it) adds
// that many ms after each reading. winport_test_freeze_tick and
// winport_test_thaw_tick end the stepping.
WINPORT_API void winport_test_freeze_tick(DWORD value);
WINPORT_API void winport_test_advance_tick(DWORD milliseconds);
WINPORT_API void winport_test_thaw_tick();
// Suspends the calling thread for at least `milliseconds` (0: gives up the
// rest of its time slice). While the tick count is frozen it returns at once:
// the test that froze the clock is the only one that moves time on.
WINPORT_API void Sleep(DWORD milliseconds);

// wsprintfA: %[-][0][#][width][.precision][l|h](d|i|u|x|X|c|s|%); integers are
// 32-bit whatever the l prefix (h: 16-bit); '#' prefixes 0x to hex; a null %s
// prints "(null)"; an unknown conversion prints its character. At most 1024
// characters including the NUL are written. Returns the characters written
// without the NUL.
WINPORT_API int wsprintfA(char* buffer, const char* format, ...);
// In place, ASCII only; a value below 0x10000 is a single character converted and returned.
WINPORT_API char* CharUpperA(char* text);
