// A module whose DllMain refuses the attach unless WINPORT_TEST_ACCEPT is set.
#include <cstdlib>

#include "test_events.h"
#include "winport/windows.h"

namespace {

BOOL moduleMain(HINSTANCE /*instance*/, DWORD reason, void* /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    recordEvent("R+");
    return std::getenv("WINPORT_TEST_ACCEPT") != nullptr ? TRUE : FALSE;
  }
  if (reason == DLL_PROCESS_DETACH) recordEvent("R-");
  return TRUE;
}

}  // namespace

WINPORT_EXPORT int TestRefusingAnswer() { return 42; }

WINPORT_MODULE(nullptr, 0, nullptr, 0, moduleMain)
