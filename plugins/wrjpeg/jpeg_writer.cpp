// The JPEG writer: headers at begin, rows converted into 16-row groups, each
// group coded as one MCU row into the output buffer, which is written once per
// 16 rows; the end codes what is pending and closes the stream.
//
// Failures: a write of coded data that comes up short reports error 3 once;
// that call and every later one (end_write included) return 204 and nothing
// more is written. A header write that comes up short reports error 2 and
// the export goes on, but end_write returns 204. Rows beyond biHeight and a
// stride below the DIB row's bytes are refused uncoded (error 3, 204); an
// export that ends before biHeight rows arrived ends with 204 too.
//
// Blocks that reach past the image's right or bottom edge are filled by
// repeating its last column and row, and the file ends at its EOI marker.
#include <algorithm>
#include <cstring>
#include <limits>

#include "jpeg_block.h"
#include "jpeg_headers.h"
#include "plugin/writer_frame.h"
#include "plugin/writer_module.h"

namespace wrjpeg {
namespace {

// The decimal integer at the start of `text` (spaces, then an optional sign),
// as an unsigned number: a negative value wraps to a large one. Values beyond
// 32 bits saturate; text without digits is 0.
uint32_t ParseQuality(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = std::min<int64_t>(value * 10 + (*text - '0'), int64_t{1} << 32);
  }
  if (negative) value = std::max<int64_t>(-value, std::numeric_limits<int32_t>::min());
  value = std::min<int64_t>(value, std::numeric_limits<uint32_t>::max());
  return static_cast<uint32_t>(value);
}

uint32_t ReadQuality(HGLOBAL options) {
  writer::OptionValue value;
  if (!writer::LookupOption(options, "LOSSY_QUALITY", value)) return kDefaultQuality;
  return ParseQuality(value.data());
}

bool Allocate(WorkBuffer& buffer, size_t bytes) {
  buffer.handle = GlobalAlloc(GHND, bytes);
  if (buffer.handle == 0) return false;
  buffer.bytes = static_cast<uint8_t*>(GlobalLock(buffer.handle));
  return buffer.bytes != nullptr;
}

void Free(WorkBuffer& buffer) {
  if (buffer.handle != 0) {
    if (buffer.bytes != nullptr) GlobalUnlock(buffer.handle);
    GlobalFree(buffer.handle);
  }
  buffer = WorkBuffer{0, nullptr};
}

// Writes `count` coded bytes. A short write is reported once and stops the export.
bool PutBytes(JpegBlock& block, const uint8_t* bytes, uint32_t count) {
  if (block.failed != 0) return false;
  const bool written = writer::WriteChunked(block.head, bytes, count, block.filePosition, nullptr);
  block.filePosition += count;
  if (!written) {
    writer::ReportError(kWriterErrorWrite, block.head.fileName);
    block.failed = 1;
  }
  return written;
}

// Writes the complete bytes of the output buffer and moves the byte being
// filled to its start.
bool FlushOutput(JpegBlock& block) {
  const auto complete = static_cast<uint32_t>(block.outputLength);
  const bool written = PutBytes(block, block.output, complete);
  block.output[0] = block.output[complete];
  std::memset(block.output + 1, 0, complete);
  block.outputLength = 0;
  return written;
}

BitSink OpenSink(const JpegBlock& block) {
  const uint32_t used = 8 - static_cast<uint32_t>(block.bitPosition);
  const uint8_t partial = block.output[block.outputLength];
  return BitSink{block.output, static_cast<uint32_t>(block.outputLength),
                 static_cast<uint64_t>(partial >> block.bitPosition), used};
}

void CloseSink(JpegBlock& block, BitSink& sink) {
  sink.drain();
  block.outputLength = static_cast<int32_t>(sink.length);
  block.output[sink.length] = static_cast<uint8_t>(sink.pending << (8 - sink.bits));
  block.bitPosition = static_cast<int32_t>(8 - sink.bits);
}

void EncodeOneBlock(JpegBlock& block, const uint8_t* samples, uint32_t stride, uint32_t component,
                    BitSink& sink) {
  const bool luminance = component == 0;
  int32_t zigzag[64];
  LoadBlock(samples, stride, block.coefficients);
  ForwardDct(block.coefficients);
  Quantise(block.coefficients, block.quantisers[luminance ? 0 : 1], zigzag);
  EncodeBlock(zigzag, block.dcPredictor[component],
              block.huffman[luminance ? kDcLuminance : kDcChrominance],
              block.huffman[luminance ? kAcLuminance : kAcChrominance], sink);
}

// Codes the 16 rows of the row buffers as one MCU row. Before an MCU that
// might not fit, the complete bytes are written out.
bool EncodeMcuRow(JpegBlock& block) {
  const auto width = static_cast<uint32_t>(block.width);
  const auto mcus = static_cast<uint32_t>(block.mcusPerRow);
  const uint32_t yStride = mcus * 16;
  const uint32_t cStride = mcus * 8;
  const size_t plane = static_cast<size_t>(width) * kMcuRows;
  uint8_t* cbPlane = block.chromaPlanes;
  uint8_t* crPlane = block.chromaPlanes + static_cast<size_t>(cStride) * 8;
  FillPlane(block.rowBuffers, width, kMcuRows, block.yPlane, yStride);
  DownsampleChroma(block.rowBuffers + plane, width, cbPlane, cStride);
  DownsampleChroma(block.rowBuffers + 2 * plane, width, crPlane, cStride);

  bool written = true;
  BitSink sink = OpenSink(block);
  for (uint32_t m = 0; m < mcus; ++m) {
    if (block.outputCapacity - sink.length < kMaxMcuBytes) {
      CloseSink(block, sink);
      written &= FlushOutput(block);
      sink = OpenSink(block);
    }
    const uint8_t* y = block.yPlane + static_cast<size_t>(m) * 16;
    EncodeOneBlock(block, y, yStride, 0, sink);
    EncodeOneBlock(block, y + 8, yStride, 0, sink);
    EncodeOneBlock(block, y + static_cast<size_t>(8) * yStride, yStride, 0, sink);
    EncodeOneBlock(block, y + static_cast<size_t>(8) * yStride + 8, yStride, 0, sink);
    EncodeOneBlock(block, cbPlane + static_cast<size_t>(m) * 8, cStride, 1, sink);
    EncodeOneBlock(block, crPlane + static_cast<size_t>(m) * 8, cStride, 2, sink);
  }
  CloseSink(block, sink);
  return written;
}

uint8_t* RowBufferRow(JpegBlock& block, uint32_t component, uint32_t row) {
  const size_t width = static_cast<size_t>(block.width);
  return block.rowBuffers + (component * kMcuRows + row) * width;
}

// Steps for one row: write the output after 16 rows, report progress, convert,
// and code the group once it holds 16 rows.
int32_t TakeRow(JpegBlock& block, const uint8_t* row, uint32_t stride, ExportProgress* progress) {
  if (block.rowsSinceFlush == static_cast<int32_t>(kMcuRows)) {
    block.rowsSinceFlush = 0;
    if (!FlushOutput(block)) return kWriterWriteFailed;
  }
  ++block.rowsSinceFlush;
  if (!writer::AdvanceProgress(progress, stride)) return kWriterCancelled;
  const auto r = static_cast<uint32_t>(block.pendingRows);
  ConvertRow(row, static_cast<uint32_t>(block.width), static_cast<uint32_t>(block.colourCount),
             block.palette, RowBufferRow(block, 0, r), RowBufferRow(block, 1, r),
             RowBufferRow(block, 2, r));
  ++block.rowsTaken;
  if (++block.pendingRows == static_cast<int32_t>(kMcuRows)) {
    block.pendingRows = 0;
    if (!EncodeMcuRow(block)) return kWriterWriteFailed;
  }
  return kWriterOk;
}

int32_t RefuseRows(JpegBlock& block) {
  writer::ReportError(kWriterErrorWrite, block.head.fileName);
  return kWriterWriteFailed;
}

int32_t WriteRows(ExportBlockHead& head, const writer::RowBlock& rows, ExportProgress* progress) {
  JpegBlock& block = writer::BlockOf<JpegBlock>(head);
  if (block.failed != 0) return kWriterWriteFailed;
  if (rows.stride < block.rowBytes) return RefuseRows(block);
  const uint32_t room = static_cast<uint32_t>(block.height) - block.rowsTaken;
  const uint32_t count = std::min(rows.count, room);
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t result = TakeRow(block, rows.rowFromTop(i), rows.stride, progress);
    if (result != kWriterOk) return result;
  }
  return rows.count > room ? RefuseRows(block) : kWriterOk;
}

