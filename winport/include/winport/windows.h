// The platform layer: Windows-shaped services on Linux, one shared library per process.
#pragma once

#include "winport/types.h"
#include "winport/memory.h"
#include "winport/tls.h"
#include "winport/module.h"
#include "winport/resource.h"
#include "winport/file.h"
#include "winport/console.h"
#include "winport/registry.h"
#include "winport/shared_section.h"
#include "winport/system.h"
#include "winport/process.h"
#include "winport/dialog.h"
#include "winport/shell.h"
#include "winport/gdi.h"
