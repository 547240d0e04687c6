// The two commands: `info` and `scan`.
#pragma once

#include <cstdio>
#include <string>

#include "arguments.h"
#include "host/interrupt.h"

namespace scanapp {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = imagehost::kExitInterrupted;  // 130

// Prints "scanapp: MESSAGE" on stderr; returns kExitFailure.
inline int Fail(const std::string& message) {
  std::fprintf(stderr, "scanapp: %s\n", message.c_str());
  return kExitFailure;
}

// Both print their own messages on stderr and return the exit status.
// `programFolder` holds the scanner library and the writer plug-ins.
int RunInfo(const std::string& programFolder);
// -A: what the device can do, in the terms of scanapp's options.
int RunCapabilities(const std::string& programFolder);
int RunScan(const Arguments& arguments, const std::string& programFolder);

}  // namespace scanapp
