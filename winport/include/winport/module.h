// Modules: shared objects loaded by file name, with export ordinals, string
// and other resources, and a process attach/detach routine.
//
// A module built on the platform layer defines one WinportModuleInfo with
// WINPORT_MODULE (below). Its own static initialiser registers it with the
// platform layer and runs its DllMain(DLL_PROCESS_ATTACH); its finaliser runs
// DLL_PROCESS_DETACH. When the attach routine answers FALSE, LoadLibraryA fails
// and unloads the file again.
//
// LoadLibraryA takes a path (with a '/') or a bare file name. A bare name is
// looked up in the running program's folder, then the current folder, then the
// folders of WINPORT_PATH (colon separated). File names match without regard
// to case, as on the platform the components were written for (for a path, in
// its last component). A DllMain runs under the loader lock and may itself
// load and free modules. WINPORT_DEBUG_LOADS=1 prints why a file failed to load.
//
// A library file that someone else could have changed is never loaded: one
// that users other than its owner or root can write, that belongs to a user
// other than root or the effective user, or that lies under a folder another
// user owns or that its group or others may write without the sticky bit.
// LoadLibraryA then writes "winport: library <path> refused: <reason>; it is
// not loaded" to stderr and fails with ERROR_ACCESS_DENIED.
#pragma once

#include "winport/types.h"

inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;

// Resource types.
inline constexpr WORD RT_BITMAP = 2;
inline constexpr WORD RT_DIALOG = 5;
inline constexpr WORD RT_STRING = 6;

struct WinportExport {
  const char* name;
  WORD ordinal;
};

// One resource. For RT_STRING `data` is a NUL-terminated text and `size` its length.
struct WinportResource {
  WORD type;
  WORD id;
  const void* data;
  DWORD size;
};

using WinportDllMain = BOOL (*)(HINSTANCE instance, DWORD reason, void* reserved);

struct WinportModuleInfo {
  DWORD abiVersion;  // WINPORT_MODULE_ABI
  const WinportExport* exports;
  DWORD exportCount;
  const WinportResource* resources;
  DWORD resourceCount;
  WinportDllMain dllMain;  // may be null
};

inline constexpr DWORD WINPORT_MODULE_ABI = 1;

WINPORT_API HMODULE LoadLibraryA(const char* fileName);
WINPORT_API BOOL FreeLibrary(HMODULE module);
// By name, or by ordinal with MAKEINTRESOURCEA(ordinal). A module with an export
// table answers only for the names and ordinals in it; one without answers for
// the names it defines itself (never a dependency's), and for no ordinal.
WINPORT_API FARPROC GetProcAddress(HMODULE module, const char* nameOrOrdinal);
// Full path of the module (0: the running program). Truncated to size − 1
// characters plus NUL when too long (returns size, ERROR_INSUFFICIENT_BUFFER).
WINPORT_API DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
// nullptr: the running program's module; else a loaded module by file name.
WINPORT_API HMODULE GetModuleHandleA(const char* fileName);
// The canonical absolute form of an existing path (the counterpart of the short
// 8.3 form: one spelling per file). Returns the length without NUL when it fits,
// else the size needed including the NUL; 0 when the path does not exist.
WINPORT_API DWORD GetShortPathNameA(const char* longPath, char* shortPath, DWORD size);

// "<path>: <reason>" of the latest library LoadLibraryA refused in this
// process, "" when none was. Returns the length without NUL when it fits,
// else the size needed including the NUL.
WINPORT_API DWORD winport_last_module_refusal(char* buffer, DWORD size);

// Registration, called from a module's own initialiser and finaliser (WINPORT_MODULE).
WINPORT_API HMODULE winport_module_attach(const WinportModuleInfo* info);
WINPORT_API void winport_module_detach(const WinportModuleInfo* info);
// The module descriptor of a loaded module (export table checks in tests).
WINPORT_API const WinportModuleInfo* winport_module_info_of(HMODULE module);

#ifdef __cplusplus
namespace winport_detail {
struct ModuleRegistrar {
  const WinportModuleInfo* info;
  explicit ModuleRegistrar(const WinportModuleInfo* i) : info(i) { winport_module_attach(i); }
  ~ModuleRegistrar() { winport_module_detach(info); }
  ModuleRegistrar(const ModuleRegistrar&) = delete;
  ModuleRegistrar& operator=(const ModuleRegistrar&) = delete;
};
}  // namespace winport_detail
#endif

// Names the module's version text (the one its version export returns). On
// Windows it becomes the module's VERSIONINFO resource; here the layer has no
// version resources and only checks it is a text.
#define WINPORT_MODULE_VERSION(text) static_assert(sizeof(text) > 1, "a version text")

// Defines the module's descriptor and registers it at load. Arrays may be empty
// (pass nullptr, 0). Use once per module.
#define WINPORT_MODULE(exportsPtr, exportCount, resourcesPtr, resourceCount, dllMainFn)        \
  WINPORT_EXPORT const WinportModuleInfo winport_module_info = {                               \
      WINPORT_MODULE_ABI, exportsPtr, static_cast<DWORD>(exportCount), resourcesPtr,           \
      static_cast<DWORD>(resourceCount), dllMainFn};                                           \
  namespace {                                                                                  \
  const winport_detail::ModuleRegistrar winport_module_registrar{&winport_module_info};        \
  }
