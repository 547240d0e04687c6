// The TIFF writer: rows encoded into the StripBuffer, written strip by strip,
// the directory laid out behind the image data and linked in at the end.
//
// Failures: a write that comes up short reports error 3 once; that call and
// every later one (end_write included) return 204, and nothing more is
// written, so an appended page never gets linked into a file whose data is
// incomplete. Rows beyond biHeight and a stride below the row's bytes are
// refused unwritten (error 3, 204); the export goes on without them.
#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "plugin/pixel_order.h"
#include "plugin/writer_module.h"
#include "tiff_block.h"
#include "tiff_encoders.h"
#include "winport/memory.h"

namespace wrtiff {
namespace {

constexpr uint8_t kReturnToControl[9] = {0x00, 0x10, 0x01, 0x00, 0x10, 0x01, 0x00, 0x10, 0x01};

// A failure that leaves the file incomplete: reported once, and nothing more
// is written.
int32_t Fail(TiffBlock& block) {
  if (block.failed == 0) writer::ReportError(kWriterErrorWrite, block.head.fileName);
  block.failed = 1;
  return kWriterWriteFailed;
}

// Rows the export cannot take (beyond biHeight, or a stride below the row's
// bytes): refused unwritten, while the rows already taken still make a file.
int32_t RefuseRows(TiffBlock& block) {
  writer::ReportError(kWriterErrorWrite, block.head.fileName);
  return kWriterWriteFailed;
}

// True for the coders that set bits into zeroed bytes (the CCITT ones); the
// others write every byte they count, so the buffer need not be cleared for them.
bool CodesBits(const TiffBlock& block) {
  return block.compression >= kCompressionModifiedHuffman &&
         block.compression <= kCompressionGroup4;
}

// Writes the whole bytes waiting (bit-reversed for fill order 2) and clears
// them for the bit coders. Inside a strip a Group 4 byte still being filled
// moves to the front.
bool Flush(TiffBlock& block, bool insideStrip) {
  const uint32_t used = block.bufferUsed;
  std::span<uint8_t> bytes(block.buffer, used);
  if (block.fillOrder2 != 0) ReverseBits(bytes);
  const bool written = PutBytes(block, block.buffer, used);
  if (CodesBits(block)) std::memset(block.buffer, 0, used);
  if (insideStrip && block.bitPosition != 0 && used < block.bufferCapacity) {
    std::swap(block.buffer[0], block.buffer[used]);
  }
  block.bufferUsed = 0;
  return written;
}

// Group 4 closes a strip on a byte boundary: the partly filled byte counts
// as data, or a 0 byte when the last row ended on a boundary.
void CloseStrip(TiffBlock& block) {
  if (block.compression != kCompressionGroup4) return;
  // The headroom leaves room after every row; the bound only guards it.
  if (block.bufferUsed < block.bufferCapacity) ++block.bufferUsed;
  block.bitPosition = 0;
}

void ResetReference(TiffBlock& block) {
  if (block.referenceList == nullptr) return;
  block.referenceList[0] = block.referenceList[1] = block.referenceList[2] = block.width;
}

// Records the new strip's offset and the finished strip's length.
bool StartStrip(TiffBlock& block) {
  TiffEntry* offsets = FindEntry(block.entries, 273);
  TiffEntry* counts = FindEntry(block.entries, 279);
  if (offsets == nullptr || counts == nullptr || block.stripsStarted >= block.plannedStrips) {
    return false;
  }
  const auto position = static_cast<uint32_t>(block.position);
  if (block.stripsStarted > 0 &&
      !StoreValue(*counts, static_cast<uint32_t>(block.position - block.stripStart))) {
    return false;
  }
  if (!StoreValue(*offsets, position)) return false;
  block.stripStart = block.position;
  block.rowsLeftInStrip = block.rowsPerStrip;
  ++block.stripsStarted;
  ResetReference(block);
  return true;
}

// The row as the coders want it: red before blue for 24 bits, and 1-bit rows
// of an inverted colour table flipped so that a 1 bit is white.
// `out` (bytesPerRow bytes) takes the prepared row, or null: the block's
// scratch row does, unless the row needs no change.
const uint8_t* PrepareRow(TiffBlock& block, const uint8_t* row, uint8_t* out = nullptr) {
  if (out == nullptr) out = block.scratchRow;
  if (block.image.biBitCount == 24) {
    pixels::SwapRedBlue(row, out, block.width);
    return out;
  }
  if (block.invertPixels != 0) {
    for (uint32_t i = 0; i < block.bytesPerRow; ++i) out[i] = static_cast<uint8_t>(~row[i]);
    return out;
  }
  return row;
}

// Encodes one row at the fill position; false when it did not fit (which the
// headroom rules out).
bool EncodeRow(TiffBlock& block, const uint8_t* row, bool firstInStrip) {
  const std::span<uint8_t> free(block.buffer + block.bufferUsed,
                                block.bufferCapacity - block.bufferUsed);
  if (block.compression == kCompressionNone) {  // prepared straight into the buffer
    if (free.size() < block.bytesPerRow) return false;
    if (PrepareRow(block, row, free.data()) == row) std::memcpy(free.data(), row, block.bytesPerRow);
    block.bufferUsed += block.bytesPerRow;
    return true;
  }
  const uint8_t* prepared = PrepareRow(block, row);
  if (block.compression == kCompressionPackBits) {
    bool overflow = false;
    const size_t used = EncodePackBits({prepared, block.bytesPerRow}, free, overflow);
    block.bufferUsed += static_cast<uint32_t>(used);
    return !overflow;
  }
  BitWriter out{free};
  out.bit = block.bitPosition;
  BuildChangeList(prepared, block.width, block.codingList);
  if (block.compression == kCompressionGroup4) {
    EncodeGroup4Row(out, block.codingList, block.referenceList, block.width);
    std::swap(block.codingList, block.referenceList);
    block.bitPosition = out.bit;
    block.bufferUsed += static_cast<uint32_t>(out.byte);
    return !out.overflow;
  }
  // Group 3 begins every strip with an end-of-line, so that a reader decoding
  // strip by strip finds one before the strip's first row.
  if (block.compression == kCompressionGroup3 && firstInStrip) out.endOfLine();
  EncodeModifiedHuffmanRow(out, block.codingList, block.width);
  if (block.compression == kCompressionGroup3) out.endOfLine();
  block.bufferUsed += static_cast<uint32_t>(out.bytesTouched());
  return !out.overflow;
}

// Steps 1 to 5 for one row: flush at a strip's end or when the headroom is
// gone, start a strip, report progress, encode.
int32_t WriteOneRow(TiffBlock& block, const uint8_t* row, uint32_t stride,
                    ExportProgress* progress) {
  const bool stripDone = block.rowsLeftInStrip == 0;
  if (stripDone && block.stripsStarted > 0) CloseStrip(block);
  const bool low = block.bufferCapacity - block.bufferUsed < block.headroom;
  if ((stripDone || low) && block.bufferUsed > 0 && !Flush(block, !stripDone)) {
    return kWriterWriteFailed;
  }
  if (stripDone && !StartStrip(block)) return Fail(block);
  if (!writer::AdvanceProgress(progress, stride)) return kWriterCancelled;
  if (!EncodeRow(block, row, block.rowsLeftInStrip == block.rowsPerStrip)) return Fail(block);
  --block.rowsLeftInStrip;
  ++block.rowsWritten;
  return kWriterOk;
}

int32_t WriteRows(ExportBlockHead& head, const writer::RowBlock& rows, ExportProgress* progress) {
  TiffBlock& block = writer::BlockOf<TiffBlock>(head);
  if (block.failed != 0) return kWriterWriteFailed;
  if (rows.stride < block.bytesPerRow) return RefuseRows(block);
  const uint32_t room = block.height - block.rowsWritten;
  const uint32_t count = std::min(rows.count, room);
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t result = WriteOneRow(block, rows.rowFromTop(i), rows.stride, progress);
    if (result != kWriterOk) return result;
  }
  return rows.count > room ? RefuseRows(block) : kWriterOk;
}

// Writes `value` as 32 bits in the file's byte order at `position`.
bool PatchLong(TiffBlock& block, uint32_t position, uint32_t value) {
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    const int shift = block.intel != 0 ? 8 * i : 8 * (3 - i);
    bytes[i] = static_cast<uint8_t>(value >> shift);
  }
  const int64_t reached = writer::Seek(block.head, static_cast<int32_t>(position), 0);
  if (reached != int64_t{position} || !writer::WriteAll(block.head, bytes, sizeof bytes)) {
    writer::ReportError(kWriterErrorWrite, block.head.fileName);
    block.failed = 1;
    return false;
  }
  return true;
}

