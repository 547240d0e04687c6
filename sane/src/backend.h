// The backend's process-wide state between sane_init and sane_exit: the
// configuration, the scanner library (loaded once, at the first need), the
// device list and the one handle that may be open at a time (the library
// binds one scanner per process).
#pragma once

#include <sane/sane.h>

#include <memory>
#include <string>

#include "config.h"
#include "scan_session.h"
#include "scanclient/scanner.h"

namespace ferroxsane {

// The name of the one device, after the backend's own "ferrox:" prefix.
inline constexpr const char* kDeviceName = "scanner";

class Backend {
 public:
  SANE_Status init();
  void exit();
  SANE_Status devices(const SANE_Device*** list);
  SANE_Status open(SANE_String_Const name, SANE_Handle* handle);
  void close(SANE_Handle handle);
  // The session of an open handle; nullptr for anything else.
  ScanSession* session(SANE_Handle handle) const;

 private:
  // Loads FERROX.DLL once; false (with the reason on the debug output) when it cannot.
  bool loadLibrary();
  bool describeDevice();

  BackendConfig config_;
  bool initialised_ = false;
  std::unique_ptr<scanclient::Scanner> scanner_;
  std::unique_ptr<ScanSession> session_;
  std::string vendor_, model_;
  SANE_Device device_{};
  const SANE_Device* list_[2] = {nullptr, nullptr};
};

Backend& TheBackend();

}  // namespace ferroxsane
