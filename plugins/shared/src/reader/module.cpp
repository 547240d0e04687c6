// Module attach/detach, the last-error store and the trace routine.
#include <cstdarg>
#include <cstdint>

#include "plugin/reader_frame.h"

namespace reader {
namespace {

HINSTANCE gInstance = 0;
DWORD gErrorSlot = TLS_OUT_OF_INDEXES;
UINT gProcessWideError = 0;  // the store of readers that keep one value per process

void* AsSlotValue(UINT id) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(id));
}

}  // namespace

void StoreError(UINT id) {
  if (gReaderFormat.processWideError) {
    gProcessWideError = id;
  } else if (gErrorSlot != TLS_OUT_OF_INDEXES) {
    TlsSetValue(gErrorSlot, AsSlotValue(id));
  }
}

UINT LastError() {
  if (gReaderFormat.processWideError) return gProcessWideError;
  if (gErrorSlot == TLS_OUT_OF_INDEXES) return 0;
  return static_cast<UINT>(reinterpret_cast<uintptr_t>(TlsGetValue(gErrorSlot)));
}

void TraceHook(int level, const char* format, ...) {
  (void)level;
  (void)format;
}

HINSTANCE ModuleInstance() {
  return gInstance;
}

// Attach: remember the instance and take the slot (no slot: the load fails).
// Every thread reads 0 from a fresh slot until it stores an id.
BOOL ReaderDllMain(HINSTANCE instance, DWORD reason, void* /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      gInstance = instance;
      gProcessWideError = 0;
      if (gReaderFormat.processWideError) return TRUE;
      gErrorSlot = TlsAlloc();
      if (gErrorSlot == TLS_OUT_OF_INDEXES) return FALSE;
      TlsSetValue(gErrorSlot, nullptr);
      return TRUE;
    case DLL_THREAD_ATTACH:
      if (gErrorSlot != TLS_OUT_OF_INDEXES) TlsSetValue(gErrorSlot, nullptr);
      return TRUE;
    case DLL_PROCESS_DETACH:
      if (gErrorSlot != TLS_OUT_OF_INDEXES) TlsFree(gErrorSlot);
      gErrorSlot = TLS_OUT_OF_INDEXES;
      return TRUE;
    default:
      return TRUE;
  }
}

}  // namespace reader
