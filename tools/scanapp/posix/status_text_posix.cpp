// Why no driver is bound, on the platform layer: a library it refused to load,
// or the registry file it reads.
#include <sys/stat.h>

#include "status_text.h"
#include "winport/module.h"
#include "winport/registry.h"

namespace scanapp {

namespace {

// The registry file the platform layer reads (it tells which).
std::string RegistryFileInUse() {
  char path[4096];
  const DWORD length = winport_registry_file(path, sizeof path);
  return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

}  // namespace

std::string NoDriverText(const ScanFailure& failure, const std::string& libraryFolder, std::string text) {
  // A library the platform refused to load (the driver, as a rule) is the
  // reason, whatever the registry says.
  char refused[1024] = {};
  const DWORD length = winport_last_module_refusal(refused, sizeof refused);
  if (length > 0 && length < sizeof refused)
    return failure.doing + ": the scanner driver is not usable: the library " + refused +
           " (a library is loaded only when it belongs to root or to the user running this "
           "program, only its owner can write it, and no folder above it is writable by "
           "other users without the sticky bit) (status " + std::to_string(failure.status) + ")";
  const std::string registry = RegistryFileInUse();
  struct stat info;
  const bool exists = stat(registry.c_str(), &info) == 0;
  text += " (registry file " + registry + (exists ? "" : ", which does not exist") +
          ": it needs a scanner key under HKEY_LOCAL_MACHINE\\Software\\Duzizaziz\\Ridezodu\\"
          "Scanners or HKEY_LOCAL_MACHINE\\Software\\Scanner Information whose \"System "
          "Directory\" is \"" +
          libraryFolder + "/\" and whose \"Driver Pathname\" names a driver that loads)";
  return text + " (status " + std::to_string(failure.status) + ")";
}

}  // namespace scanapp
