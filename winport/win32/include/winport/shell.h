// shell: the system's own API on Windows (ShellExecuteA).
#pragma once

#include "winport/types.h"

#include <shellapi.h>
