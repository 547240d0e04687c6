// What the file calls share between their source files.
#pragma once

#include "winport/types.h"

namespace winport {

// CreateFileA without the ignored arguments (share mode, security, template).
HANDLE createFile(const char* name, DWORD access, DWORD disposition, DWORD flags);

}  // namespace winport
