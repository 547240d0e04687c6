// Modules: shared objects loaded by file name, named by 32-bit handles.
//
// One entry per loaded object, keyed by its canonical path. A module built
// with WINPORT_MODULE creates its entry itself from its static initialiser
// (winport_module_attach, which runs its DllMain) and removes it from its
// finaliser; an object without a descriptor gets an entry from LoadLibraryA.
// LoadLibraryA and FreeLibrary count references and pair every dlopen with
// one dlclose, so the object is unloaded (and detaches) with the last free.
//
// The loader lock (recursive) is held across dlopen, dlclose and DllMain, so
// a DllMain may load or free other modules, as the scanner library does when
// it binds its driver. A module freed from another module's detach is
// unloaded (and detaches) right after that detach returns: the system loader
// defers a dlclose made from inside a finaliser. As on the platform the
// components were written for, a DllMain must not wait for another thread
// that loads modules.
#include "winport/module.h"

#include <dlfcn.h>
#include <link.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "handle_table.h"
#include "internal.h"
#include "module_table.h"
#include "module_trust.h"
#include "paths.h"

namespace {

struct ModuleEntry {
  std::string path;                   // canonical absolute path of the object
  const WinportModuleInfo* info;      // its descriptor; nullptr for a plain object
  void* library = nullptr;            // dlopen handle while LoadLibraryA references exist
  uint32_t loads = 0;                 // LoadLibraryA references not yet freed
  DWORD attachError = ERROR_SUCCESS;  // set: the attach was refused or the descriptor is bad
};

struct ModuleState {
  std::recursive_mutex loaderLock;
  winport::HandleTable<ModuleEntry> table{winport::HandleKind::kModule};
};

// Never destroyed: modules detach during process exit, after static destructors.
ModuleState& state() {
  static ModuleState* modules = new ModuleState;
  return *modules;
}

using LoaderLock = std::lock_guard<std::recursive_mutex>;

HMODULE findByPath(ModuleState& modules, const std::string& path) {
  return modules.table.findIf([&](const ModuleEntry& entry) { return entry.path == path; });
}

HMODULE findByInfo(ModuleState& modules, const WinportModuleInfo* info) {
  return modules.table.findIf([&](const ModuleEntry& entry) { return entry.info == info; });
}

// The running program's entry; created (without descriptor) when asked to.
HMODULE programHandle(ModuleState& modules, bool create) {
  std::string program = winport::programPath();
  HMODULE handle = findByPath(modules, program);
  if (handle == 0 && create && !program.empty()) {
    handle = modules.table.insert(ModuleEntry{program, nullptr});
  }
  return handle;
}

const link_map* linkMapOfAddress(const void* address) {
  Dl_info symbol{};
  link_map* map = nullptr;
  if (dladdr1(address, &symbol, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return nullptr;
  }
  return map;
}

const link_map* linkMapOfLibrary(void* library) {
  link_map* map = nullptr;
  return dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 ? map : nullptr;
}

// The canonical path LoadLibraryA is opening on this thread, if any: the
// object's own name once dlopen has mapped it, so its attach and entry need
// not resolve the path again.
thread_local const std::string* t_opening = nullptr;

// Sets t_opening for one dlopen; nested loads (from a DllMain) set their own.
class OpeningScope {
 public:
  explicit OpeningScope(const std::string& path) : previous_(t_opening) { t_opening = &path; }
  ~OpeningScope() { t_opening = previous_; }
  OpeningScope(const OpeningScope&) = delete;
  OpeningScope& operator=(const OpeningScope&) = delete;

 private:
  const std::string* previous_;
};

// Canonical path of a loaded object (the program's own map has an empty name).
std::string pathOfLinkMap(const link_map* map) {
  if (map == nullptr) return {};
  if (map->l_name == nullptr || map->l_name[0] == '\0') return winport::programPath();
  if (t_opening != nullptr && *t_opening == map->l_name) return *t_opening;
  return winport::canonicalPath(map->l_name);
}

DWORD descriptorError(const WinportModuleInfo* info) {
  if (info->abiVersion != WINPORT_MODULE_ABI) return ERROR_BAD_FORMAT;
  if (info->exportCount > 0 && info->exports == nullptr) return ERROR_BAD_FORMAT;
  if (info->resourceCount > 0 && info->resources == nullptr) return ERROR_BAD_FORMAT;
  for (DWORD i = 0; i < info->exportCount; ++i) {
    if (info->exports[i].name == nullptr) return ERROR_BAD_FORMAT;
  }
  return ERROR_SUCCESS;
}

bool callDllMain(WinportDllMain dllMain, HMODULE handle, DWORD reason) {
  try {
    return dllMain(handle, reason, nullptr) != FALSE;
  } catch (...) {
    return false;  // an exception out of DllMain counts as a refusal
  }
}

// Registers a module's descriptor and runs its attach (loader lock held).
HMODULE attachLocked(ModuleState& modules, const WinportModuleInfo* info, const std::string& path) {
  HMODULE handle = findByInfo(modules, info);
  if (handle != 0) return handle;
  handle = findByPath(modules, path);
  if (handle != 0) {
    modules.table.find(handle)->info = info;
  } else {
    handle = modules.table.insert(ModuleEntry{path, info});
    if (handle == 0) return 0;
  }
  DWORD error = descriptorError(info);
  if (error == ERROR_SUCCESS && info->dllMain != nullptr &&
      !callDllMain(info->dllMain, handle, DLL_PROCESS_ATTACH)) {
    error = ERROR_DLL_INIT_FAILED;
  }
  // DllMain may have loaded other modules: look the entry up again.
  if (ModuleEntry* entry = modules.table.find(handle)) entry->attachError = error;
  return handle;
}

// The entry of an object just opened with dlopen (loader lock held).
HMODULE entryForLibrary(ModuleState& modules, void* library) {
  const link_map* map = linkMapOfLibrary(library);
  std::string path = pathOfLinkMap(map);
  HMODULE handle = findByPath(modules, path);
  if (handle != 0) return handle;
  // Not registered by an initialiser of its own: a plain shared object, or a
  // descriptor defined without the registrar. dlsym also searches the
  // object's dependencies, so the descriptor must lie in the object itself.
  auto* info = static_cast<const WinportModuleInfo*>(dlsym(library, "winport_module_info"));
  if (info != nullptr && linkMapOfAddress(info) == map) return attachLocked(modules, info, path);
  return modules.table.insert(ModuleEntry{path, nullptr});
}

// The file a LoadLibraryA name designates, or "" (see module.h for the search).
std::string resolveModuleFile(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    return winport::findFileIgnoringCase(winport::directoryOf(name), winport::baseNameOf(name));
  }
  std::vector<std::string> folders{winport::programDirectory(), "."};
  if (const char* extra = std::getenv("WINPORT_PATH")) {
    std::string list = extra;
    for (size_t start = 0; start <= list.size();) {
      size_t colon = list.find(':', start);
      if (colon == std::string::npos) colon = list.size();
      folders.push_back(list.substr(start, colon - start));
      start = colon + 1;
    }
  }
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::string found = winport::findFileIgnoringCase(folder, name);
    if (!found.empty()) return found;
  }
  return {};
}

