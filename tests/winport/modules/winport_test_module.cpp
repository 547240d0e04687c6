// A module with an export table, string and bitmap resources, and a DllMain
// that logs its calls and may load a second module while it attaches.
#include <cstdlib>

#include "test_events.h"
#include "winport/windows.h"

namespace {

int attachCount = 0;
HINSTANCE attachInstance = 0;
HMODULE nestedModule = 0;

// Exactly 300 characters, longer than the usual 256-byte string buffers.
#define TEN "0123456789"
#define HUNDRED TEN TEN TEN TEN TEN TEN TEN TEN TEN TEN
constexpr char kLongText[] = HUNDRED HUNDRED HUNDRED;
constexpr char kTitle[] = "Test Module";
constexpr char kFilter[] = "Test Images~*.tst~";
constexpr unsigned char kBitmap[] = {'B', 'M', 1, 2, 3, 4};

BOOL moduleMain(HINSTANCE instance, DWORD reason, void* /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++attachCount;
    attachInstance = instance;
    recordEvent("M+");
    // Loading another module from DllMain, as the scanner library binds its driver.
    if (const char* nested = std::getenv("WINPORT_TEST_NESTED")) {
      nestedModule = LoadLibraryA(nested);
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    if (nestedModule != 0) FreeLibrary(nestedModule);
    recordEvent("M-");
  }
  return TRUE;
}

}  // namespace

WINPORT_EXPORT int TestAdd(int a, int b) { return a + b; }

WINPORT_EXPORT int TestMultiply(int a, int b) { return a * b; }

WINPORT_EXPORT int TestAttachCount() { return attachCount; }

WINPORT_EXPORT HINSTANCE TestAttachInstance() { return attachInstance; }

WINPORT_EXPORT HMODULE TestNestedModule() { return nestedModule; }

// Visible to the dynamic linker but missing from the export table.
WINPORT_EXPORT int TestUnlisted() { return 7; }

namespace {

const WinportExport kExports[] = {
    {"TestAdd", 1},          {"TestMultiply", 2}, {"TestAttachCount", 3}, {"TestAttachInstance", 4},
    {"TestNestedModule", 5},
};

const WinportResource kResources[] = {
    {RT_STRING, 1, kTitle, sizeof kTitle - 1},
    {RT_STRING, 2, kLongText, sizeof kLongText - 1},
    {RT_STRING, 1000, kFilter, sizeof kFilter - 1},
    {RT_BITMAP, 7, kBitmap, sizeof kBitmap},
};

}  // namespace

WINPORT_MODULE(kExports, sizeof kExports / sizeof kExports[0], kResources,
               sizeof kResources / sizeof kResources[0], moduleMain)
