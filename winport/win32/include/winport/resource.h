// String resources: LoadStringA reads the module's real string table.
#pragma once

#include "winport/module.h"