// The symbol a GetProcAddress argument designates: with an export table only
// names and ordinals listed in it; without one any name, but no ordinal.
const char* exportedSymbol(const WinportModuleInfo* info, const char* nameOrOrdinal) {
  bool byOrdinal = IS_INTRESOURCE(nameOrOrdinal);
  if (info == nullptr || info->exportCount == 0) return byOrdinal ? nullptr : nameOrOrdinal;
  WORD ordinal = byOrdinal ? static_cast<WORD>(reinterpret_cast<uintptr_t>(nameOrOrdinal)) : 0;
  if (byOrdinal && ordinal == 0) return nullptr;
  for (DWORD i = 0; i < info->exportCount; ++i) {
    const WinportExport& entry = info->exports[i];
    bool match = byOrdinal ? entry.ordinal == ordinal : std::strcmp(entry.name, nameOrOrdinal) == 0;
    if (match) return entry.name;
  }
  return nullptr;
}

// `symbol` defined by the module itself (not by one of its dependencies).
void* lookupOwnSymbol(const ModuleEntry& entry, const char* symbol) {
  void* library = entry.library;
  bool temporary = library == nullptr;  // attached without LoadLibraryA: borrow a reference
  if (temporary) {
    library = entry.path == winport::programPath()
                  ? dlopen(nullptr, RTLD_LAZY)
                  : dlopen(entry.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  }
  if (library == nullptr) return nullptr;
  void* address = dlsym(library, symbol);
  if (address != nullptr && linkMapOfAddress(address) != linkMapOfLibrary(library)) {
    address = nullptr;
  }
  if (temporary) dlclose(library);
  return address;
}

// The entry `module` names (0: the program), if it is usable.
ModuleEntry* usableEntry(ModuleState& modules, HMODULE module) {
  HMODULE handle = module != 0 ? module : programHandle(modules, false);
  ModuleEntry* entry = modules.table.find(handle);
  if (entry == nullptr || entry->attachError != ERROR_SUCCESS) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return entry;
}

}  // namespace

HMODULE winport_module_attach(const WinportModuleInfo* info) {
  return winport::guarded<HMODULE>(0, [&]() -> HMODULE {
    if (info == nullptr) return 0;
    std::string path = pathOfLinkMap(linkMapOfAddress(info));
    if (path.empty()) return 0;
    ModuleState& modules = state();
    LoaderLock lock(modules.loaderLock);
    return attachLocked(modules, info, path);
  });
}

void winport_module_detach(const WinportModuleInfo* info) {
  winport::guarded(0, [&] {
    ModuleState& modules = state();
    LoaderLock lock(modules.loaderLock);
    HMODULE handle = findByInfo(modules, info);
    if (handle == 0) return 0;
    bool attached = modules.table.find(handle)->attachError == ERROR_SUCCESS;
    if (attached && info->dllMain != nullptr) {
      callDllMain(info->dllMain, handle, DLL_PROCESS_DETACH);
    }
    modules.table.erase(handle);
    return 0;
  });
}

