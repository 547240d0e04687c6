// Visibility of the host library's C++ interface (the tool and the scanning
// application link against it; everything not marked stays hidden): exported
// by the library itself, imported by the programs built on it.
#pragma once

#include "winport/types.h"

#if defined(HOST_BUILDING)
#define HOST_API WINPORT_LIBRARY_EXPORT
#else
#define HOST_API WINPORT_LIBRARY_IMPORT
#endif
