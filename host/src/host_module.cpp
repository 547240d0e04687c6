#include "host_module.h"

#include "host/options.h"
#include "winport/module.h"

namespace imagehost {

namespace {

HMODULE g_instance = 0;

BOOL HostDllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  if (reason == DLL_PROCESS_DETACH) g_instance = 0;
  return TRUE;
}

constexpr WinportExport kExports[] = {
    {"OvgXOptBlkGet", 1},
};

}  // namespace

HMODULE HostInstance() { return g_instance; }

}  // namespace imagehost

WINPORT_MODULE(imagehost::kExports, 1, nullptr, 0, imagehost::HostDllMain)
