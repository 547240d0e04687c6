// Global and local memory: the system's own API on Windows, plus the lock
// count the Linux layer answers directly.
#pragma once

#include "winport/types.h"

// Current lock count; 0 for an invalid handle (as on Linux).
inline UINT GlobalLockCount(HGLOBAL handle) {
  const UINT flags = GlobalFlags(handle);
  return flags == GMEM_INVALID_HANDLE ? 0 : (flags & GMEM_LOCKCOUNT);
}
