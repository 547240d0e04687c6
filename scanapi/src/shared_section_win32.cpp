// The shared section on Windows: a data section of the DLL image marked
// shared, so that the system maps one copy of it into every process that
// loads this file. It holds the initial values until the first process uses
// it, and the system drops it with its last user.
#include <cstring>

#include "shared_section.h"

namespace ferrox {

namespace {

// The section attribute with `shared` needs an initialised definition.
__attribute__((section(".shared"), shared)) constinit SharedState g_shared = InitialSharedState();

}  // namespace

SharedState* MapSharedSection() { return &g_shared; }

void UnmapSharedSection(SharedState*) {}

// Windows takes both separators; the system's own paths use backslashes.
char* LastPathSeparator(char* path) {
  char* backslash = std::strrchr(path, '\\');
  char* slash = std::strrchr(path, '/');
  return backslash > slash ? backslash : slash;
}

}  // namespace ferrox
