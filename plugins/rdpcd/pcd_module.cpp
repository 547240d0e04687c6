// Module attach/detach, the per-thread last-error store, the trace routine
// and the module declaration (export table and string resources).
#include <iterator>

#include "pcd_reader.h"

namespace rdpcd {

namespace {

HINSTANCE gInstance = 0;
DWORD gErrorSlot = TLS_OUT_OF_INDEXES;

constexpr WinportResource kStringResources[] = {RDPCD_STRINGS(READER_STRING_RESOURCE)};

// Attach: remember the instance, take the slot, bind the library; the load
// fails when either cannot be had. Every thread reads 0 from a fresh slot.
BOOL DllMain(HINSTANCE instance, DWORD reason, void* /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      gInstance = instance;
      gErrorSlot = TlsAlloc();
      if (gErrorSlot == TLS_OUT_OF_INDEXES) return FALSE;
      TlsSetValue(gErrorSlot, nullptr);
      if (!BindLibrary(instance)) {
        TlsFree(gErrorSlot);
        gErrorSlot = TLS_OUT_OF_INDEXES;
        return FALSE;
      }
      return TRUE;
    case DLL_THREAD_ATTACH:
      if (gErrorSlot != TLS_OUT_OF_INDEXES) TlsSetValue(gErrorSlot, nullptr);
      return TRUE;
    case DLL_PROCESS_DETACH:
      UnbindLibrary();
      if (gErrorSlot != TLS_OUT_OF_INDEXES) TlsFree(gErrorSlot);
      gErrorSlot = TLS_OUT_OF_INDEXES;
      return TRUE;
    default:
      return TRUE;
  }
}

}  // namespace

void StoreError(UINT id) {
  if (gErrorSlot != TLS_OUT_OF_INDEXES)
    TlsSetValue(gErrorSlot, reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
}

UINT LastError() {
  if (gErrorSlot == TLS_OUT_OF_INDEXES) return 0;
  return static_cast<UINT>(reinterpret_cast<uintptr_t>(TlsGetValue(gErrorSlot)));
}

HINSTANCE ModuleInstance() {
  return gInstance;
}

void TraceHook(int level, const char* format, ...) {
  (void)level;
  (void)format;
}

}  // namespace rdpcd

// A reader without pages: the core entry points only.
WINPORT_MODULE_VERSION(rdpcd::kVersionText);
WINPORT_MODULE(reader::kCoreExports, std::size(reader::kCoreExports), rdpcd::kStringResources,
               std::size(rdpcd::kStringResources), rdpcd::DllMain)
