// Marks a function the test program exports to the modules it loads (as the
// host library exports OvgXOptBlkGet to the writers).
#pragma once

#define SUITE_PROGRAM_EXPORT extern "C" __attribute__((visibility("default")))