HMODULE LoadLibraryA(const char* fileName) {
  return winport::guarded<HMODULE>(0, [&]() -> HMODULE {
    if (fileName == nullptr || *fileName == '\0') {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::string file = winport::canonicalPath(resolveModuleFile(fileName));
    if (file.empty()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    if (const char* refusal = winport::libraryRefusal(file)) {
      winport::reportLibraryRefusal(file, refusal);
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    ModuleState& modules = state();
    LoaderLock lock(modules.loaderLock);
    OpeningScope opening(file);
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* reason = dlerror();
      if (std::getenv("WINPORT_DEBUG_LOADS") != nullptr && reason != nullptr) {
        std::fprintf(stderr, "winport: cannot load %s: %s\n", file.c_str(), reason);
      }
      SetLastError(ERROR_BAD_FORMAT);
      return 0;
    }
    HMODULE handle = 0;
    try {
      handle = entryForLibrary(modules, library);
    } catch (...) {
      dlclose(library);
      throw;
    }
    ModuleEntry* entry = modules.table.find(handle);
    if (entry == nullptr || entry->attachError != ERROR_SUCCESS) {
      DWORD error = entry != nullptr ? entry->attachError : ERROR_NOT_ENOUGH_MEMORY;
      dlclose(library);  // its finaliser forgets the refused entry
      SetLastError(error);
      return 0;
    }
    ++entry->loads;
    entry->library = library;
    return handle;
  });
}

BOOL FreeLibrary(HMODULE module) {
  return winport::guarded<BOOL>(FALSE, [&]() -> BOOL {
    ModuleState& modules = state();
    LoaderLock lock(modules.loaderLock);
    ModuleEntry* entry = modules.table.find(module);
    if (entry == nullptr || entry->loads == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    void* library = entry->library;
    if (--entry->loads == 0) {
      entry->library = nullptr;
      if (entry->info == nullptr) modules.table.erase(module);  // a descriptor's finaliser does it
    }
    dlclose(library);
    return TRUE;
  });
}

FARPROC GetProcAddress(HMODULE module, const char* nameOrOrdinal) {
  return winport::guarded<FARPROC>(nullptr, [&]() -> FARPROC {
    ModuleState& modules = state();
    LoaderLock lock(modules.loaderLock);
    const ModuleEntry* entry = usableEntry(modules, module);
    if (entry == nullptr) return nullptr;
    const char* symbol = exportedSymbol(entry->info, nameOrOrdinal);
    void* address = symbol != nullptr ? lookupOwnSymbol(*entry, symbol) : nullptr;
    if (address == nullptr) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
  });
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  return winport::guarded<DWORD>(0, [&]() -> DWORD {
    std::string path;
    if (module == 0) {
      path = winport::programPath();
    } else {
      ModuleState& modules = state();
      LoaderLock lock(modules.loaderLock);
      const ModuleEntry* entry = usableEntry(modules, module);
      if (entry == nullptr) return 0;
      path = entry->path;
    }
    if (buffer == nullptr || size == 0) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    if (path.size() < size) {
      std::memcpy(buffer, path.c_str(), path.size() + 1);
      return static_cast<DWORD>(path.size());
    }
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  });
}

HMODULE GetModuleHandleA(const char* fileName) {
  return winport::guarded<HMODULE>(0, [&]() -> HMODULE {
    ModuleState& modules = state();
    LoaderLock lock(modules.loaderLock);
    if (fileName == nullptr) return programHandle(modules, true);
    std::string name = fileName;
    HMODULE handle = 0;
    if (name.find('/') != std::string::npos) {
      std::string path = winport::canonicalPath(resolveModuleFile(name));
      if (!path.empty()) handle = findByPath(modules, path);
    } else {
      handle = modules.table.findIf([&](const ModuleEntry& entry) {
        return winport::equalsIgnoringCase(winport::baseNameOf(entry.path), name);
      });
    }
    const ModuleEntry* entry = modules.table.find(handle);
    if (entry == nullptr || entry->attachError != ERROR_SUCCESS) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    return handle;
  });
}

DWORD GetShortPathNameA(const char* longPath, char* shortPath, DWORD size) {
  return winport::guarded<DWORD>(0, [&]() -> DWORD {
    if (longPath == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::string canonical = winport::canonicalPath(longPath);
    if (canonical.empty()) {
      SetLastError(winport::errorFromErrno(errno));
      return 0;
    }
    return winport::copyPathResult(canonical, shortPath, size);
  });
}

const WinportModuleInfo* winport_module_info_of(HMODULE module) {
  const WinportModuleInfo* info = nullptr;
  return winport::moduleDescriptor(module, &info) ? info : nullptr;
}

namespace winport {

bool moduleDescriptor(HMODULE module, const WinportModuleInfo** info) {
  return guarded(false, [&] {
    ModuleState& modules = state();
    LoaderLock lock(modules.loaderLock);
    const ModuleEntry* entry = usableEntry(modules, module);
    if (entry == nullptr) return false;
    *info = entry->info;
    return true;
  });
}

}  // namespace winport
