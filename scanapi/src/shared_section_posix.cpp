// The shared section on the platform layer: a named shared-memory object
// that every process loading the library maps (see winport/shared_section.h).
#include <cstring>

#include "shared_section.h"
#include "winport/shared_section.h"

namespace ferrox {

namespace {

constexpr SharedState kInitial = InitialSharedState();

}  // namespace

SharedState* MapSharedSection() {
  void* section = winport_shared_section_map("ferrox", sizeof(SharedState), &kInitial, sizeof(kInitial));
  return static_cast<SharedState*>(section);
}

void UnmapSharedSection(SharedState* shared) { winport_shared_section_unmap(shared); }

char* LastPathSeparator(char* path) { return std::strrchr(path, '/'); }

}  // namespace ferrox
