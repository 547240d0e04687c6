// The platform layer on Windows: the system's API and the module descriptor.
#pragma once

#include "winport/types.h"
#include "winport/module.h"
#include "winport/shell.h"
