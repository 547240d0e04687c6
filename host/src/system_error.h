// The texts the host shows for the system's error codes: the same words on
// every platform, whatever the system's own message catalogue says.
#pragma once

#include <string>

#include "winport/types.h"

namespace imagehost {

// A code the host uses for a folder found where a file was wanted (the
// system answers ERROR_ACCESS_DENIED there, which would mislead the user).
inline constexpr DWORD kErrorIsFolder = 0x20000001u;
// A position or size beyond what the plug-in contract's 32-bit values hold.
inline constexpr DWORD kErrorTooLarge = 0x20000002u;

// "No such file or directory", "Permission denied", ... ; "error N" for a
// code without a text of its own.
std::string ErrorText(DWORD code);

}  // namespace imagehost
