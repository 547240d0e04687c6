// Attach and detach: the scanner's registry key, the driver and music
// libraries, the module directory.
#pragma once

#include <cstddef>

#include "winport/types.h"

namespace ferrox {

// Reads a string value into `buffer` (size bytes). Taken only when its stored
// size, terminator included, is smaller than the buffer; the text is always
// terminated. False when missing or too long (the whole buffer then zero).
bool ReadRegistryString(HKEY key, const char* name, char* buffer, size_t size);
// Reads a DWORD as stored (no type check); false when missing.
bool ReadRegistryDword(HKEY key, const char* name, DWORD* value);

}  // namespace ferrox
