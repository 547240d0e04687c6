// Reading raw bytes and entry values of a TIFF directory (internal to tiff_structure).
#pragma once

#include <cstdint>

#include "plugin/tiff_info.h"

namespace tiff::detail {

// One 12-byte directory entry, tag/type/count decoded, the value field raw.
struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint8_t field[4] = {};
};

uint16_t Get16(const uint8_t* bytes, bool bigEndian);
uint32_t Get32(const uint8_t* bytes, bool bigEndian);

// Reads up to `count` bytes at `offset` (relative to the image offset):
// the number read (short at the end of the file or past it), −1 on a host error.
int64_t ReadAt(const ImageBlockHead& file, uint64_t offset, void* buffer, uint32_t count);

Entry DecodeEntry(const uint8_t (&raw)[12], bool bigEndian);

// Bytes of one value of a TIFF field type (BYTE 1, SHORT 2, LONG 4, RATIONAL 8, ...);
// unknown types count as 2, as SHORT.
uint32_t ElementSize(uint16_t type);

// The first value of an entry whose values fit its field, decoded by type.
uint32_t FirstValue(const Entry& entry, bool bigEndian);

// Outcome of reading an entry's values into an array.
enum class ArrayRead { kOk, kShort, kHostError, kNoMemory };

// Reads the entry's `count` values (at most `count`, which the caller has
// bounded) into a new movable block of 32-bit words: from the value field when
// they fit it (unless `alwaysAtOffset`), else from the value offset.
ArrayRead ReadArray(const ImageBlockHead& file, const Entry& entry, uint32_t count, bool bigEndian,
                    bool alwaysAtOffset, HGLOBAL& array);

}  // namespace tiff::detail
