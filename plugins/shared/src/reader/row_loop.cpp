// The row loop: decoding, placement, replication carry-over, positioning.
//
// State kept between calls (ReaderFrameState): currentRow is the next row to
// deliver; carriedRows rows from currentRow on equal the row held in the
// persistent row buffer (a vertical replication not yet delivered), so reading
// in blocks of any size gives the rows one call would give; when
// repositionNeeded is 0 the decoder stands at row currentRow + carriedRows.
#include "row_loop.h"

#include <cstring>

namespace reader::detail {
namespace {

constexpr uint32_t kRowSlack = 4;  // spare bytes after the decoded row

// The persistent row buffer, grown to the decoded row length and locked for one call.
class RowBuffer {
 public:
  explicit RowBuffer(ImageBlockBase& image) : image_(image) {
    ReaderFrameState& frame = image.frame;
    uint64_t needed = static_cast<uint64_t>(frame.decodedRowBytes) + kRowSlack;
    if (frame.rowBuffer == 0 || frame.rowBufferBytes < needed) {
      HGLOBAL grown = GlobalAlloc(GHND, static_cast<size_t>(needed));
      if (grown == 0) return;
      FreeRowBuffer(image);
      frame.rowBuffer = grown;
      frame.rowBufferBytes = static_cast<uint32_t>(needed);
    }
    data_ = static_cast<uint8_t*>(GlobalLock(frame.rowBuffer));
  }
  ~RowBuffer() {
    if (data_ != nullptr) GlobalUnlock(image_.frame.rowBuffer);
  }
  RowBuffer(const RowBuffer&) = delete;
  RowBuffer& operator=(const RowBuffer&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  std::span<uint8_t> all() const { return {data_, image_.frame.rowBufferBytes}; }
  std::span<uint8_t> decoded() const { return {data_, image_.frame.decodedRowBytes}; }

 private:
  ImageBlockBase& image_;
  uint8_t* data_ = nullptr;
};

int32_t ReadFailed() {
  StoreError(kIdReadFailed);
  return kReaderReadFailed;
}

int32_t NoMemory() {
  StoreError(kIdNoMemory);
  return kReaderNoMemory;
}

// Rows may be decoded straight into the host's row only when that row takes
// the whole decoded row unchanged: same depth, no offset, no conversion hook.
bool DecodesDirect(const ReaderFrameState& frame, uint32_t stride, uint32_t offset) {
  return gReaderFormat.deliverRow == nullptr && offset == 0 && stride >= frame.dibRowBytes &&
         frame.dibBitCount == frame.decodedBits && frame.decodedRowBytes <= stride;
}

void Deliver(const ImageBlockBase& image, std::span<const uint8_t> decoded, std::span<uint8_t> dest,
             uint32_t offset) {
  const ReaderFrameState& frame = image.frame;
  if (gReaderFormat.deliverRow != nullptr) {
    gReaderFormat.deliverRow(image, decoded, dest, offset);
  } else if (frame.dibBitCount == frame.decodedBits) {
    CopyFromOffset(decoded, dest, offset);
  } else if (frame.dibBitCount == 4 && frame.decodedBits == 2) {
    Widen2To4(decoded, dest, offset);
  }
  // Any other pair of depths has no conversion: the host's row stays as it was.
}

// Decodes the row at currentRow into `out`; clamps its copies to the image end.
int32_t DecodeAtCurrent(ImageBlockBase& image, std::span<uint8_t> out, uint32_t& copies) {
  ReaderFrameState& frame = image.frame;
  copies = 1;
  int32_t result = gReaderFormat.decodeRow(image, frame.currentRow, out, copies);
  if (result != kReaderOk) {
    frame.repositionNeeded = 1;
    TraceHook(64, "\t\t%s: read_row error, rows=%d: %d", gReaderFormat.traceName,
              frame.height - frame.currentRow, result);
    return result;
  }
  uint32_t left = frame.height - frame.currentRow;
  if (copies == 0) copies = 1;
  if (copies > left) copies = left;
  return kReaderOk;
}

// Brings the decoder to row `wanted` (see the state comment at the top).
int32_t PositionDecoder(ImageBlockBase& image, const RowBuffer& row, uint32_t wanted) {
  ReaderFrameState& frame = image.frame;
  if (frame.repositionNeeded == 0 && wanted >= frame.currentRow) {
    if (wanted - frame.currentRow < frame.carriedRows) {
      frame.carriedRows -= wanted - frame.currentRow;
      frame.currentRow = wanted;
      return kReaderOk;
    }
    frame.currentRow += frame.carriedRows;
    frame.carriedRows = 0;
  } else {
    uint32_t reached = 0;
    frame.carriedRows = 0;
    int32_t result = gReaderFormat.rewind(image, wanted, reached);
    if (result != kReaderOk) return result;
    if (reached > wanted) return kReaderCorrupt;
    frame.currentRow = reached;
    frame.repositionNeeded = 0;
  }
  while (frame.currentRow < wanted) {
    if (frame.currentRow >= frame.height) return ReadFailed();
    uint32_t copies = 1;
    int32_t result = DecodeAtCurrent(image, row.all(), copies);
    if (result != kReaderOk) return result;
    if (copies > wanted - frame.currentRow) {
      frame.carriedRows = copies - (wanted - frame.currentRow);
      frame.currentRow = wanted;
    } else {
      frame.currentRow += copies;
    }
  }
  return kReaderOk;
}

// Top-down delivery: the first row into the top slot (the last in memory).
int32_t ReadTopDown(ImageBlockBase& image, const RowBuffer& row, uint8_t* buffer, uint32_t rows,
                    uint32_t stride, uint32_t offset, ProgressRecord* progress) {
  ReaderFrameState& frame = image.frame;
  const bool direct = DecodesDirect(frame, stride, offset);
  for (uint32_t i = 0; i < rows; ++i) {
    std::span<uint8_t> dest(buffer + static_cast<size_t>(rows - 1 - i) * stride, stride);
    TraceHook(32, "\t%s%d", gReaderFormat.traceName, rows - i);
    if (frame.carriedRows == 0) {
      if (frame.currentRow >= frame.height) return ReadFailed();
      uint32_t copies = 1;
      std::span<uint8_t> out = direct ? dest.first(frame.decodedRowBytes) : row.all();
      int32_t result = DecodeAtCurrent(image, out, copies);
      if (result != kReaderOk) return result;
      if (!direct) {
        Deliver(image, row.decoded(), dest, offset);
      } else if (copies > 1) {
        std::memcpy(row.decoded().data(), dest.data(), frame.decodedRowBytes);
      }
      frame.carriedRows = copies - 1;
    } else {
      Deliver(image, row.decoded(), dest, offset);
      --frame.carriedRows;
    }
    ++frame.currentRow;
    if (!ReportProgress(progress, stride, gReaderFormat.cancellable)) return kReaderCancelled;
  }
  return kReaderOk;
}

// Bottom-up delivery for formats that store the picture bottom row first: the
// last wanted row is decoded first into the bottom slot. No replication; the
// current row moves by the whole count only when every row was delivered.
int32_t ReadBottomUp(ImageBlockBase& image, const RowBuffer& row, uint8_t* buffer, uint32_t rows,
                     uint32_t stride, uint32_t offset, ProgressRecord* progress) {
  ReaderFrameState& frame = image.frame;
  if (frame.carriedRows != 0 || static_cast<uint64_t>(frame.currentRow) + rows > frame.height) {
    return ReadFailed();
  }
  const bool direct = DecodesDirect(frame, stride, offset);
  for (uint32_t i = 0; i < rows; ++i) {
    std::span<uint8_t> dest(buffer + static_cast<size_t>(i) * stride, stride);
    std::span<uint8_t> out = direct ? dest.first(frame.decodedRowBytes) : row.all();
    uint32_t copies = 1;
    int32_t result = gReaderFormat.decodeRow(image, frame.currentRow + rows - 1 - i, out, copies);
    if (result != kReaderOk) {
      frame.repositionNeeded = 1;
      return result;
    }
    if (!direct) Deliver(image, row.decoded(), dest, offset);
    if (!ReportProgress(progress, stride, gReaderFormat.cancellable)) {
      frame.repositionNeeded = 1;
      return kReaderCancelled;
    }
  }
  frame.currentRow += rows;
  return kReaderOk;
}

}  // namespace

int32_t ReadRows(ImageBlockBase& image, uint8_t* buffer, uint32_t rows, uint32_t stride,
                 uint32_t offset, ProgressRecord* progress) {
  if (rows == 0) return kReaderOk;
  if (buffer == nullptr) return kReaderUnsupported;
  if (image.head.file == 0) return ReadFailed();
  int32_t result = EnsureDescribed(image);
  if (result != kReaderOk) return result;
  RowBuffer row(image);
  if (!row) return NoMemory();
  if (image.frame.repositionNeeded != 0) {
    result = PositionDecoder(image, row, image.frame.currentRow);
    if (result != kReaderOk) return result;
  }
  RowOrder order = RowOrder::kTopDown;
  if (gReaderFormat.beginRows != nullptr) {
    result = gReaderFormat.beginRows(image, image.frame.currentRow, rows, order);
    if (result != kReaderOk) return result;
  }
  if (order == RowOrder::kBottomUp) {
    return ReadBottomUp(image, row, buffer, rows, stride, offset, progress);
  }
  return ReadTopDown(image, row, buffer, rows, stride, offset, progress);
}

int32_t SetRow(ImageBlockBase& image, uint32_t wanted) {
  if (image.head.file == 0) return ReadFailed();
  int32_t result = EnsureDescribed(image);
  if (result != kReaderOk) return result;
  if (wanted > image.frame.height) return ReadFailed();
  RowBuffer row(image);
  if (!row) return NoMemory();
  return PositionDecoder(image, row, wanted);
}

}  // namespace reader::detail
