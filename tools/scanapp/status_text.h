// What a scanner status means, in words for the user.
#pragma once

#include <cstdint>
#include <string>

#include "scanclient/scanner.h"
#include "scanclient/statuses.h"

namespace scanapp {

using scanclient::kDriverFeederEmpty;
using scanclient::ScanFailure;
using scanclient::Scanner;
using scanclient::StatusText;

// The registry file the platform layer reads (it tells which).
std::string RegistryFileInUse();

// "<doing>: <meaning>[: <detail>] (status N)"; for SCAN_ERR_NO_DRIVER it names
// the library file the platform refused to load and why, or else the registry
// file read and what the scanner key in it must say.
std::string FailureText(const ScanFailure& failure, const std::string& libraryFolder,
                        const std::string& detail = "");

}  // namespace scanapp
