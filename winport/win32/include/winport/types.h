// The platform layer's names on Windows: the system supplies the API itself,
// so these headers only include it and add the few names of the layer's own
// that the components use (module descriptors, export markers).
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// An export of a module: its name and ordinal come from the module-definition
// file the build generates from the module's export table.
#define WINPORT_EXPORT extern "C"
// The C++ interface of a DLL, as the DLL builds it and as its users see it.
#define WINPORT_LIBRARY_EXPORT __declspec(dllexport)
#define WINPORT_LIBRARY_IMPORT __declspec(dllimport)
