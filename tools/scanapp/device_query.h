// The steps `info` and `-A` share: the scanner opened and locked, and the
// records that describe it read.
#pragma once

#include <memory>
#include <string>

#include "ferrox/driver.h"
#include "status_text.h"

namespace scanapp {

// Room for the records the driver fills, which may be longer than the part we read.
inline constexpr size_t kRecordRoom = 512;

struct DeviceQuery {
  std::unique_ptr<Scanner> scanner;
  ProductRecord product{};  // its name NUL-terminated
  DeviceRecord device{};
};

// Loads the scanner library from `programFolder`, opens and locks the scanner
// and reads its product and device records into `query`. Returns kExitOk, or
// the exit status after printing why on stderr.
int OpenForQuery(const std::string& programFolder, DeviceQuery& query);

// Ends the session; kExitOk once everything printed reached stdout.
int FinishQuery(DeviceQuery& query);

}  // namespace scanapp
