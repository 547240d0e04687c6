// Raw reads and per-element value decoding for directory entries.
#include "tiff_values.h"

#include <cstring>
#include <vector>

#include "plugin/reader_frame.h"

namespace tiff::detail {
namespace {

constexpr uint32_t kChunkBytes = 4096;

// Decodes element `index` of `size` bytes from `bytes`.
uint32_t Element(const uint8_t* bytes, uint32_t size, uint32_t index, bool bigEndian) {
  const uint8_t* p = bytes + static_cast<size_t>(index) * size;
  if (size == 1) return p[0];
  if (size == 2) return Get16(p, bigEndian);
  return Get32(p, bigEndian);
}

}  // namespace

uint16_t Get16(const uint8_t* bytes, bool bigEndian) {
  return bigEndian ? static_cast<uint16_t>(bytes[0] << 8 | bytes[1])
                   : static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
}

uint32_t Get32(const uint8_t* bytes, bool bigEndian) {
  if (bigEndian) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  }
  return static_cast<uint32_t>(bytes[3]) << 24 | static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[1]) << 8 | bytes[0];
}

int64_t ReadAt(const ImageBlockHead& file, uint64_t offset, void* buffer, uint32_t count) {
  // A position the host cannot seek to lies past any file it can hold.
  if (!reader::HostSeekImage(file, offset)) return 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    int32_t got = reader::HostRead(file, bytes + done, count - done);
    if (got < 0) return -1;
    if (got == 0 || static_cast<uint32_t>(got) > count - done) break;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

Entry DecodeEntry(const uint8_t (&raw)[12], bool bigEndian) {
  Entry entry;
  entry.tag = Get16(raw, bigEndian);
  entry.type = Get16(raw + 2, bigEndian);
  entry.count = Get32(raw + 4, bigEndian);
  std::memcpy(entry.field, raw + 8, 4);
  return entry;
}

uint32_t ElementSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;  // BYTE, ASCII, SBYTE, UNDEFINED
    case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: return 8;  // RATIONAL, SRATIONAL, DOUBLE
    default: return 2;  // SHORT, SSHORT, and anything unknown
  }
}

uint32_t FirstValue(const Entry& entry, bool bigEndian) {
  uint32_t size = ElementSize(entry.type);
  return Element(entry.field, size > 4 ? 4 : size, 0, bigEndian);
}

ArrayRead ReadArray(const ImageBlockHead& file, const Entry& entry, uint32_t count, bool bigEndian,
                    bool alwaysAtOffset, HGLOBAL& array) {
  array = 0;
  uint32_t size = ElementSize(entry.type);
  if (size > 4) size = 4;  // 8-byte types are not arrays any tag here holds
  uint64_t bytes = static_cast<uint64_t>(count) * size;
  HGLOBAL block = GlobalAlloc(GHND, static_cast<size_t>(count) * 4 + 4);
  auto* words = block != 0 ? static_cast<uint32_t*>(GlobalLock(block)) : nullptr;
  if (words == nullptr) {
    if (block != 0) GlobalFree(block);
    return ArrayRead::kNoMemory;
  }
  ArrayRead outcome = ArrayRead::kOk;
  if (bytes <= 4 && !alwaysAtOffset) {
    for (uint32_t i = 0; i < count; ++i) words[i] = Element(entry.field, size, i, bigEndian);
  } else {
    // Read in chunks, decoding each element from the raw bytes as it comes.
    uint64_t offset = Get32(entry.field, bigEndian);
    std::vector<uint8_t> chunk(kChunkBytes);
    uint32_t perChunk = kChunkBytes / size;
    for (uint32_t first = 0; first < count && outcome == ArrayRead::kOk; first += perChunk) {
      uint32_t n = count - first < perChunk ? count - first : perChunk;
      int64_t got = ReadAt(file, offset + static_cast<uint64_t>(first) * size, chunk.data(), n * size);
      if (got < 0) outcome = ArrayRead::kHostError;
      else if (got < static_cast<int64_t>(n) * size) outcome = ArrayRead::kShort;
      else for (uint32_t i = 0; i < n; ++i) words[first + i] = Element(chunk.data(), size, i, bigEndian);
    }
  }
  // The block's last word, past the values, holds their count: the system may
  // hand out a larger block than asked for, so its size does not tell.
  words[GlobalSize(block) / 4 - 1] = count;
  GlobalUnlock(block);
  if (outcome != ArrayRead::kOk) {
    GlobalFree(block);
    return outcome;
  }
  array = block;
  return ArrayRead::kOk;
}

}  // namespace tiff::detail
