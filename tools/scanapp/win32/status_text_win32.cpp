// Why no driver is bound, on Windows: what the scanner key in the system's
// registry must say.
#include "status_text.h"
#include "winport/windows.h"

namespace scanapp {

std::string NoDriverText(const ScanFailure& failure, const std::string& libraryFolder, std::string text) {
  char shortFolder[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(libraryFolder.c_str(), shortFolder, sizeof shortFolder);
  const std::string folder = length > 0 && length < sizeof shortFolder ? shortFolder : libraryFolder;
  text += " (the registry needs a scanner key under HKEY_LOCAL_MACHINE\\Software\\Duzizaziz\\"
          "Ridezodu\\Scanners or HKEY_LOCAL_MACHINE\\Software\\Scanner Information whose \"System "
          "Directory\" is \"" +
          folder + "\\\" and whose \"Driver Pathname\" names a driver that loads)";
  return text + " (status " + std::to_string(failure.status) + ")";
}

}  // namespace scanapp
