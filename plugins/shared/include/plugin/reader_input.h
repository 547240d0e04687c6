// Buffered byte input from the host file, for decoders that work byte by byte.
//
// The buffer storage and its cursor live in the format's ImageBlock (they
// survive between calls); a BufferedInput is a short-lived view over them for
// one call. The cursor counts the valid bytes, so a short read at the end of
// the file is never followed by stale buffer contents: once the host gives no
// more bytes, next() answers −1 until the input is emptied again (a seek).
#pragma once

#include <cstdint>
#include <span>

#include "plugin/contract.h"

namespace reader {

struct InputCursor {
  uint32_t position;  // next unread byte in the storage
  uint32_t filled;    // valid bytes in the storage
  uint32_t ended;     // 1: the host gave no more bytes (end of file or read error)
  uint32_t failed;    // 1: that was a read error (−1), not the end of the file
};

// Forgets the buffered bytes; the next byte is read from the file's position.
inline void EmptyInput(InputCursor& cursor) {
  cursor = InputCursor{};
}

class BufferedInput {
 public:
  BufferedInput(const ImageBlockHead& head, InputCursor& cursor, std::span<uint8_t> storage)
      : head_(head), cursor_(cursor), storage_(storage) {}

  // The next byte (0-255), or −1 when the file has no more bytes or a read failed.
  int32_t next() {
    if (cursor_.position < cursor_.filled) return storage_[cursor_.position++];
    return refill() ? storage_[cursor_.position++] : -1;
  }

  // Reads exactly `count` bytes, passing them to sink(byte); false when the
  // data end first (the bytes before that were passed).
  template <typename Sink>
  bool take(uint64_t count, Sink&& sink) {
    while (count > 0) {
      if (cursor_.position >= cursor_.filled && !refill()) return false;
      uint64_t available = cursor_.filled - cursor_.position;
      uint32_t chunk = static_cast<uint32_t>(available < count ? available : count);
      sink(storage_.subspan(cursor_.position, chunk));
      cursor_.position += chunk;
      count -= chunk;
    }
    return true;
  }

  // The unread bytes held, refilled first when there are none; empty once
  // the file has no more. Consume them with skip().
  std::span<const uint8_t> held() {
    if (cursor_.position >= cursor_.filled && !refill()) return {};
    return storage_.subspan(cursor_.position, cursor_.filled - cursor_.position);
  }
  void skip(uint32_t count) { cursor_.position += count; }  // count <= held().size()

  bool readFailed() const { return cursor_.failed != 0; }

 private:
  bool refill();

  const ImageBlockHead& head_;
  InputCursor& cursor_;
  std::span<uint8_t> storage_;
};

}  // namespace reader
