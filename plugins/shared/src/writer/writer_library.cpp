// Library attach/detach, OVXDLget_ext, error reports and the host's option getter.
#include "writer_library.h"

#include "plugin/writer_frame.h"
#include "plugin/writer_module.h"

namespace writer {

namespace detail {
constinit LibraryState gLibrary{};
}  // namespace detail

using detail::gLibrary;

BOOL WriterDllMain(HINSTANCE instance, DWORD reason, void* /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      gLibrary.instance = instance;
      gLibrary.tlsSlot = TlsAlloc();
      if (gLibrary.tlsSlot == TLS_OUT_OF_INDEXES) return FALSE;
      TlsSetValue(gLibrary.tlsSlot, nullptr);
      if (kWriterFormat.attach != nullptr && !kWriterFormat.attach()) {
        TlsFree(gLibrary.tlsSlot);
        gLibrary.tlsSlot = TLS_OUT_OF_INDEXES;
        return FALSE;
      }
      return TRUE;
    case DLL_THREAD_ATTACH:
      if (gLibrary.tlsSlot != TLS_OUT_OF_INDEXES) TlsSetValue(gLibrary.tlsSlot, nullptr);
      return TRUE;
    case DLL_PROCESS_DETACH:
      if (gLibrary.tlsSlot != TLS_OUT_OF_INDEXES) TlsFree(gLibrary.tlsSlot);
      gLibrary = detail::LibraryState{};
      return TRUE;
    default:
      return TRUE;
  }
}

void ReportError(int32_t errorId, const char* fileName) {
  if (gLibrary.errorCallback == nullptr) return;
  gLibrary.errorCallback(gLibrary.instance, errorId, kWriterFormat.moduleName,
                         fileName != nullptr ? fileName : "");
}

bool LookupOption(HGLOBAL options, const char* key, OptionValue& value) {
  value.fill('\0');
  if (gLibrary.optionGetter == nullptr || key == nullptr) return false;
  const bool found = gLibrary.optionGetter(options, key, value.data()) == 0;
  value.back() = '\0';
  if (!found) value[0] = '\0';
  return found;
}

}  // namespace writer

using writer::gLibrary;
using writer::kWriterFormat;

// Stores the writer's flags, keeps the error callback and, for writers that
// read options through the host, looks up its getter. A null record or host
// instance leaves no callback and no getter (every option absent).
WINPORT_EXPORT const char* WINAPI OVXDLget_ext(ExportHostInfo* host) {
  gLibrary.errorCallback = nullptr;
  gLibrary.optionGetter = nullptr;
  if (host != nullptr) {
    host->flags = kWriterFormat.hostInfoFlags;
    gLibrary.errorCallback = host->errorCallback;
    if (kWriterFormat.usesOptionGetter && host->hostInstance != 0) {
      // Through the generic function type, whatever the platform declares FARPROC as.
      gLibrary.optionGetter = reinterpret_cast<OvgXOptBlkGet_fn>(
          reinterpret_cast<void (*)()>(GetProcAddress(host->hostInstance, "OvgXOptBlkGet")));
    }
  }
  return kWriterFormat.extensionText;
}

WINPORT_EXPORT const char* WINAPI OVXDLget_ver() {
  return writer::kWriterVersionText;
}

WINPORT_EXPORT int32_t WINAPI WEP(int32_t /*ignored*/) {
  return 0;
}

static_assert(std::is_same_v<decltype(&OVXDLget_ext), OVXDLget_ext_fn>);
static_assert(std::is_same_v<decltype(&OVXDLget_ver), OVXDLget_ver_fn>);
static_assert(std::is_same_v<decltype(&WEP), WriterWEP_fn>);
