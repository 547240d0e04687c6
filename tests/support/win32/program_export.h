// Marks a function the test program exports to the modules it loads (as the
// host library exports OvgXOptBlkGet to the writers); the program links with
// --kill-at, so that the export has its plain name.
#pragma once

#define SUITE_PROGRAM_EXPORT extern "C" __declspec(dllexport)