// The last strip's data (Group 3 ends the image with its return-to-control
// sequence), the last strip length, the arrays and the IFD, then the link.
int32_t Finish(ExportBlockHead& head, ExportProgress* /*progress*/) {
  TiffBlock& block = writer::BlockOf<TiffBlock>(head);
  if (block.failed != 0) return kWriterWriteFailed;
  if (block.stripsStarted == 0 && !StartStrip(block)) return Fail(block);
  if (block.compression == kCompressionGroup3) {
    if (block.bufferCapacity - block.bufferUsed < sizeof kReturnToControl && !Flush(block, false)) {
      return kWriterWriteFailed;
    }
    std::memcpy(block.buffer + block.bufferUsed, kReturnToControl, sizeof kReturnToControl);
    block.bufferUsed += sizeof kReturnToControl;
  }
  CloseStrip(block);
  if (!Flush(block, false)) return kWriterWriteFailed;
  TiffEntry* counts = FindEntry(block.entries, 279);
  if (counts == nullptr ||
      !StoreValue(*counts, static_cast<uint32_t>(block.position - block.stripStart))) {
    return Fail(block);
  }
  uint32_t ifdPosition = 0;
  const std::vector<uint8_t> tail =
      LayOutDirectory(block.entries, block.intel != 0, static_cast<uint64_t>(block.position),
                      ifdPosition);
  if (tail.empty()) return Fail(block);
  if (!PutBytes(block, tail.data(), static_cast<uint32_t>(tail.size())) ||
      !PatchLong(block, block.linkPosition, ifdPosition)) {
    return kWriterWriteFailed;
  }
  return kWriterOk;
}

