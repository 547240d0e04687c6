// console: the system's own API on Windows.
#pragma once

#include "winport/types.h"
