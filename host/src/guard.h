// Keeps exceptions inside the library: every public operation runs its body
// through Guarded, which turns an exception into a failed Status.
#pragma once

#include <exception>
#include <new>

#include "host/status.h"

namespace imagehost {

template <typename Body>
Status Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Status::failure("not enough memory");
  } catch (const std::exception& error) {
    return Status::failure(error.what());
  } catch (...) {
    return Status::failure("internal error");
  }
}

}  // namespace imagehost
