// Visibility of the host library's C++ interface (the tool and the scanning
// application link against it; everything not marked stays hidden).
#pragma once

#define HOST_API __attribute__((visibility("default")))