bool Accepts(const BITMAPINFOHEADER& image) {
  const uint16_t bits = image.biBitCount;
  return (bits == 1 || bits == 4 || bits == 8 || bits == 24) && image.biCompression == BI_RGB &&
         image.biWidth > 0 && image.biWidth <= kMaxWidth && image.biHeight > 0;
}

// Appends to an existing file (opened for reading and writing), else creates one.
bool OpenFile(writer::BeginCall& call, uint32_t* handle) {
  uint32_t probe = 0;
  const bool exists = call.files->open(call.file, kOpenExist, &probe) == 1;
  call.openMode = exists ? kOpenReadWrite : kOpenCreate;
  return call.files->open(call.file, call.openMode, handle) == 1;
}

bool Begin(ExportBlockHead& head, writer::BeginCall& call) {
  TiffBlock& block = writer::BlockOf<TiffBlock>(head);
  call.flags = kWriterFlags;
  return SetUpExport(block, call);
}

void Release(ExportBlockHead& head) {
  TiffBlock& block = writer::BlockOf<TiffBlock>(head);
  FreeEntries(block.entries);
  for (void* memory : {static_cast<void*>(block.buffer), static_cast<void*>(block.scratchRow),
                       static_cast<void*>(block.referenceList),
                       static_cast<void*>(block.codingList)}) {
    if (memory != nullptr) LocalFree(memory);
  }
  block.buffer = block.scratchRow = nullptr;
  block.referenceList = block.codingList = nullptr;
}

}  // namespace
}  // namespace wrtiff

namespace writer {

constinit const FormatDescriptor kWriterFormat{
    .extensionText = "TIF;Tag Image File Format (*.tif)",
    .moduleName = "OVGwrtiff.DEL",
    .hostInfoFlags = wrtiff::kWriterFlags,
    .beginFlags = wrtiff::kWriterFlags,
    .usesOptionGetter = true,
    .blockAllocFlags = GHND | GMEM_DDESHARE,
    .blockSize = sizeof(wrtiff::TiffBlock),
    .attach = nullptr,
    .acceptsImage = wrtiff::Accepts,
    .refusedErrorId = kWriterErrorHeader,
    .openFile = wrtiff::OpenFile,
    .begin = wrtiff::Begin,
    .writeRows = wrtiff::WriteRows,
    .finish = wrtiff::Finish,
    .release = wrtiff::Release,
};

}  // namespace writer

WRITER_PLUGIN_MODULE(WRITER_COMMON_STRINGS)
