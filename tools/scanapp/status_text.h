// What a scanner status means, in words for the user.
#pragma once

#include <cstdint>
#include <string>

#include "scanner.h"

namespace scanapp {

// The feeder-empty status of the scanner driver: CMD_START_SCAN passes it
// through when the document feeder holds no more pages.
inline constexpr int16_t kDriverFeederEmpty = -30;

// The meaning of `status` (a ScanStatus or a driver status), without the number.
std::string StatusText(int16_t status);

// The registry file the platform layer reads: WINPORT_REGISTRY, else
// "registry.reg" beside the program, else the system-wide file.
std::string RegistryFileInUse();

// "<doing>: <meaning>[: <detail>] (status N)"; for SCAN_ERR_NO_DRIVER it names
// the library file the platform refused to load and why, or else the registry
// file read and what the scanner key in it must say.
std::string FailureText(const ScanFailure& failure, const std::string& libraryFolder,
                        const std::string& detail = "");

}  // namespace scanapp
