// Basic Windows-shaped types of the platform layer.
//
// Handles are 32-bit values from process-wide tables of the platform layer,
// never raw pointers: a zero, freed or foreign handle is detected and fails.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(WINPORT_BUILDING)
#define WINPORT_API extern "C" __attribute__((visibility("default")))
#else
#define WINPORT_API extern "C"
#endif

// Calling conventions: this platform has one. On 32-bit Windows WINAPI (the
// plug-ins' exports) and CALLBACK (functions a host hands them) are __stdcall.
#define WINAPI
#define CALLBACK

// Marks an export of a module built on the platform layer (plug-ins, ferrox, ...).
#define WINPORT_EXPORT extern "C" __attribute__((visibility("default")))
// Mark the C++ interface of a shared library, as the library builds it and as
// its users see it.
#define WINPORT_LIBRARY_EXPORT __attribute__((visibility("default")))
#define WINPORT_LIBRARY_IMPORT __attribute__((visibility("default")))

using BOOL = int32_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using REGSAM = uint32_t;

using HANDLE = uint32_t;     // file handles (CreateFileA, OpenFile)
using HGLOBAL = uint32_t;    // movable global memory
using HMODULE = uint32_t;    // loaded modules
using HINSTANCE = uint32_t;  // same table as HMODULE
using HKEY = uint32_t;       // registry keys
using HWND = uint32_t;       // windows and dialogs
using HFILE = int32_t;       // OpenFile result

using FARPROC = void (*)();

// A time in 100 ns units, split in two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

inline constexpr HANDLE INVALID_HANDLE_VALUE = 0xFFFFFFFFu;
inline constexpr HFILE HFILE_ERROR = -1;
inline constexpr DWORD MAX_PATH = 260;

// Error codes reported by GetLastError and returned by the registry calls.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_HANDLE_EOF = 38;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_NO_DATA = 232;  // the pipe is being closed: nobody reads it
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_NOT_LOCKED = 158;
inline constexpr DWORD ERROR_BAD_FORMAT = 11;
inline constexpr DWORD ERROR_DLL_INIT_FAILED = 1114;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr DWORD ERROR_BADDB = 1009;

WINPORT_API DWORD GetLastError();
WINPORT_API void SetLastError(DWORD code);

// Resource and ordinal names: values below 0x10000 passed where a text is expected.
#define MAKEINTRESOURCEA(i) (reinterpret_cast<const char*>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<uintptr_t>(p) >> 16) == 0)
