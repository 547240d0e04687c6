// Writing through the host's file table, and progress reports.
#include <algorithm>
#include <limits>

#include "plugin/writer_frame.h"

namespace writer {
namespace {

uint32_t Saturate32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

bool WriteAll(const ExportBlockHead& head, const void* bytes, uint32_t count) {
  if (count == 0) return true;
  const int32_t written = head.files->write(head.file, bytes, count);
  return written >= 0 && static_cast<uint32_t>(written) == count;
}

int32_t Seek(const ExportBlockHead& head, int32_t offset, int32_t origin) {
  return head.files->seek(head.file, offset, origin);
}

bool WriteChunked(const ExportBlockHead& head, const uint8_t* bytes, uint64_t count,
                  int64_t position, ExportProgress* progress) {
  bool allWritten = true;
  while (count > 0) {
    uint32_t limit = kMaxWriteChunk;
    if (progress != nullptr && progress->interval != 0) limit = std::min(limit, progress->interval);
    const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(count, limit));
    position += chunk;
    if (!WriteAll(head, bytes, chunk)) {
      allWritten = false;
      // Whatever landed, the next piece goes where it belongs.
      if (position <= std::numeric_limits<int32_t>::max()) {
        Seek(head, static_cast<int32_t>(position), 0);
      }
    }
    bytes += chunk;
    count -= chunk;
    AdvanceProgress(progress, chunk);
  }
  return allWritten;
}

bool AdvanceProgress(ExportProgress* progress, uint32_t bytes) {
  if (progress == nullptr) return true;
  const uint64_t since = static_cast<uint64_t>(progress->sinceLast) + bytes;
  if (since <= progress->interval) {
    progress->sinceLast = static_cast<uint32_t>(since);
    return true;
  }
  progress->bytesDone = Saturate32(progress->bytesDone + since);
  bool goOn = true;
  if (progress->callback != nullptr && progress->bytesTotal != 0) {
    // bytes done x 100 does not fit 32 bits for images above 42 MB.
    const uint64_t done = progress->bytesDone;
    const uint64_t percent = std::min<uint64_t>(done * 100 / progress->bytesTotal, 100);
    goOn = progress->callback(0, static_cast<int32_t>(percent), progress->userValue) != 0;
  }
  progress->sinceLast = 0;
  return goOn;
}

}  // namespace writer
