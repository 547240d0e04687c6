// On Linux the platform layer itself counts live global blocks and fails
// chosen allocations (winport_test_live_global_blocks,
// winport_test_fail_allocation in winport/memory.h).
#pragma once

#include "winport/memory.h"
