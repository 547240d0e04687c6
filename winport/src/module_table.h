// What the module service tells the resource service.
#pragma once

#include "winport/module.h"

namespace winport {

// The descriptor of `module` (0: the running program) through `info`, nullptr
// for a module without one. False, with ERROR_INVALID_HANDLE, when `module`
// names no loaded module (or, for 0, the program has no entry).
bool moduleDescriptor(HMODULE module, const WinportModuleInfo** info);

}  // namespace winport
