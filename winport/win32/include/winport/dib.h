// Device-independent bitmap records: the system's own on Windows.
#pragma once

#include "winport/types.h"
