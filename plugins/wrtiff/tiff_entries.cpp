// Directory entries: collecting values and laying out the IFD.
#include "tiff_entries.h"

#include <cstring>

#include "winport/memory.h"

namespace wrtiff {
namespace {

constexpr uint32_t kEntryBytes = 12;
constexpr uint32_t kValueFieldBytes = 4;

TiffEntry* NewEntry(EntryTable& table, uint16_t tag, uint16_t type) {
  if (table.count >= kMaxEntries) return nullptr;
  TiffEntry& entry = table.entries[table.count++];
  entry = TiffEntry{tag, type, 0, 0, 0, nullptr};
  return &entry;
}

class ByteSink {
 public:
  ByteSink(std::vector<uint8_t>& out, bool intel) : out_(out), intel_(intel) {}
  void u16(uint32_t v) { put(v, 2); }
  void u32(uint32_t v) { put(v, 4); }
  void bytes(const uint8_t* data, size_t count) { out_.insert(out_.end(), data, data + count); }

 private:
  void put(uint32_t v, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
      const uint32_t shift = intel_ ? 8 * i : 8 * (size - 1 - i);
      out_.push_back(static_cast<uint8_t>(v >> shift));
    }
  }
  std::vector<uint8_t>& out_;
  bool intel_;
};

// The entry's values in the file's byte order, element by element.
void PutValues(ByteSink& sink, const TiffEntry& entry) {
  if (entry.array == nullptr) {
    if (ElementSize(entry.type) == 2) sink.u16(entry.value);
    else sink.u32(entry.value);
    return;
  }
  const uint32_t size = ElementSize(entry.type);
  if (size == 1) {
    sink.bytes(entry.array, entry.count);
    return;
  }
  // A RATIONAL is two LONGs.
  const uint32_t words = entry.type == kTypeRational ? entry.count * 2 : entry.count;
  for (uint32_t i = 0; i < words; ++i) {
    const uint8_t* at = entry.array + static_cast<size_t>(i) * (size == 2 ? 2 : 4);
    if (size == 2) {
      uint16_t v;
      std::memcpy(&v, at, sizeof v);
      sink.u16(v);
    } else {
      uint32_t v;
      std::memcpy(&v, at, sizeof v);
      sink.u32(v);
    }
  }
}

uint64_t ValueBytes(const TiffEntry& entry) {
  return static_cast<uint64_t>(entry.count) * ElementSize(entry.type);
}

}  // namespace

uint32_t ElementSize(uint16_t type) {
  switch (type) {
    case kTypeShort:
      return 2;
    case kTypeLong:
      return 4;
    case kTypeRational:
      return 8;
    default:
      return 1;
  }
}

TiffEntry* AddSingle(EntryTable& table, uint16_t tag, uint16_t type, uint32_t value) {
  TiffEntry* entry = NewEntry(table, tag, type);
  if (entry == nullptr) return nullptr;
  entry->count = 1;
  entry->value = value;
  return entry;
}

TiffEntry* AddArray(EntryTable& table, uint16_t tag, uint16_t type, uint32_t capacity) {
  if (capacity == 0) capacity = 1;
  const uint64_t bytes = static_cast<uint64_t>(capacity) * ElementSize(type);
  auto* array = static_cast<uint8_t*>(LocalAlloc(LPTR, bytes));
  if (array == nullptr) return nullptr;
  TiffEntry* entry = NewEntry(table, tag, type);
  if (entry == nullptr) {
    LocalFree(array);
    return nullptr;
  }
  entry->capacity = capacity;
  entry->array = array;
  return entry;
}

TiffEntry* AddAscii(EntryTable& table, uint16_t tag, std::string_view text,
                    uint32_t minimumCount) {
  uint32_t count = static_cast<uint32_t>(text.size()) + 1;
  if (count < minimumCount) count = minimumCount;
  TiffEntry* entry = AddArray(table, tag, kTypeAscii, count);
  if (entry == nullptr) return nullptr;
  std::memcpy(entry->array, text.data(), text.size());  // the rest stays NUL
  entry->count = count;
  return entry;
}

TiffEntry* AddRational(EntryTable& table, uint16_t tag, uint32_t numerator, uint32_t denominator) {
  TiffEntry* entry = AddArray(table, tag, kTypeRational, 1);
  if (entry == nullptr) return nullptr;
  std::memcpy(entry->array, &numerator, 4);
  std::memcpy(entry->array + 4, &denominator, 4);
  entry->count = 1;
  return entry;
}

bool SetElement(TiffEntry& entry, uint32_t index, uint32_t value) {
  if (entry.array == nullptr || index >= entry.capacity) return false;
  const uint32_t size = ElementSize(entry.type);
  uint8_t* at = entry.array + static_cast<size_t>(index) * size;
  if (size == 2) {
    const auto v = static_cast<uint16_t>(value);
    std::memcpy(at, &v, sizeof v);
  } else if (size == 4) {
    std::memcpy(at, &value, sizeof value);
  } else {
    return false;
  }
  return true;
}

bool StoreValue(TiffEntry& entry, uint32_t value) {
  if (entry.array == nullptr) {
    entry.value = value;
    return true;
  }
  if (!SetElement(entry, entry.count, value)) return false;
  ++entry.count;
  return true;
}

TiffEntry* FindEntry(EntryTable& table, uint16_t tag) {
  for (uint32_t i = 0; i < table.count; ++i) {
    if (table.entries[i].tag == tag) return &table.entries[i];
  }
  return nullptr;
}

std::vector<uint8_t> LayOutDirectory(const EntryTable& table, bool intel, uint64_t position,
                                     uint32_t& ifdPosition) {
  std::vector<uint8_t> out;
  ByteSink sink(out, intel);
  uint32_t offsets[kMaxEntries] = {};
  for (uint32_t i = 0; i < table.count; ++i) {
    const TiffEntry& entry = table.entries[i];
    if (ValueBytes(entry) <= kValueFieldBytes) continue;
    const uint64_t at = position + out.size();
    if (at > UINT32_MAX) return {};
    offsets[i] = static_cast<uint32_t>(at);
    PutValues(sink, entry);
  }
  const uint64_t ifd = position + out.size();
  if (ifd + 6 + uint64_t{kEntryBytes} * table.count > UINT32_MAX) return {};
  ifdPosition = static_cast<uint32_t>(ifd);
  sink.u16(table.count);
  for (uint32_t i = 0; i < table.count; ++i) {
    const TiffEntry& entry = table.entries[i];
    sink.u16(entry.tag);
    sink.u16(entry.type);
    sink.u32(entry.count);
    if (ValueBytes(entry) > kValueFieldBytes) {
      sink.u32(offsets[i]);
      continue;
    }
    // Values that fit sit left-justified in the field, the rest 0.
    const size_t before = out.size();
    PutValues(sink, entry);
    while (out.size() < before + kValueFieldBytes) out.push_back(0);
  }
  sink.u32(0);
  return out;
}

void FreeEntries(EntryTable& table) {
  for (uint32_t i = 0; i < table.count; ++i) {
    if (table.entries[i].array != nullptr) LocalFree(table.entries[i].array);
    table.entries[i].array = nullptr;
  }
  table.count = 0;
}

}  // namespace wrtiff
