// A temporary file holding one page's rows bottom-up, as a DIB's pixel array,
// for writers that want the bottom row first when the rows come top-down. The
// file is unlinked at once and vanishes with its descriptor.
#pragma once

#include <cstdint>
#include <span>

#include "host/status.h"

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
  int fd_ = -1;
};

}  // namespace imagehost