// The last group: the rows below the image repeat its last row, so that
// neither the 2x2 chroma average of the last row nor the DCT of the bottom
// blocks sees anything that is not in the image.
void PadLastGroup(JpegBlock& block) {
  const auto last = static_cast<uint32_t>(block.pendingRows) - 1;
  for (uint32_t c = 0; c < 3; ++c) {
    for (uint32_t r = last + 1; r < kMcuRows; ++r) {
      std::memcpy(RowBufferRow(block, c, r), RowBufferRow(block, c, last),
                  static_cast<size_t>(block.width));
    }
  }
}

int32_t Finish(ExportBlockHead& head, ExportProgress* /*progress*/) {
  JpegBlock& block = writer::BlockOf<JpegBlock>(head);
  if (block.failed != 0) return kWriterWriteFailed;
  if (block.pendingRows > 0) {
    PadLastGroup(block);
    if (!EncodeMcuRow(block)) return kWriterWriteFailed;
    block.pendingRows = 0;
  }
  // The byte being filled always goes out, its unused low bits 0.
  const uint32_t tail = static_cast<uint32_t>(block.outputLength) + 1;
  if (!PutBytes(block, block.output, tail)) return kWriterWriteFailed;
  if (writer::Seek(head, 0, 2) < 0 || !writer::WriteAll(head, kEndOfImage, sizeof kEndOfImage)) {
    writer::ReportError(kWriterErrorWrite, head.fileName);
    block.failed = 1;
    return kWriterWriteFailed;
  }
  // A file whose headers came up short, or that lacks rows (the host stopped
  // early), is no complete image.
  const bool complete = block.rowsTaken == static_cast<uint32_t>(block.height);
  return complete && block.headerFailed == 0 ? kWriterOk : kWriterWriteFailed;
}

