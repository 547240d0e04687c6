// Helpers shared by the platform layer's services (hidden from its users).
#pragma once

#include <cstddef>
#include <new>
#include <string>

#include "winport/types.h"

namespace winport {

// Runs an export's body so that no exception leaves the library: running out
// of memory becomes ERROR_NOT_ENOUGH_MEMORY, anything else ERROR_INVALID_PARAMETER,
// and the export answers `failure`.
template <typename Result, typename Body>
Result guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    SetLastError(ERROR_INVALID_PARAMETER);
  }
  return failure;
}

// The Windows error code closest to a POSIX errno value.
DWORD errorFromErrno(int error);

// Copies `text` into `buffer` of `size` bytes the way the path queries do:
// returns the length without NUL when it fits, else the size needed including
// the NUL (buffer untouched). A null buffer counts as size 0.
DWORD copyPathResult(const std::string& text, char* buffer, DWORD size);

// Failure injection for the allocating calls: true when this call is the one
// chosen to fail (it consumes one step of the countdown).
bool allocationShouldFail();

}  // namespace winport
