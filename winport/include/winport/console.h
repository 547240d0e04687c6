// The console: the standard streams as handles, and the routines that take
// Ctrl-C and its kin.
//
// Ctrl events come from signals: SIGINT is CTRL_C_EVENT; SIGTERM and SIGHUP
// are CTRL_BREAK_EVENT (a request to stop that the program may still answer
// by cleaning up, as it answers Ctrl-C). Once a routine is registered, the
// layer catches all three for the rest of the process, without restarting
// the system calls they interrupt, and runs the routines on a thread of its
// own, as the system does: the last one registered first, until one answers
// TRUE. When none does, the process ends by the signal itself. Events are
// handed to the routines one at a time, in the order they came.
#pragma once

#include "winport/types.h"

inline constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

inline constexpr DWORD CTRL_C_EVENT = 0;
inline constexpr DWORD CTRL_BREAK_EVENT = 1;
inline constexpr DWORD CTRL_CLOSE_EVENT = 2;
inline constexpr DWORD CTRL_LOGOFF_EVENT = 5;
inline constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;

using PHANDLER_ROUTINE = BOOL(WINAPI*)(DWORD ctrlType);

// A file handle on standard input, output or error (STD_*_HANDLE);
// INVALID_HANDLE_VALUE for any other value. Closing it leaves the stream open.
WINPORT_API HANDLE GetStdHandle(DWORD which);
// TRUE (mode 0) when `handle` is a terminal, the layer's console; FALSE with
// ERROR_INVALID_HANDLE otherwise.
WINPORT_API BOOL GetConsoleMode(HANDLE handle, DWORD* mode);
// Adds (`add`) or removes `routine`. A null routine with `add` makes the
// process ignore CTRL_C_EVENT, without `add` take it again. Removing a
// routine that is not registered fails with ERROR_INVALID_PARAMETER.
WINPORT_API BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);
