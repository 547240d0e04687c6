// File names of a batch: OUT with "%d" (or "%0Nd") replaced by the page number.
#pragma once

#include <cstdint>
#include <string>

#include "host/api.h"

namespace imagehost {

// "" when `pattern` holds at most one page number conversion ("%d", or "%0Nd"
// with N from 1 to 9) and otherwise only "%%"; else what is wrong with it.
HOST_API std::string CheckPageNameTemplate(const std::string& pattern);
// True when a checked `pattern` holds a page number conversion.
HOST_API bool HasPageNumber(const std::string& pattern);
// The name of page `page` (a checked pattern; "%%" becomes "%").
HOST_API std::string PageName(const std::string& pattern, uint32_t page);

}  // namespace imagehost
