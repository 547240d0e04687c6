// The BMP writer: headers at begin, the host's rows copied into place, the
// file size patched in at the end.
//
// Row order. Without the option "FORWARD" = "ON" (any case) the host delivers
// the bottom of the image first and each block is appended (flags 249). With
// it the host delivers the top first (flags 248); each block is placed just in
// front of the one before it, the first block ending at the end of the pixel
// area. Either way every block goes to the absolute position its rows have in
// the file, worked out from the rows delivered so far: the order chosen at
// begin is kept, and a short write never shifts the rows after it.
#include <bit>
#include <cstddef>

#include "bmp_layout.h"
#include "plugin/writer_frame.h"
#include "plugin/writer_module.h"

namespace wrbmp {
namespace {

static_assert(std::endian::native == std::endian::little,
              "headers are written as they lie in memory");

constexpr uint32_t kFlagsTopFirst = 248;
constexpr uint32_t kFlagsBottomFirst = 249;
constexpr int32_t kFileSizeFieldOffset = offsetof(BITMAPFILEHEADER, bfSize);

struct BmpBlock {
  ExportBlockHead head;
  BITMAPINFOHEADER image;  // the host's header, as given
  BmpLayout layout;
  uint32_t topFirst;       // 1: "FORWARD" "ON"
  uint32_t rowsDelivered;  // rows written (or attempted) so far
  uint32_t exportFailed;   // a write came up short or a block was refused
};

bool ForwardRequested(HGLOBAL options) {
  const writer::OptionText text(options);
  const auto value = text.find("FORWARD");
  return value.has_value() && writer::EqualsIgnoringCase(*value, "ON");
}

// A header written short is reported and the export goes on; the file is then
// not valid, so the export as a whole fails at its end.
void WriteHeaders(BmpBlock& block, const BITMAPINFOHEADER* hostRecord) {
  const BITMAPFILEHEADER fileHeader{kBmpSignature, 0, 0, 0, block.layout.pixelOffset};
  if (!writer::WriteAll(block.head, &fileHeader, kFileHeaderSize)) {
    writer::ReportError(kWriterErrorHeader, block.head.fileName);
    block.exportFailed = 1;
  }
  // The 40-byte header and its colour table lie one after the other in the host's record.
  if (!writer::WriteAll(block.head, hostRecord, kInfoHeaderSize + block.layout.colourTableBytes)) {
    writer::ReportError(kWriterErrorHeader, block.head.fileName);
    block.exportFailed = 1;
  }
}

bool Accepts(const BITMAPINFOHEADER& image) {
  return LayoutFor(image).has_value();
}

bool Begin(ExportBlockHead& head, writer::BeginCall& call) {
  BmpBlock& block = writer::BlockOf<BmpBlock>(head);
  const std::optional<BmpLayout> layout = LayoutFor(*call.image);
  if (!layout) return false;  // Accepts() let it through: cannot happen
  block.image = *call.image;
  block.layout = *layout;
  WriteHeaders(block, call.image);
  block.topFirst = ForwardRequested(call.options) ? 1 : 0;
  call.flags = block.topFirst != 0 ? kFlagsTopFirst : kFlagsBottomFirst;
  return true;
}

int32_t FailExport(BmpBlock& block) {
  block.exportFailed = 1;
  writer::ReportError(kWriterErrorWrite, block.head.fileName);
  return kWriterWriteFailed;
}

// Writes one block of rows at its place in the file, in pieces (see
// WriteChunked). Refused without writing (error 3, 204): a stride below the
// padded row (the host's rows would not fill the file's rows) and rows beyond
// biHeight (they would land outside the pixel area). A stride above the padded
// row writes the padded row of each.
int32_t WriteRows(ExportBlockHead& head, const writer::RowBlock& rows, ExportProgress* progress) {
  BmpBlock& block = writer::BlockOf<BmpBlock>(head);
  const BmpLayout& layout = block.layout;
  if (rows.stride < layout.rowBytes || rows.count > layout.rows - block.rowsDelivered) {
    return FailExport(block);
  }
  // File row (0 = the image's bottom row) of the block's bottom row.
  const uint32_t firstRow = block.topFirst != 0 ? layout.rows - block.rowsDelivered - rows.count
                                                : block.rowsDelivered;
  block.rowsDelivered += rows.count;
  // Within kMaxFileSize, which fits the host's signed 32-bit positions.
  const int64_t position = layout.pixelOffset + static_cast<int64_t>(firstRow) * layout.rowBytes;
  if (writer::Seek(head, static_cast<int32_t>(position), 0) != position) return FailExport(block);

  bool allWritten = true;
  if (rows.stride == layout.rowBytes) {
    allWritten = writer::WriteChunked(head, rows.data,
                                      static_cast<uint64_t>(rows.count) * layout.rowBytes, position,
                                      progress);
  } else {
    for (uint32_t i = 0; i < rows.count; ++i) {
      const int64_t rowPosition = position + static_cast<int64_t>(i) * layout.rowBytes;
      allWritten &= writer::WriteChunked(head, rows.rowFromBottom(i), layout.rowBytes,
                                         rowPosition, progress);
    }
  }
  return allWritten ? kWriterOk : FailExport(block);
}

bool PatchFileSize(const ExportBlockHead& head) {
  const int32_t size = writer::Seek(head, 0, 2);
  if (size < 0) return false;
  const auto value = static_cast<uint32_t>(size);
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return writer::Seek(head, kFileSizeFieldOffset, 0) == kFileSizeFieldOffset &&
         writer::WriteAll(head, bytes, sizeof bytes);
}

// Patches the file size into the header. Fails (204) when that write comes up
// short (error 3), when an earlier write failed (reported then), or when the
// host stopped before delivering every row (no report: the host knows why).
int32_t Finish(ExportBlockHead& head, ExportProgress* /*progress*/) {
  BmpBlock& block = writer::BlockOf<BmpBlock>(head);
  const bool complete = block.exportFailed == 0 && block.rowsDelivered == block.layout.rows;
  if (!PatchFileSize(head)) {
    writer::ReportError(kWriterErrorWrite, head.fileName);
    return kWriterWriteFailed;
  }
  return complete ? kWriterOk : kWriterWriteFailed;
}

}  // namespace
}  // namespace wrbmp

namespace writer {

constinit const FormatDescriptor kWriterFormat{
    .extensionText = "BMP;Windows Bitmap (*.bmp)",
    .moduleName = "OVGwrbmp.DEL",
    .hostInfoFlags = wrbmp::kFlagsBottomFirst,
    .beginFlags = wrbmp::kFlagsTopFirst,
    .usesOptionGetter = false,
    .blockAllocFlags = GHND,
    .blockSize = sizeof(wrbmp::BmpBlock),
    .attach = nullptr,
    .acceptsImage = wrbmp::Accepts,
    .refusedErrorId = kWriterErrorHeader,
    .openFile = nullptr,
    .begin = wrbmp::Begin,
    .writeRows = wrbmp::WriteRows,
    .finish = wrbmp::Finish,
    .release = nullptr,
};

}  // namespace writer

WRITER_PLUGIN_MODULE(WRITER_COMMON_STRINGS)
