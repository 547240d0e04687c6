// What CloseHandle needs from the process service.
#pragma once

#include "winport/types.h"

namespace winport {

// Closes a handle from OpenProcess; false (nothing done) when `handle` is not one.
bool closeProcessHandle(HANDLE handle);

}  // namespace winport
