// Moving a decoded row into a host row: the same-depth copy and 2-to-4-bit widening.
#include <cstdint>
#include <cstring>

#include "plugin/reader_frame.h"

namespace reader {

void CopyFromOffset(std::span<const uint8_t> decoded, std::span<uint8_t> dest, uint32_t offset) {
  if (offset >= decoded.size()) return;
  size_t count = decoded.size() - offset;
  if (count > dest.size()) count = dest.size();
  if (count > 0) std::memcpy(dest.data(), decoded.data() + offset, count);
}

// Decoded byte k holds pixels p0..p3 (2 bits each, first pixel highest); the
// widened row holds two bytes for it: (p0 << 4 | p1) and (p2 << 4 | p3).
void Widen2To4(std::span<const uint8_t> decoded, std::span<uint8_t> dest, uint32_t offset) {
  for (size_t j = 0; j < dest.size(); ++j) {
    uint64_t widenedIndex = static_cast<uint64_t>(offset) + j;
    uint64_t source = widenedIndex / 2;
    if (source >= decoded.size()) return;
    uint8_t pixels = decoded[source];
    uint8_t pair = (widenedIndex % 2 == 0) ? static_cast<uint8_t>(pixels >> 4)
                                           : static_cast<uint8_t>(pixels & 0x0F);
    dest[j] = static_cast<uint8_t>(((pair >> 2) << 4) | (pair & 0x03));
  }
}

}  // namespace reader
