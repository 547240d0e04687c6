// Process identity and ending: this process's id, ending it at once, and a query handle on any process
// that tells whether it still runs and when it was created.
//
// A handle remembers the process it was opened on (its id with its start
// time), so a process that ended and whose id was reused by a newer one is
// reported as ended, never mistaken for the newcomer. A zombie counts as
// ended. Handles are closed with CloseHandle.
#pragma once

#include "winport/types.h"

inline constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
inline constexpr DWORD STILL_ACTIVE = 259;

WINPORT_API DWORD GetCurrentProcessId();
// Ends the process at once with `exitCode` (its low 8 bits, as the system
// keeps them): no destructors of static objects and no exit handlers run.
WINPORT_API __attribute__((noreturn)) void ExitProcess(UINT exitCode);
// A handle on process `processId` (any access asked for grants the queries
// below), or 0: ERROR_INVALID_PARAMETER when no such process exists,
// ERROR_ACCESS_DENIED when it exists but may not be examined.
WINPORT_API HANDLE OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId);
// STILL_ACTIVE while the process runs; once it has ended, 0 (its real exit
// code is known only to its parent).
WINPORT_API BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);
// `creation` receives the process's start in 100 ns units counted from the
// system's boot (not from 1601, so that it never moves when the wall clock is
// set): equal for the same process whenever it is asked, and ordered between
// processes of one boot. The other three receive 0. Any pointer may be null.
WINPORT_API BOOL GetProcessTimes(HANDLE process, FILETIME* creation, FILETIME* exit,
                                 FILETIME* kernel, FILETIME* user);
