// Exit statuses that scripts can tell apart, with the values scanimage gives
// the same conditions.
#pragma once

#include <cstdint>

namespace scanapp {

inline constexpr int kExitBusy = 3;         // another application holds the scanner
inline constexpr int kExitJammed = 6;       // the device stopped the scan
inline constexpr int kExitNoDocuments = 7;  // the feeder was empty before the first page
inline constexpr int kExitIoError = 9;      // the device or its driver failed

// The exit status for a failure with scanner status `status`: busy, stopped,
// feeder empty, I/O (the device and driver failures), else 1.
int ExitCodeFor(int16_t status);

}  // namespace scanapp
