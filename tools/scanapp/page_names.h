// File names of a batch: the host library's page-number patterns.
#pragma once

#include "host/page_names.h"

namespace scanapp {

using imagehost::CheckPageNameTemplate;
using imagehost::HasPageNumber;
using imagehost::PageName;

}  // namespace scanapp
