// File access through the host's table, and the buffered byte input.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "plugin/reader_frame.h"
#include "plugin/reader_input.h"

namespace reader {
namespace {

constexpr uint32_t kLargestHostRead = 1u << 30;  // keeps the host's signed count unambiguous

}  // namespace

int32_t HostRead(const ImageBlockHead& head, void* buffer, uint32_t count) {
  if (head.files == nullptr || head.files->read == nullptr || head.file == 0) return -1;
  return head.files->read(head.file, buffer, std::min(count, kLargestHostRead));
}

bool HostReadExact(const ImageBlockHead& head, void* buffer, uint32_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    int32_t got = HostRead(head, bytes, count);
    if (got <= 0 || static_cast<uint32_t>(got) > count) return false;
    bytes += got;
    count -= static_cast<uint32_t>(got);
  }
  return true;
}

bool HostSeekAbsolute(const ImageBlockHead& head, uint64_t position) {
  if (head.files == nullptr || head.files->seek == nullptr || head.file == 0) return false;
  if (position > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return false;
  int32_t target = static_cast<int32_t>(position);
  return head.files->seek(head.file, target, 0) == target;
}

bool HostSeekImage(const ImageBlockHead& head, uint64_t offsetInImage) {
  return HostSeekAbsolute(head, head.imageOffset + offsetInImage);
}

int32_t HostReadByte(const ImageBlockHead& head) {
  if (head.files != nullptr && head.files->readByte != nullptr && head.file != 0) {
    int32_t value = head.files->readByte(head.file);
    return value < 0 ? -1 : (value & 0xFF);
  }
  uint8_t byte = 0;
  return HostRead(head, &byte, 1) == 1 ? byte : -1;
}

// Fills the storage from the file's current position. Once the host gave
// nothing (end of file) or failed, the input stays ended until emptied.
bool BufferedInput::refill() {
  if (cursor_.ended != 0 || storage_.empty()) return false;
  uint32_t capacity = static_cast<uint32_t>(std::min<size_t>(storage_.size(), kLargestHostRead));
  int32_t got = HostRead(head_, storage_.data(), capacity);
  cursor_.position = 0;
  if (got <= 0 || static_cast<uint32_t>(got) > capacity) {
    cursor_.filled = 0;
    cursor_.ended = 1;
    cursor_.failed = got < 0 ? 1 : 0;
    return false;
  }
  cursor_.filled = static_cast<uint32_t>(got);
  return true;
}

}  // namespace reader
