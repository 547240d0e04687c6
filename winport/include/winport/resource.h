// Resources of a module: string tables and raw resources by type and id.
#pragma once

#include "winport/module.h"

// Copies string `id` of `module` (0: the running program) into `buffer`:
// at most size − 1 characters, always NUL-terminated when size > 0. Returns the
// number of characters copied without the NUL; 0 (buffer[0] = 0) when the
// string does not exist; 0 when buffer is null or size is not positive.
WINPORT_API int LoadStringA(HINSTANCE module, UINT id, char* buffer, int size);

// The resource of `type` and `id`, or nullptr (ERROR_RESOURCE_NAME_NOT_FOUND).
WINPORT_API const WinportResource* winport_find_resource(HMODULE module, WORD type, WORD id);
