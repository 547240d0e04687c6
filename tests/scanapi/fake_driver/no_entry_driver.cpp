// A driver library without ScannerDriverEntry: binding must unload it again.
#include "winport/module.h"

WINPORT_EXPORT int NotTheDriverEntry() { return 0; }

namespace {
constexpr WinportExport kExports[] = {{"NotTheDriverEntry", 1}};
}  // namespace

WINPORT_MODULE(kExports, 1, nullptr, 0, nullptr)
