// Whether a library file may be loaded: what LoadLibraryA asks before dlopen.
#pragma once

#include <string>

namespace winport {

// Why the library at `path` (canonical: absolute, no links) may not be
// loaded, or nullptr when it may.
const char* libraryRefusal(const std::string& path);
// Writes the refusal to stderr and keeps it for winport_last_module_refusal.
void reportLibraryRefusal(const std::string& path, const char* reason);

}  // namespace winport
