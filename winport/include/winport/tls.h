// Thread-local slots.
//
// TlsAlloc hands out a slot index valid in every thread of the process; a
// thread that has never set a slot reads 0, and so does every thread after a
// slot is allocated anew (a reused index never shows an old value).
#pragma once

#include "winport/types.h"

inline constexpr DWORD TLS_OUT_OF_INDEXES = 0xFFFFFFFFu;

WINPORT_API DWORD TlsAlloc();
WINPORT_API BOOL TlsSetValue(DWORD index, void* value);
// Value of the calling thread; nullptr with ERROR_SUCCESS for a slot never set.
WINPORT_API void* TlsGetValue(DWORD index);
WINPORT_API BOOL TlsFree(DWORD index);
