// A temporary file holding one page's rows bottom-up, as a DIB's pixel array,
// for writers that want the bottom row first when the rows come top-down. The
// file lies in the system's temporary folder, is deleted on close, and is
// gone when the process ends, however it ends.
#pragma once

#include <cstdint>
#include <span>

#include "host/status.h"
#include "winport/types.h"

namespace imagehost {

class Spool {
 public:
  Spool() = default;
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  Status create();
  Status put(uint64_t offset, std::span<const uint8_t> bytes);
  Status get(uint64_t offset, std::span<uint8_t> bytes) const;

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace imagehost
