// The directory entries of one written TIFF page, collected while writing
// and laid out with the page's IFD at the end.
//
// Entries are made in ascending tag order and written in that order. A
// single SHORT or LONG value is held in the entry; anything else (and the
// strip values of a page with several strips) is an array in local memory,
// values in native order, converted to the file's byte order when written.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace wrtiff {

enum FieldType : uint16_t {
  kTypeByte = 1,
  kTypeAscii = 2,
  kTypeShort = 3,
  kTypeLong = 4,
  kTypeRational = 5,
};

inline constexpr uint32_t kMaxEntries = 20;

struct TiffEntry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;     // values stored so far
  uint32_t value;     // the single value, when `array` is null
  uint32_t capacity;  // values the array holds
  uint8_t* array;     // LocalAlloc'ed, zero-filled, native order; null for a single value
};

struct EntryTable {
  TiffEntry entries[kMaxEntries];
  uint32_t count;
};

// Bytes of one value of `type` (1 for BYTE and ASCII).
uint32_t ElementSize(uint16_t type);

// Each Add* returns the new entry, or null when the table is full or the
// array cannot be allocated.
TiffEntry* AddSingle(EntryTable& table, uint16_t tag, uint16_t type, uint32_t value);
// An array of `capacity` values, none stored yet.
TiffEntry* AddArray(EntryTable& table, uint16_t tag, uint16_t type, uint32_t capacity);
// ASCII text with its NUL, padded with NULs to `minimumCount` bytes.
TiffEntry* AddAscii(EntryTable& table, uint16_t tag, std::string_view text,
                    uint32_t minimumCount = 0);
TiffEntry* AddRational(EntryTable& table, uint16_t tag, uint32_t numerator, uint32_t denominator);

// Stores one more value: appended to an array (false when it is full),
// replacing a single value.
bool StoreValue(TiffEntry& entry, uint32_t value);
// Sets array element `index` (SHORT, LONG) in place; false when out of range.
bool SetElement(TiffEntry& entry, uint32_t index, uint32_t value);
TiffEntry* FindEntry(EntryTable& table, uint16_t tag);

// The bytes that end a page, to be written at file position `position`:
// every array longer than 4 bytes, then the IFD (entry count, 12-byte
// entries, a next-IFD offset of 0), numbers in the file's byte order.
// `ifdPosition` receives the IFD's file position. Empty when the positions
// would pass 4 GiB.
std::vector<uint8_t> LayOutDirectory(const EntryTable& table, bool intel, uint64_t position,
                                     uint32_t& ifdPosition);

// Frees every array; the table is empty afterwards.
void FreeEntries(EntryTable& table);

}  // namespace wrtiff
