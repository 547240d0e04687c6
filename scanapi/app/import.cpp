// libferrox: what an application links to call ScannerCommander, from C or
// C++, without loading the scanner library itself. It plays the part an
// import library plays elsewhere: the first call loads FERROX.DLL from the
// folder this library lies in (the suite folder, where the platform layer and
// the library's stand-ins lie too) and every call is passed on to it.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "ferrox/ferrox.h"
#include "winport/module.h"

namespace {

constexpr const char* kLibraryFile = "FERROX.DLL";

ScannerCommanderFn g_commander = nullptr;
std::once_flag g_loadOnce;

// The canonical folder of this library, with its trailing '/'; "" when unknown.
std::string ownFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || info.dli_fname == nullptr) return {};
  char* canonical = realpath(info.dli_fname, nullptr);
  if (canonical == nullptr) return {};
  std::string path = canonical;
  std::free(canonical);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Loads FERROX.DLL once; the module stays loaded for the life of the process.
void load() {
  const std::string folder = ownFolder();
  if (folder.empty()) {
    std::fprintf(stderr, "libferrox: cannot tell its own folder, so FERROX.DLL is not loaded\n");
    return;
  }
  const std::string path = folder + kLibraryFile;
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == 0) {
    std::fprintf(stderr, "libferrox: cannot load %s (WINPORT_DEBUG_LOADS=1 tells why)\n",
                 path.c_str());
    return;
  }
  g_commander = reinterpret_cast<ScannerCommanderFn>(GetProcAddress(module, "ScannerCommander"));
  if (g_commander == nullptr) {
    std::fprintf(stderr, "libferrox: %s does not export ScannerCommander\n", path.c_str());
  }
}

}  // namespace

WINPORT_EXPORT int32_t ScannerCommander(ScannerCommand* command) {
  std::call_once(g_loadOnce, load);
  if (command == nullptr) return SCAN_ERR_PARAM;
  if (g_commander == nullptr) {
    command->status = SCAN_ERR_RESOURCE;
    return SCAN_ERR_RESOURCE;
  }
  return g_commander(command);
}
