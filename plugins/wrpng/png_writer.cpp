// The PNG writer: the signature and the chunks before the image data at
// begin, each row filtered and deflated as it arrives (top row first), the
// compressed stream cut into IDAT chunks, IEND at the end. Memory stays at a
// few rows plus zlib's window, whatever the height.
//
// Policies:
//   - 1, 4 and 8 bits become a grey file when the colour table is the grey
//     ramp from black to white, else a palette file with the whole table;
//     24 bits become 8-bit RGB; 48 bits (three little-endian 16-bit samples,
//     blue first, a bit count the older writers do not take) 16-bit RGB;
//   - pHYs carries the DIB's pixels per metre when both are positive;
//   - the option "PNG_COMPRESSION" is the deflate level: a decimal 0 to 9
//     (spaces around it allowed); absent or anything else gives 6. Level 0
//     also leaves the rows unfiltered;
//   - a header written short reports error 2 and the export goes on; a data
//     write that comes up short reports error 3 once, and that call and every
//     later one return 204 with nothing more written (the stream is broken);
//   - rows beyond the height, or a stride shorter than a row, are refused
//     (error 3, 204); an export that ends before every row arrived is ended
//     with a well-formed file and 204;
//   - work memory that cannot be had at begin reports error 4 and fails it.
#include <zlib.h>

#include <cstring>
#include <new>
#include <vector>

#include "plugin/writer_frame.h"
#include "plugin/writer_module.h"
#include "png_layout.h"
#include "png_rows.h"

