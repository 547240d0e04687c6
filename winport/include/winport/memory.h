// Movable global memory and local work buffers.
//
// GlobalAlloc returns a 32-bit handle from one process-wide table (the platform
// layer is one shared library per process, so a block made in one module is
// valid in every other). GlobalLock returns the block's address and counts
// locks; GlobalUnlock counts them down. A block never moves while locked.
// A zero, freed or never-issued handle makes GlobalLock return nullptr with
// ERROR_INVALID_HANDLE: the readers' "invalid image handle" result relies on it.
// Handles carry a generation, so a freed handle stays invalid after its table
// slot is reused.
#pragma once

#include "winport/types.h"

inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GMEM_DDESHARE = 0x2000;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

inline constexpr UINT LMEM_FIXED = 0x0000;
inline constexpr UINT LMEM_ZEROINIT = 0x0040;
inline constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

// Allocates a block of `bytes` (0 allowed). GMEM_ZEROINIT fills it with zeros;
// GMEM_MOVEABLE and GMEM_DDESHARE are accepted (every block is movable and
// shareable within the process). Returns 0 on failure (ERROR_NOT_ENOUGH_MEMORY).
// Blocks above 1 GiB are refused, as the 32-bit address space the components
// were written for could not hold them either.
WINPORT_API HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
// Address of the block, lock count + 1; nullptr for an invalid handle.
WINPORT_API void* GlobalLock(HGLOBAL handle);
// Lock count − 1. Returns TRUE while still locked, FALSE when the count
// reached 0 (last error ERROR_SUCCESS) or the handle is invalid (last error set).
// Unlocking a block that is not locked leaves the count at 0 (ERROR_NOT_LOCKED).
WINPORT_API BOOL GlobalUnlock(HGLOBAL handle);
// Frees the block whatever its lock count. Returns 0 on success, the handle on failure.
WINPORT_API HGLOBAL GlobalFree(HGLOBAL handle);
// Handle of the block whose address (as GlobalLock returns it) is `address`; 0 if none.
WINPORT_API HGLOBAL GlobalHandle(const void* address);
// Resizes; an unlocked block may move. A locked block is resized only in
// place: it may shrink and grow back up to its allocated size, and growing it
// beyond fails (ERROR_NOT_ENOUGH_MEMORY). GMEM_ZEROINIT zero-fills the growth.
// Returns the handle (unchanged) or 0 on failure, leaving the block intact.
WINPORT_API HGLOBAL GlobalReAlloc(HGLOBAL handle, size_t bytes, UINT flags);
// Size in bytes; 0 for an invalid handle.
WINPORT_API size_t GlobalSize(HGLOBAL handle);
// Current lock count; 0 for an invalid handle (a diagnostic, like GlobalFlags' low byte).
WINPORT_API UINT GlobalLockCount(HGLOBAL handle);

// Fixed local buffers: the result is the buffer's address itself. Only LMEM_FIXED
// (optionally with LMEM_ZEROINIT) is supported. LocalFree returns nullptr on success;
// an address LocalAlloc did not hand out (or freed already) is returned unfreed
// with ERROR_INVALID_HANDLE.
WINPORT_API void* LocalAlloc(UINT flags, size_t bytes);
WINPORT_API void* LocalFree(void* block);

// Test hooks. Fail the n-th GlobalAlloc/GlobalReAlloc/LocalAlloc from now on
// (1 = the next one), once; 0 disables. Calls refused for a bad handle or bad
// flags before allocating do not count. The variable WINPORT_FAIL_ALLOC=n does the
// same from the start of a process, so tools can be tested from the outside.
WINPORT_API void winport_test_fail_allocation(uint32_t nth);
// Number of live global blocks (leak checks in tests).
WINPORT_API uint32_t winport_test_live_global_blocks();
