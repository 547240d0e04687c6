// The virtual scanner's export, ScannerDriverEntry, and its module descriptor.
#include <new>
#include <string>

#include "device.h"
#include "ferrox/driver.h"
#include "virtscan/virtscan.h"
#include "winport/module.h"

namespace virtscan {

namespace {

VirtualDevice* g_device = nullptr;

std::string ownModulePath(HINSTANCE instance) {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(instance, path, sizeof path);
  return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

BOOL DriverMain(HINSTANCE instance, DWORD reason, void*) {
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      g_device = new VirtualDevice;
      g_device->configure(ownModulePath(instance));
    } else if (reason == DLL_PROCESS_DETACH) {
      delete g_device;
      g_device = nullptr;
    }
  } catch (...) {
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
  }
  return TRUE;
}

constexpr WinportExport kExports[] = {
    {"ScannerDriverEntry", 1},
};

}  // namespace

}  // namespace virtscan

WINPORT_EXPORT int16_t WINAPI ScannerDriverEntry(DriverRequest* request) {
  if (request == nullptr || virtscan::g_device == nullptr) return virtscan::kStatusBadRequest;
  // No exception leaves the export: reading the configuration, counting the
  // call and writing the trace allocate too.
  try {
    return virtscan::g_device->handle(*request);
  } catch (const std::bad_alloc&) {
    return virtscan::kStatusNoMemory;
  } catch (...) {
    return virtscan::kStatusBadRequest;
  }
}

WINPORT_MODULE(virtscan::kExports, 1, nullptr, 0, virtscan::DriverMain)