bool Accepts(const BITMAPINFOHEADER& image) {
  const uint16_t bits = image.biBitCount;
  return (bits == 1 || bits == 4 || bits == 8 || bits == 24) && image.biWidth > 0 &&
         image.biWidth <= kMaxDimension && image.biHeight > 0 && image.biHeight <= kMaxDimension;
}

// The header segments; a short write is reported (error 2) and the export
// goes on, to end with 204.
void WriteHeaders(JpegBlock& block, const BITMAPINFOHEADER& image) {
  const JfifDensity density = DensityFor(image.biXPelsPerMeter, image.biYPelsPerMeter);
  const auto prologue = BuildPrologue(density, static_cast<uint32_t>(image.biWidth),
                                      static_cast<uint32_t>(image.biHeight));
  const auto tables = BuildTables(block.quantLuminance, block.quantChrominance);
  bool written = writer::WriteAll(block.head, prologue.data(), kPrologueSize);
  written &= writer::WriteAll(block.head, tables.data(), kTablesSize);
  block.filePosition = kPrologueSize + kTablesSize;
  if (!written) {
    writer::ReportError(kWriterErrorHeader, block.head.fileName);
    block.headerFailed = 1;
  }
}

// Row buffers, output buffer, Y plane and chroma planes. The output buffer
// holds width x 192 bytes, and never less than two worst-case MCUs.
bool AllocateBuffers(JpegBlock& block) {
  const auto width = static_cast<size_t>(block.width);
  const auto mcus = static_cast<size_t>(block.mcusPerRow);
  const size_t output = std::max<size_t>(width * kOutputBytesPerColumn, 2 * size_t{kMaxMcuBytes});
  if (!Allocate(block.rowMemory, width * 3 * kMcuRows) || !Allocate(block.outputBuffer, output) ||
      !Allocate(block.yMemory, kMcuRows * mcus * 16) || !Allocate(block.chromaMemory, 2 * 8 * mcus * 8)) {
    return false;
  }
  block.rowBuffers = block.rowMemory.bytes;
  block.output = block.outputBuffer.bytes;
  block.outputCapacity = static_cast<uint32_t>(output);
  block.yPlane = block.yMemory.bytes;
  block.chromaPlanes = block.chromaMemory.bytes;
  return true;
}

