// Starting programs and opening files the way the desktop shell does.
#pragma once

#include "winport/dialog.h"  // the show states

// Failure results of ShellExecuteA (a success is any value above 32).
inline constexpr UINT SE_ERR_FNF = 2;         // the file does not exist
inline constexpr UINT SE_ERR_PNF = 3;         // its folder does not exist
inline constexpr UINT SE_ERR_ACCESSDENIED = 5;
inline constexpr UINT SE_ERR_OOM = 8;
inline constexpr UINT SE_ERR_NOASSOC = 31;    // no program opens this kind of file

// With the default verb (null, "" or "open"): an executable file is started
// with `parameters` as its arguments; any other file is handed to the
// desktop's opener (xdg-open, looked up on PATH) when there is one. The
// parameters are split at blanks, with "double quotes" grouping; nothing goes
// through a shell. The new process runs in `directory` (null: the current
// one), detached from the caller, which never has to wait for it. `owner` and
// `show` are ignored. Returns a value above 32 when the program was started
// (exec succeeded), else one of the SE_ERR_ codes.
WINPORT_API HINSTANCE ShellExecuteA(HWND owner, const char* verb, const char* file,
                                    const char* parameters, const char* directory, int show);
