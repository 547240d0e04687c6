// The host library as a module of the platform layer.
#pragma once

#include "winport/types.h"

namespace imagehost {

// The library's own module handle, as its attach routine received it: what
// writers get as ExportHostInfo.hostInstance to find OvgXOptBlkGet by name.
HMODULE HostInstance();

}  // namespace imagehost