bool Begin(ExportBlockHead& head, writer::BeginCall& call) {
  JpegBlock& block = writer::BlockOf<JpegBlock>(head);
  const BITMAPINFOHEADER& image = *call.image;
  call.flags = kFlagsFromBegin;
  const uint32_t quality = ReadQuality(call.options);
  ScaleQuantTable(kBaseLuminanceQuant, quality, block.quantLuminance);
  ScaleQuantTable(kBaseChrominanceQuant, quality, block.quantChrominance);
  BuildQuantiser(block.quantLuminance, block.quantisers[0]);
  BuildQuantiser(block.quantChrominance, block.quantisers[1]);
  WriteHeaders(block, image);

  block.width = image.biWidth;
  block.height = image.biHeight;
  block.bitPosition = 8;
  block.colourCount = 1 << image.biBitCount;
  block.rowBytes = static_cast<uint32_t>(DibRowBytes(static_cast<uint64_t>(image.biWidth), image.biBitCount));
  if (block.colourCount > 0 && block.colourCount <= 256) {
    std::memcpy(block.palette, reinterpret_cast<const uint8_t*>(&image) + sizeof(BITMAPINFOHEADER),
                sizeof(RGBQUAD) * static_cast<size_t>(block.colourCount));
  }
  for (size_t slot = 0; slot < 4; ++slot) BuildHuffmanCodes(kHuffmanTables[slot], block.huffman[slot]);
  block.mcusPerRow = (block.width + 15) / 16;
  if (!AllocateBuffers(block)) {
    // No flags for this failure: the caller's integer keeps what it held.
    call.reportFlags = false;
    writer::ReportError(kWriterErrorMemory, head.fileName);
    return false;
  }
  return true;
}

void Release(ExportBlockHead& head) {
  JpegBlock& block = writer::BlockOf<JpegBlock>(head);
  for (WorkBuffer* buffer : {&block.rowMemory, &block.outputBuffer, &block.yMemory, &block.chromaMemory}) {
    Free(*buffer);
  }
  block.rowBuffers = block.output = block.yPlane = block.chromaPlanes = nullptr;
}

}  // namespace
}  // namespace wrjpeg

namespace writer {

constinit const FormatDescriptor kWriterFormat{
    .extensionText = "JPG;JPEG (*.JPG)",
    .moduleName = "OV10wrjpeg.DEL",
    .hostInfoFlags = wrjpeg::kFlagsInHostInfo,
    .beginFlags = wrjpeg::kFlagsFromBegin,
    .usesOptionGetter = true,
    .blockAllocFlags = GHND,
    .blockSize = sizeof(wrjpeg::JpegBlock),
    .attach = nullptr,
    .acceptsImage = wrjpeg::Accepts,
    .refusedErrorId = kWriterErrorHeader,
    .openFile = nullptr,
    .begin = wrjpeg::Begin,
    .writeRows = wrjpeg::WriteRows,
    .finish = wrjpeg::Finish,
    .release = wrjpeg::Release,
};

}  // namespace writer

// Ids 1 to 3 of every writer, and 4 for the work buffers.
#define WRJPEG_STRINGS(X) WRITER_COMMON_STRINGS(X) WRITER_MEMORY_STRINGS(X)
WRITER_PLUGIN_MODULE(WRJPEG_STRINGS)
