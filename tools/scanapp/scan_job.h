// The commands: `info`, `-A` and `scan`.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "arguments.h"
#include "ferrox/driver.h"
#include "host/interrupt.h"
#include "status_text.h"

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

// Room for the records the driver fills, which may be longer than the part we read.
inline constexpr size_t kRecordRoom = 512;

// The first steps of `info` and `-A` (info_command.cpp): the scanner library
// loaded from `programFolder`, the scanner opened and locked, and its product
// (name NUL-terminated) and device records read. Returns kExitOk, or the exit
// status after printing why on stderr.
struct DeviceQuery {
  std::unique_ptr<Scanner> scanner;
  ProductRecord product{};
  DeviceRecord device{};
};
int OpenForQuery(const std::string& programFolder, DeviceQuery& query);
// Ends the session; kExitOk once everything printed reached stdout.
int FinishQuery(DeviceQuery& query);

}  // namespace scanapp
