// mendle.dll's export, string table and module descriptor.
#include "launcher.h"

namespace mendle {

HINSTANCE moduleInstance = 0;

namespace {

constexpr char kDefaultCaption[] = "USB Scanner Setup";
constexpr char kDefaultPrompt[] =
    "Please insert the Norvik USB Scanner Setup / Application CD-ROM into your CD-ROM drive.";

constexpr WinportExport kExports[] = {
    {"fnRun", 1},
};

constexpr WinportResource kResources[] = {
    {RT_STRING, kDefaultCaptionId, kDefaultCaption, sizeof kDefaultCaption - 1},
    {RT_STRING, kDefaultPromptId, kDefaultPrompt, sizeof kDefaultPrompt - 1},
};

BOOL moduleMain(HINSTANCE instance, DWORD reason, void* /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) moduleInstance = instance;
  return TRUE;
}

}  // namespace

}  // namespace mendle

// Called by the platform's library-function runner (rundll32.exe on Windows,
// in its calling convention: the callee removes the arguments): only the
// command line is used; the window, instance and show state are ignored.
WINPORT_EXPORT void CALLBACK fnRun(HWND /*window*/, HINSTANCE /*instance*/, char* commandLine,
                          int /*show*/) {
  try {
    mendle::runLauncher(commandLine);
  } catch (...) {
    // Nothing may leave the export; running out of memory ends the call silently.
  }
}

WINPORT_MODULE(mendle::kExports, 1, mendle::kResources, 2, mendle::moduleMain)