namespace wrpng {
namespace {

// Rows top first (bit 0 clear); bit 8 tells the host it may hand 48-bit rows.
constexpr uint32_t kFlags = 248 | 256;
constexpr int kDefaultLevel = 6;
// One IDAT chunk, framing included, goes out in one write.
constexpr uint32_t kIdatData = writer::kMaxWriteChunk - kChunkOverhead;

// The work state behind the block. It lives on the heap: zlib's stream must
// not move, and the block is movable memory.
struct PngWork {
  z_stream stream{};
  bool streamReady = false;
  std::vector<uint8_t> row, previous, filtered, scratch;
  std::vector<uint8_t> chunk;  // 8 framing bytes, kIdatData data bytes, the CRC
};

struct PngBlock {
  ExportBlockHead head;
  PngLayout layout;
  uint32_t level;
  uint32_t rowsWritten;
  uint32_t broken;  // 1: a data write came up short
  PngWork* work;
};

const RGBQUAD* ColourTable(const BITMAPINFOHEADER& image) {
  return reinterpret_cast<const RGBQUAD*>(&image + 1);
}

std::span<const RGBQUAD> ColoursOf(const BITMAPINFOHEADER& image) {
  return {ColourTable(image), image.biBitCount <= 8 ? (1u << image.biBitCount) : 0u};
}

bool Accepts(const BITMAPINFOHEADER& image) {
  return LayoutFor(image, ColoursOf(image)).has_value();
}

// The deflate level from the option text.
int ReadLevel(HGLOBAL options) {
  writer::OptionValue value;
  if (!writer::LookupOption(options, "PNG_COMPRESSION", value)) return kDefaultLevel;
  const char* text = value.data();
  while (*text == ' ') ++text;
  if (*text < '0' || *text > '9') return kDefaultLevel;
  const int level = *text++ - '0';
  while (*text == ' ') ++text;
  return *text == '\0' ? level : kDefaultLevel;
}

bool StartWork(PngBlock& block) {
  auto* work = new (std::nothrow) PngWork;
  if (work == nullptr) return false;
  block.work = work;
  const size_t rowBytes = block.layout.rowBytes;
  try {
    work->row.resize(rowBytes);
    work->previous.assign(rowBytes, 0);
    work->filtered.resize(rowBytes + 1);
    work->scratch.resize(rowBytes + 1);
    work->chunk.resize(writer::kMaxWriteChunk);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (deflateInit(&work->stream, static_cast<int>(block.level)) != Z_OK) return false;
  work->streamReady = true;
  work->stream.next_out = work->chunk.data() + 8;
  work->stream.avail_out = kIdatData;
  return true;
}

bool Begin(ExportBlockHead& head, writer::BeginCall& call) {
  PngBlock& block = writer::BlockOf<PngBlock>(head);
  const std::optional<PngLayout> layout = LayoutFor(*call.image, ColoursOf(*call.image));
  if (!layout) return false;  // Accepts() let it through: cannot happen
  block.layout = *layout;
  block.level = static_cast<uint32_t>(ReadLevel(call.options));
  call.flags = kFlags;
  if (!StartWork(block)) {
    writer::ReportError(kWriterErrorMemory, head.fileName);
    return false;
  }
  const std::vector<uint8_t> fileHead = FileHead(block.layout, *call.image, ColoursOf(*call.image));
  if (!writer::WriteAll(head, fileHead.data(), static_cast<uint32_t>(fileHead.size())))
    writer::ReportError(kWriterErrorHeader, head.fileName);
  return true;
}

int32_t WriteFailed(PngBlock& block) {
  if (block.broken == 0) writer::ReportError(kWriterErrorWrite, block.head.fileName);
  block.broken = 1;
  return kWriterWriteFailed;
}

// Writes the deflated bytes waiting in the chunk buffer as one IDAT chunk.
bool EmitIdat(PngBlock& block) {
  PngWork& work = *block.work;
  const uint32_t length = kIdatData - work.stream.avail_out;
  work.stream.next_out = work.chunk.data() + 8;
  work.stream.avail_out = kIdatData;
  if (length == 0) return true;
  FrameChunk(work.chunk.data(), "IDAT", length);
  return writer::WriteAll(block.head, work.chunk.data(), length + kChunkOverhead);
}

// Feeds `bytes` (or, with Z_FINISH, the end of the stream) to deflate,
// writing every chunk that fills.
bool Deflate(PngBlock& block, const uint8_t* bytes, uint32_t count, int flush) {
  z_stream& stream = block.work->stream;
  stream.next_in = const_cast<Bytef*>(bytes);
  stream.avail_in = count;
  for (;;) {
    const int result = deflate(&stream, flush);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
    if (stream.avail_out == 0) {
      if (!EmitIdat(block)) return false;
      continue;
    }
    if (flush == Z_FINISH ? result == Z_STREAM_END : stream.avail_in == 0) return true;
  }
}

int32_t WriteRows(ExportBlockHead& head, const writer::RowBlock& rows, ExportProgress* progress) {
  PngBlock& block = writer::BlockOf<PngBlock>(head);
  const PngLayout& layout = block.layout;
  if (block.broken != 0) return kWriterWriteFailed;
  if (rows.stride < layout.rowBytes || rows.count > layout.height - block.rowsWritten) {
    writer::ReportError(kWriterErrorWrite, head.fileName);
    return kWriterWriteFailed;
  }
  PngWork& work = *block.work;
  const bool adaptive = block.level != 0;
  for (uint32_t i = 0; i < rows.count; ++i) {
    if (!writer::AdvanceProgress(progress, rows.stride)) return kWriterCancelled;
    FileRow(layout, rows.rowFromTop(i), work.row.data());
    FilterRow(layout, adaptive, work.row.data(), work.previous.data(), work.filtered.data(),
              work.scratch.data());
    work.row.swap(work.previous);
    if (!Deflate(block, work.filtered.data(), layout.rowBytes + 1, Z_NO_FLUSH))
      return WriteFailed(block);
    ++block.rowsWritten;
  }
  return kWriterOk;
}

int32_t Finish(ExportBlockHead& head, ExportProgress* /*progress*/) {
  PngBlock& block = writer::BlockOf<PngBlock>(head);
  if (block.broken != 0) return kWriterWriteFailed;
  // Rows that never came are written as zero rows, so the file stays readable.
  PngWork& work = *block.work;
  const bool complete = block.rowsWritten == block.layout.height;
  std::memset(work.filtered.data(), 0, work.filtered.size());
  for (uint32_t y = block.rowsWritten; y < block.layout.height; ++y) {
    if (!Deflate(block, work.filtered.data(), block.layout.rowBytes + 1, Z_NO_FLUSH))
      return WriteFailed(block);
  }
  if (!Deflate(block, nullptr, 0, Z_FINISH) || !EmitIdat(block)) return WriteFailed(block);
  std::vector<uint8_t> end;
  AppendChunk(end, "IEND", {});
  if (!writer::WriteAll(head, end.data(), static_cast<uint32_t>(end.size())))
    return WriteFailed(block);
  if (!complete) {
    writer::ReportError(kWriterErrorWrite, head.fileName);
    return kWriterWriteFailed;
  }
  return kWriterOk;
}

void Release(ExportBlockHead& head) {
  PngBlock& block = writer::BlockOf<PngBlock>(head);
  if (block.work == nullptr) return;
  if (block.work->streamReady) deflateEnd(&block.work->stream);
  delete block.work;
  block.work = nullptr;
}

}  // namespace
}  // namespace wrpng

namespace writer {

constinit const FormatDescriptor kWriterFormat{
    .extensionText = "PNG;Portable Network Graphics (*.png)",
    .moduleName = "OV10wrpng.DEL",
    .hostInfoFlags = wrpng::kFlags,
    .beginFlags = wrpng::kFlags,
    .usesOptionGetter = true,
    .blockAllocFlags = GHND,
    .blockSize = sizeof(wrpng::PngBlock),
    .attach = nullptr,
    .acceptsImage = wrpng::Accepts,
    .refusedErrorId = kWriterErrorHeader,
    .openFile = nullptr,
    .begin = wrpng::Begin,
    .writeRows = wrpng::WriteRows,
    .finish = wrpng::Finish,
    .release = wrpng::Release,
};

}  // namespace writer

#define WRPNG_STRINGS(X) WRITER_COMMON_STRINGS(X) WRITER_MEMORY_STRINGS(X)
WRITER_PLUGIN_MODULE(WRPNG_STRINGS)
