// The setup launcher: when the scanner's driver is not installed, waits for
// the setup medium and starts the setup program named in the registry.
#pragma once

#include "winport/windows.h"

namespace mendle {

// String table ids.
inline constexpr UINT kDefaultCaptionId = 1;
inline constexpr UINT kDefaultPromptId = 2;

// The module's own instance, for its string table (set at load).
extern HINSTANCE moduleInstance;

// Runs the launcher on `commandLine` ("product,driver"), which it splits in
// place. Every outcome is silent except a bad command line and the prompt.
void runLauncher(char* commandLine);

}  // namespace mendle
