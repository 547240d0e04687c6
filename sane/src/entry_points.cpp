// The SANE entry points: C shims that find the handle's session, keep count
// of the calls running (so that a cancel from a signal handler knows one is),
// and turn every exception into a status.
#include <sane/sane.h>

#include <atomic>
#include <new>

#include "backend.h"
#include "debug.h"

#define FERROX_EXPORT extern "C" __attribute__((visibility("default")))

namespace ferroxsane {
namespace {

constexpr SANE_Int kBuild = 1;
std::atomic<int> gCallsRunning{0};

// Runs `body` as one backend call; exceptions become statuses.
template <typename Body>
SANE_Status Guard(const char* entry, Body body) {
  ++gCallsRunning;
  SANE_Status status = SANE_STATUS_IO_ERROR;
  try {
    status = body();
  } catch (const std::bad_alloc&) {
    Debug(kDebugError, "%s: out of memory", entry);
    status = SANE_STATUS_NO_MEM;
  } catch (...) {
    Debug(kDebugError, "%s: unexpected failure", entry);
    status = SANE_STATUS_IO_ERROR;
  }
  --gCallsRunning;
  return status;
}

}  // namespace
}  // namespace ferroxsane

using ferroxsane::Guard;
using ferroxsane::TheBackend;

FERROX_EXPORT SANE_Status sane_ferrox_init(SANE_Int* version, SANE_Auth_Callback) {
  if (version != nullptr)
    *version = SANE_VERSION_CODE(SANE_CURRENT_MAJOR, SANE_CURRENT_MINOR, ferroxsane::kBuild);
  return Guard("sane_init", [] { return TheBackend().init(); });
}

FERROX_EXPORT void sane_ferrox_exit() {
  Guard("sane_exit", [] {
    TheBackend().exit();
    return SANE_STATUS_GOOD;
  });
}

FERROX_EXPORT SANE_Status sane_ferrox_get_devices(const SANE_Device*** list, SANE_Bool) {
  if (list == nullptr) return SANE_STATUS_INVAL;
  return Guard("sane_get_devices", [list] { return TheBackend().devices(list); });
}

FERROX_EXPORT SANE_Status sane_ferrox_open(SANE_String_Const name, SANE_Handle* handle) {
  return Guard("sane_open", [name, handle] { return TheBackend().open(name, handle); });
}

FERROX_EXPORT void sane_ferrox_close(SANE_Handle handle) {
  Guard("sane_close", [handle] {
    TheBackend().close(handle);
    return SANE_STATUS_GOOD;
  });
}

FERROX_EXPORT const SANE_Option_Descriptor* sane_ferrox_get_option_descriptor(SANE_Handle handle,
                                                                              SANE_Int index) {
  ferroxsane::ScanSession* session = TheBackend().session(handle);
  return session != nullptr ? session->descriptor(index) : nullptr;
}

FERROX_EXPORT SANE_Status sane_ferrox_control_option(SANE_Handle handle, SANE_Int index,
                                                     SANE_Action action, void* value,
                                                     SANE_Int* info) {
  return Guard("sane_control_option", [=] {
    ferroxsane::ScanSession* session = TheBackend().session(handle);
    return session != nullptr ? session->control(index, action, value, info) : SANE_STATUS_INVAL;
  });
}

FERROX_EXPORT SANE_Status sane_ferrox_get_parameters(SANE_Handle handle,
                                                     SANE_Parameters* parameters) {
  return Guard("sane_get_parameters", [=] {
    ferroxsane::ScanSession* session = TheBackend().session(handle);
    if (session == nullptr || parameters == nullptr) return SANE_STATUS_INVAL;
    return session->parameters(*parameters);
  });
}

FERROX_EXPORT SANE_Status sane_ferrox_start(SANE_Handle handle) {
  return Guard("sane_start", [=] {
    ferroxsane::ScanSession* session = TheBackend().session(handle);
    return session != nullptr ? session->start() : SANE_STATUS_INVAL;
  });
}

FERROX_EXPORT SANE_Status sane_ferrox_read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength,
                                           SANE_Int* length) {
  if (length != nullptr) *length = 0;
  return Guard("sane_read", [=] {
    ferroxsane::ScanSession* session = TheBackend().session(handle);
    if (session == nullptr || length == nullptr) return SANE_STATUS_INVAL;
    return session->read(data, maxLength, *length);
  });
}

// May be called from a signal handler while another call runs: then it only
// raises the session's flag (see ScanSession::cancel).
FERROX_EXPORT void sane_ferrox_cancel(SANE_Handle handle) {
  const bool callRunning = ferroxsane::gCallsRunning.load() > 0;
  ferroxsane::ScanSession* session = TheBackend().session(handle);
  if (session == nullptr) return;
  if (callRunning) {
    session->cancel(true);
    return;
  }
  Guard("sane_cancel", [session] {
    session->cancel(false);
    return SANE_STATUS_GOOD;
  });
}

FERROX_EXPORT SANE_Status sane_ferrox_set_io_mode(SANE_Handle handle, SANE_Bool nonBlocking) {
  if (TheBackend().session(handle) == nullptr) return SANE_STATUS_INVAL;
  return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

FERROX_EXPORT SANE_Status sane_ferrox_get_select_fd(SANE_Handle, SANE_Int*) {
  return SANE_STATUS_UNSUPPORTED;
}
