// Process attach and detach of the library: finding the scanner's registry
// key, binding the driver and the music library, and the export table.
#include "binding.h"

#include <cstring>
#include <strings.h>

#include "driver_call.h"
#include "enhancement.h"
#include "ferrox_state.h"
#include "lock.h"
#include "music.h"
#include "shared_section.h"
#include "tone_maps.h"
#include "winport/module.h"
#include "winport/registry.h"

namespace ferrox {

namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

// The folder of the loaded library in its short form with its trailing
// separator, or "" when it cannot be found.
void ComputeModuleDirectory(HMODULE self, char* directory) {
  char longPath[kPathBufferSize] = {};
  directory[0] = '\0';
  DWORD length = GetModuleFileNameA(self, longPath, sizeof(longPath));
  if (length == 0 || length >= sizeof(longPath)) return;
  char canonical[kPathBufferSize] = {};
  length = GetShortPathNameA(longPath, canonical, sizeof(canonical));
  if (length == 0 || length >= sizeof(canonical)) return;
  char* lastSlash = LastPathSeparator(canonical);
  if (lastSlash == nullptr) return;
  lastSlash[1] = '\0';
  std::memcpy(directory, canonical, std::strlen(canonical) + 1);
}

// Walks the subkeys of one parent from the highest index down; returns the
// first whose "System Directory" equals `directory` (case ignored), left open.
HKEY SearchParent(const char* parentName, const char* directory) {
  HKEY parent = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentName, 0, KEY_READ, &parent) != ERROR_SUCCESS) return 0;
  DWORD subKeys = 0;
  DWORD longestName = 0;
  HKEY match = 0;
  if (RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &subKeys, &longestName, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      longestName < kPathBufferSize) {
    for (DWORD index = subKeys; index-- > 0 && match == 0;) {
      char name[kPathBufferSize] = {};
      DWORD nameLength = sizeof(name);
      if (RegEnumKeyExA(parent, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        continue;
      HKEY candidate = 0;
      if (RegOpenKeyExA(parent, name, 0, kReadWrite, &candidate) != ERROR_SUCCESS) continue;
      char systemDirectory[kPathBufferSize];
      if (ReadRegistryString(candidate, "System Directory", systemDirectory, sizeof(systemDirectory)) &&
          directory[0] != '\0' && strcasecmp(systemDirectory, directory) == 0) {
        match = candidate;
      } else {
        RegCloseKey(candidate);
      }
    }
  }
  RegCloseKey(parent);
  return match;
}

HKEY FindScannerKey(const char* directory) {
  for (const char* parentName : kScannerParentKeys) {
    if (HKEY key = SearchParent(parentName, directory)) return key;
  }
  return 0;
}

// Loads the driver library; binds ScannerDriverEntry when it has one.
// Returns whether the library itself loaded (music is bound either way then).
bool BindDriver(const char* driverPath) {
  ProcessState& process = Process();
  if (driverPath[0] == '\0') return false;
  HMODULE module = LoadLibraryA(driverPath);
  if (module == 0) return false;
  auto entry = reinterpret_cast<ScannerDriverEntryFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, kScannerDriverEntryName)));
  if (entry == nullptr) {
    FreeLibrary(module);
    return true;
  }
  process.driverModule = module;
  process.driverEntry = entry;
  return true;
}

void Attach(HINSTANCE instance) {
  ProcessState& process = Process();
  process.self = instance;
  SharedState& shared = Shared();
  char* directory = process.moduleDirectory;
  ComputeModuleDirectory(instance, directory);
  HKEY scannerKey = FindScannerKey(directory);
  if (scannerKey == 0) return;
  char driverPath[kPathBufferSize];
  ReadRegistryString(scannerKey, "Driver Pathname", driverPath, sizeof(driverPath));
  char productName[sizeof(shared.product.productName)] = {};  // all zeros when missing
  ReadRegistryString(scannerKey, "Product Name", productName, sizeof(productName));
  std::memcpy(shared.product.productName, productName, sizeof(productName));
  shared.product.found = 1;
  shared.product.productWord = 1;
  if (BindDriver(driverPath)) BindMusic(scannerKey);
  RegCloseKey(scannerKey);
}

// `processEnding`: the process is exiting rather than unloading the library.
// The lock it holds is given back all the same (the shared section outlives
// it when others have the library loaded), but no library is freed: the
// system unloads everything itself then.
void Detach(bool processEnding) {
  ProcessState& process = Process();
  ReleaseOwnLock();
  EndEnhancement();
  if (processEnding) return;
  UnbindMusic();
  FreeToneMaps();
  if (process.driverModule != 0) FreeLibrary(process.driverModule);
  SharedState* shared = process.shared;
  process = ProcessState{};
  process.shared = shared;
}

BOOL FerroxDllMain(HINSTANCE instance, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    Process() = ProcessState{};
    if (!MapSharedState()) return FALSE;
    Attach(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    if (Process().shared == nullptr) return TRUE;
    Detach(reserved != nullptr);
    UnmapSharedState();
  }
  return TRUE;
}

constexpr WinportExport kExports[] = {
    {"ScannerCommander", 1},
};

}  // namespace

bool ReadRegistryString(HKEY key, const char* name, char* buffer, size_t size) {
  buffer[0] = '\0';
  DWORD stored = static_cast<DWORD>(size);
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &stored) !=
          ERROR_SUCCESS ||
      stored >= size) {
    std::memset(buffer, 0, size);  // nothing of a refused value stays behind
    return false;
  }
  buffer[stored] = '\0';  // a value stored without its terminator still ends here
  return true;
}

bool ReadRegistryDword(HKEY key, const char* name, DWORD* value) {
  BYTE bytes[sizeof(DWORD)] = {};
  DWORD stored = sizeof(bytes);
  if (RegQueryValueExA(key, name, nullptr, nullptr, bytes, &stored) != ERROR_SUCCESS) return false;
  std::memcpy(value, bytes, sizeof(bytes));
  return true;
}

}  // namespace ferrox

WINPORT_MODULE(ferrox::kExports, 1, nullptr, 0, ferrox::FerroxDllMain)
