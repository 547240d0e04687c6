// What the test support does differently on each platform (posix/ and win32/
// hold one file each).
#pragma once

#include "winport/windows.h"

namespace testsupport {

// Prepares a module the support has just loaded: on Windows its imports of the
// global and local memory functions are routed through the support's counting
// versions (see win32/allocation_hooks.h); nothing on Linux, where the
// platform layer counts by itself.
void InstrumentModule(HMODULE module);

}  // namespace testsupport
