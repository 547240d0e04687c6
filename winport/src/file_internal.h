// What the file calls share between their source files.
#pragma once

#include "winport/types.h"

namespace winport {

// CreateFileA without the ignored arguments (share mode, security, template).
HANDLE createFile(const char* name, DWORD access, DWORD disposition, DWORD flags);
// The handle of standard stream `fd` (0, 1 or 2), made on first use; closing
// it leaves the stream open, and the next call makes a new handle.
HANDLE standardHandle(int fd);
// True when `handle` is a file handle on a terminal.
bool isTerminal(HANDLE handle);

}  // namespace winport
