// The PCX writer: the header at begin, each row split into plane lines and
// run-length coded, the 256-colour palette at the end.
//
// Policies for what the format leaves open:
//   - bit counts other than 1, 4, 8 and 24, non-positive sizes and sizes the
//     16-bit header fields cannot hold are refused at begin (error 2, no file);
//   - a plane line covers bytes-per-line (always even) bytes; what it covers
//     beyond the host's padded row is 0, and no byte past that row is read;
//   - a 1-bit file has no palette: its 0 bits show black. A DIB whose colour
//     table puts the lighter colour first has its bits complemented, so the
//     file shows the picture as the DIB does;
//   - the output buffer belongs to the export (its ExportBlock), so exports
//     running side by side never mix their bytes.
#include <cstddef>
#include <vector>

#include "pcx_encoder.h"
#include "plugin/writer_frame.h"
#include "plugin/writer_module.h"

namespace wrpcx {
namespace {

constexpr uint32_t kFlags = 248;  // rows top first

struct PcxBlock {
  ExportBlockHead head;
  uint32_t colours;                   // 2, 16 or 256 (2 also for 24 bits)
  uint8_t header[kHeaderBytes];       // as written
  uint8_t palette[kPaletteBytes];     // 8 bits: the colour table as red, green, blue
  PlaneLayout layout;
  uint32_t invert;                    // 1: 1-bit pixels are complemented
  uint32_t outputCount;               // bytes waiting in `output`
  uint8_t output[kOutputBufferBytes];
};
static_assert(offsetof(PcxBlock, colours) == sizeof(ExportBlockHead));
static_assert(offsetof(PcxBlock, header) == offsetof(PcxBlock, colours) + 4);
static_assert(offsetof(PcxBlock, palette) == offsetof(PcxBlock, header) + kHeaderBytes);

bool Accepts(const BITMAPINFOHEADER& image) {
  return LayoutFor(image).has_value();
}

uint32_t Lightness(const RGBQUAD& c) {
  return static_cast<uint32_t>(c.rgbRed) + c.rgbGreen + c.rgbBlue;
}

bool Begin(ExportBlockHead& head, writer::BeginCall& call) {
  PcxBlock& block = writer::BlockOf<PcxBlock>(head);
  const std::optional<PlaneLayout> layout = LayoutFor(*call.image);
  if (!layout) return false;  // Accepts() let it through: cannot happen
  block.layout = *layout;
  block.colours = layout->colours;
  // The colour table follows the 40-byte header in the host's record.
  const auto* table = reinterpret_cast<const RGBQUAD*>(call.image + 1);
  const std::span<const RGBQUAD> colours(table, layout->dibBits <= 8 ? layout->colours : 0);
  if (layout->dibBits == 8) {
    for (size_t i = 0; i < colours.size(); ++i) {
      block.palette[3 * i] = colours[i].rgbRed;
      block.palette[3 * i + 1] = colours[i].rgbGreen;
      block.palette[3 * i + 2] = colours[i].rgbBlue;
    }
  }
  block.invert = layout->dibBits == 1 && Lightness(colours[0]) > Lightness(colours[1]) ? 1 : 0;
  BuildHeader(*layout, *call.image, colours, std::span<uint8_t, kHeaderBytes>(block.header));
  if (!writer::WriteAll(head, block.header, kHeaderBytes)) {
    writer::ReportError(kWriterErrorHeader, head.fileName);
  }
  block.outputCount = 0;
  call.flags = kFlags;
  return true;
}

bool FlushToHost(void* context, const uint8_t* bytes, uint32_t count) {
  return writer::WriteAll(*static_cast<const ExportBlockHead*>(context), bytes, count);
}

RunCoder CoderOf(PcxBlock& block) {
  return RunCoder(std::span<uint8_t, kOutputBufferBytes>(block.output), block.outputCount,
                  FlushToHost, &block.head);
}

int32_t WriteFailed(const ExportBlockHead& head) {
  writer::ReportError(kWriterErrorWrite, head.fileName);
  return kWriterWriteFailed;
}

// Codes the block's rows from its top down. A cancelled progress report stops
// before the row it was made for (215); a short write stops after the row it
// happened in (error 3, 204).
int32_t WriteRows(ExportBlockHead& head, const writer::RowBlock& rows, ExportProgress* progress) {
  PcxBlock& block = writer::BlockOf<PcxBlock>(head);
  const PlaneLayout& layout = block.layout;
  std::vector<uint8_t> lines(static_cast<size_t>(layout.planes) * layout.bytesPerLine);
  RunCoder coder = CoderOf(block);
  for (uint32_t i = 0; i < rows.count; ++i) {
    if (!writer::AdvanceProgress(progress, rows.stride)) return kWriterCancelled;
    SplitRow(layout, std::span<const uint8_t>(rows.rowFromTop(i), rows.stride), block.invert != 0,
             lines);
    for (uint32_t p = 0; p < layout.planes; ++p) {
      const std::span<const uint8_t> line(lines.data() + static_cast<size_t>(p) * layout.bytesPerLine,
                                          layout.bytesPerLine);
      if (!coder.codeLine(line)) return WriteFailed(head);
    }
  }
  return kWriterOk;
}

// Writes the buffered bytes, then (256 colours) the marker and the palette.
int32_t Finish(ExportBlockHead& head, ExportProgress* /*progress*/) {
  PcxBlock& block = writer::BlockOf<PcxBlock>(head);
  int32_t result = kWriterOk;
  if (!CoderOf(block).drain()) result = WriteFailed(head);
  if (block.colours == 256) {
    const uint8_t marker = kPaletteMarker;
    if (!writer::WriteAll(head, &marker, 1) || !writer::WriteAll(head, block.palette, kPaletteBytes)) {
      result = WriteFailed(head);
    }
  }
  return result;
}

}  // namespace
}  // namespace wrpcx

namespace writer {

constinit const FormatDescriptor kWriterFormat{
    .extensionText = "PCX;PC Paintbrush (*.pcx)",
    .moduleName = "OV10wrpcx.DEL",
    .hostInfoFlags = wrpcx::kFlags,
    .beginFlags = wrpcx::kFlags,
    .usesOptionGetter = false,
    .blockAllocFlags = GHND,
    .blockSize = sizeof(wrpcx::PcxBlock),
    .attach = nullptr,
    .acceptsImage = wrpcx::Accepts,
    .refusedErrorId = kWriterErrorHeader,
    .openFile = nullptr,
    .begin = wrpcx::Begin,
    .writeRows = wrpcx::WriteRows,
    .finish = wrpcx::Finish,
    .release = nullptr,
};

}  // namespace writer

WRITER_PLUGIN_MODULE(WRITER_COMMON_STRINGS)
