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

// "<doing>: <meaning>[: <detail>] (status N)"; for SCAN_ERR_NO_DRIVER it names
// the library file the platform refused to load and why, or else the registry
// file read and what the scanner key in it must say.
std::string FailureText(const ScanFailure& failure, const std::string& libraryFolder,
                        const std::string& detail = "");
// FailureText of SCAN_ERR_NO_DRIVER, from its start `text`: what the platform
// tells of the reason (posix/status_text_posix.cpp, win32/status_text_win32.cpp).
std::string NoDriverText(const ScanFailure& failure, const std::string& libraryFolder, std::string text);

}  // namespace scanapp
