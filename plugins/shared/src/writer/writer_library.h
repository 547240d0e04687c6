// Per-library state of a writer, set at load (attach and OVXDLget_ext).
#pragma once

#include "plugin/contract.h"
#include "winport/tls.h"

namespace writer::detail {

struct LibraryState {
  HINSTANCE instance = 0;                  // from process attach, for the error callback
  DWORD tlsSlot = TLS_OUT_OF_INDEXES;      // taken at attach; no entry point reads it
  ExportErrorCallback errorCallback = nullptr;
  OvgXOptBlkGet_fn optionGetter = nullptr;  // only for writers that read options through the host
};

// Constant-initialised: valid before any constructor of the module runs.
extern constinit LibraryState gLibrary;

}  // namespace writer::detail
