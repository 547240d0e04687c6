// Binding the Photo CD library by ordinal, as a load-time import would: the
// reader's load fails when the library or one of its operations is missing.
#include <cstring>
#include <string>

#include "pcd_reader.h"

namespace rdpcd {

namespace {

HMODULE gModule = 0;
PcdLibrary gLibrary;

template <typename F>
F Ordinal(HMODULE module, WORD ordinal) {
  // Through the generic function type, whatever the platform declares FARPROC as.
  return reinterpret_cast<F>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

// The library beside the reader's own file, else wherever the platform finds it.
HMODULE LoadBesideReader(HINSTANCE reader) {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(reader, path, sizeof path);
  if (length > 0 && length < sizeof path) {
    std::string beside(path, length);
    // Either separator: Windows names the folder with '\\', Linux with '/'.
    size_t slash = beside.find_last_of("/\\");
    if (slash != std::string::npos) {
      beside.resize(slash + 1);
      beside += pcdlib::kLibraryFileName;
      if (HMODULE module = LoadLibraryA(beside.c_str()); module != 0) return module;
    }
  }
  return LoadLibraryA(pcdlib::kLibraryFileName);
}

}  // namespace

bool BindLibrary(HINSTANCE reader) {
  HMODULE module = LoadBesideReader(reader);
  if (module == 0) return false;
  PcdLibrary bound;
  bound.open = Ordinal<pcdlib::OpenFn>(module, pcdlib::kOrdOpen);
  bound.close = Ordinal<pcdlib::CloseFn>(module, pcdlib::kOrdClose);
  bound.imageSize = Ordinal<pcdlib::ImageSizeFn>(module, pcdlib::kOrdImageSize);
  bound.setProgress = Ordinal<pcdlib::SetProgressFn>(module, pcdlib::kOrdSetProgress);
  bound.readRows = Ordinal<pcdlib::ReadRowsFn>(module, pcdlib::kOrdReadRows);
  if (bound.open == nullptr || bound.close == nullptr || bound.imageSize == nullptr ||
      bound.setProgress == nullptr || bound.readRows == nullptr) {
    FreeLibrary(module);
    return false;
  }
  gModule = module;
  gLibrary = bound;
  return true;
}

void UnbindLibrary() {
  if (gModule != 0) FreeLibrary(gModule);
  gModule = 0;
  gLibrary = PcdLibrary{};
}

const PcdLibrary& Library() {
  return gLibrary;
}

}  // namespace rdpcd
